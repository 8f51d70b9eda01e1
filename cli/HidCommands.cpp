#include "cli/HidCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "cli/HidReport.h"
#include "hidpipe/DeviceMatch.h"
#include "hidpipe/HidrawBackend.h"
#include "hidpipe/NodeDescriptor.h"
#include "hidpipe/hidpipe.h"
#include "link/SerialPortMap.h"

using hidpipe::HidDeviceInfo;

namespace {

// A descriptor file's contents; text for hexadecimal, so well above the 4096-byte limit.
constexpr size_t kMaxFileBytes = 1 << 20;
// The interface the USB link opens (CTransUSB).
constexpr uint32_t kLinkInterface = 1;

std::string Hex4(uint16_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04X", v);
  return b;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// "/dev/hidraw3" -> its report_descriptor in sysfs (readable without access to the node).
std::string SysfsDescriptor(const std::string& devicePath) {
  const size_t slash = devicePath.rfind('/');
  return "/sys/class/hidraw/" + devicePath.substr(slash == std::string::npos ? 0 : slash + 1) +
         "/device/report_descriptor";
}

bool ReadDescriptorFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::vector<uint8_t> contents;
  if (path == "-") {
    std::string all;
    char chunk[4096];
    while (std::cin.read(chunk, sizeof chunk) || std::cin.gcount() > 0) {
      all.append(chunk, static_cast<size_t>(std::cin.gcount()));
      if (all.size() > kMaxFileBytes) {
        error = "standard input: larger than " + std::to_string(kMaxFileBytes) + " bytes";
        return false;
      }
    }
    contents.assign(all.begin(), all.end());
  } else if (!hidpipe::readFileBytes(path, kMaxFileBytes, contents, error)) {
    return false;
  }
  if (DecodeDescriptor(contents, bytes, error)) return true;
  error = (path == "-" ? "standard input" : path) + ": " + error;
  return false;
}

// One line of JSON; bytes that are not UTF-8 (a file name) are replaced, never thrown over.
std::string Dump(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json DeviceJson(const HidDeviceInfo& d) {
  return {{"path", d.path},       {"vid", Hex4(d.vid)},       {"pid", Hex4(d.pid)},
          {"bus", hidpipe::busName(d.bus)}, {"interface", d.iface}, {"name", d.product}};
}

std::string DeviceLine(const HidDeviceInfo& d) {
  std::string line = d.path + "  " + Hex4(d.vid) + ":" + Hex4(d.pid) + "  " +
                     hidpipe::busName(d.bus);
  if (d.bus == hidpipe::kBusUsb) line += " interface " + std::to_string(d.iface);
  if (!d.product.empty()) line += "  \"" + d.product + "\"";
  return line;
}

std::vector<HidDeviceInfo> HidrawDevices() {
  return hidpipe::HidrawBackend::enumerate(0, 0);
}

// One device: its descriptor from sysfs, analysed. False when it could not be read.
bool AnalyseDevice(const HidDeviceInfo& d, DescriptorAnalysis& a, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!hidpipe::readFileBytes(SysfsDescriptor(d.path), kMaxFileBytes, bytes, error)) return false;
  a = AnalyseDescriptor(bytes);
  return true;
}

int HidOfFile(const std::string& file, bool json) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadDescriptorFile(file, bytes, error)) {
    if (json) std::cout << Dump({{"usable", false}, {"reason", error}}) << "\n";
    std::cerr << "vantrel: " << error << "\n";
    return kExitCannotRun;
  }
  const DescriptorAnalysis a = AnalyseDescriptor(bytes);
  if (json)
    std::cout << Dump(DescriptorJson(a)) << "\n";
  else
    std::cout << DescriptorText(a);
  return a.Usable() ? kExitPass : kExitFail;
}

int HidOfDevices(bool json) {
  const std::vector<HidDeviceInfo> devices = HidrawDevices();
  if (devices.empty()) {
    std::cerr << "vantrel: no hidraw device present\n";
    return kExitCannotRun;
  }
  bool anyUsable = false, anyRead = false;
  for (size_t i = 0; i < devices.size(); ++i) {
    const HidDeviceInfo& d = devices[i];
    DescriptorAnalysis a;
    std::string error;
    const bool read = AnalyseDevice(d, a, error);
    anyRead = anyRead || read;
    anyUsable = anyUsable || (read && a.Usable());
    if (json) {
      nlohmann::json j = read ? DescriptorJson(a) : nlohmann::json{{"usable", false}};
      if (!read) j["reason"] = "cannot read the report descriptor: " + error;
      j["device"] = DeviceJson(d);
      std::cout << Dump(j) << "\n";
    } else {
      std::cout << (i ? "\n" : "") << DeviceLine(d) << "\n"
                << (read ? DescriptorText(a) : "cannot read the report descriptor: " + error + "\n");
    }
    if (!std::cout) break;  // the reader went away (| head)
  }
  if (anyUsable) return kExitPass;
  return anyRead ? kExitFail : kExitCannotRun;
}

// Through the simulator there are no hidraw nodes: the configured identities it answers.
int ListSimulated(const CSettingsRecord& settings) {
  int found = 0;
  hidOpen(nullptr);
  for (int i = 0; i < 2; ++i) {
    if (settings.vid[i] == 0 || settings.pid[i] == 0) continue;
    if (i == 1 && settings.vid[1] == settings.vid[0] && settings.pid[1] == settings.pid[0]) break;
    if (hidOpenMyDevice(settings.vid[i], settings.pid[i], kLinkInterface) == 0) continue;
    hidCloseMyDevice();
    std::cout << "usb     " << Hex4(settings.vid[i]) << ":" << Hex4(settings.pid[i])
              << "  simulator  configured\n";
    ++found;
  }
  hidClose();
  return found;
}

int ListHidraw(const CSettingsRecord& settings) {
  int found = 0;
  for (const HidDeviceInfo& d : HidrawDevices()) {
    bool configured = false;
    for (int i = 0; i < 2; ++i)
      configured = configured ||
                   hidpipe::deviceMatches(d, settings.vid[i], settings.pid[i], kLinkInterface);
    DescriptorAnalysis a;
    std::string error;
    if (!AnalyseDevice(d, a, error) || !a.Usable()) {
      if (configured)
        std::cerr << "vantrel: " << d.path << " (" << Hex4(d.vid) << ":" << Hex4(d.pid)
                  << ", configured) has no usable pipe: "
                  << (error.empty() ? a.Reason() : error) << " (see vantrel hid)\n";
      continue;
    }
    std::string iface = d.bus == hidpipe::kBusUsb ? "interface " + std::to_string(d.iface) : "-";
    std::cout << "usb     " << Hex4(d.vid) << ":" << Hex4(d.pid) << "  " << hidpipe::busName(d.bus)
              << "  " << iface << "  " << d.path << "  \""
              << (d.product.empty() ? "?" : d.product) << "\"  "
              << LayoutSummary(a.choice.layout) << (configured ? "  configured" : "") << "\n";
    ++found;
  }
  return found;
}

}  // namespace

int RunHid(const std::string& descriptorFile, bool json) {
  return descriptorFile.empty() ? HidOfDevices(json) : HidOfFile(descriptorFile, json);
}

int RunList(const GlobalOptions& g) {
  CSettingsRecord settings;
  LoadLinkSettings(g.link, settings);
  const char* sim = std::getenv("HIDPIPE_SIM");
  int found = sim != nullptr && *sim != '\0' ? ListSimulated(settings) : ListHidraw(settings);
  for (int n = 1; n <= 20; ++n) {
    const std::string path = ComDevicePath(n);
    if (path.empty() || !Exists(path)) continue;
    std::cout << "serial  COM" << n << (n < 10 ? "  " : " ") << "    " << path << "\n";
    ++found;
  }
  if (!settings.comPort.devicePath.empty()) {
    const bool there = Exists(settings.comPort.devicePath);
    std::cout << "serial  " << settings.comPort.devicePath << "  "
              << (there ? "present" : "absent") << "  configured\n";
    found += there ? 1 : 0;
  }
  if (found == 0) std::cerr << "vantrel: no controller found\n";
  return found > 0 ? kExitPass : kExitFail;
}
