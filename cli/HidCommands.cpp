#include "cli/HidCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/HidReport.h"
#include "cli/StationDevices.h"
#include "hidpipe/hidpipe.h"
#include "hidpipe/hidpipe_diag.h"
#include "link/SerialPortMap.h"

namespace {

// A descriptor file's contents; text for hexadecimal, so well above the 4096-byte limit.
constexpr size_t kMaxFileBytes = 1 << 20;

std::string Hex4(uint16_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04X", v);
  return b;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}


// At most kMaxFileBytes of a stream; name is how errors call it.
bool ReadLimited(std::istream& in, const std::string& name, std::string& all, std::string& error) {
  char chunk[4096];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    all.append(chunk, static_cast<size_t>(in.gcount()));
    if (all.size() > kMaxFileBytes) {
      error = name + ": larger than " + std::to_string(kMaxFileBytes) + " bytes";
      return false;
    }
  }
  if (in.bad()) {
    error = name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ReadDescriptorFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::string all;
  if (path == "-") {
    if (!ReadLimited(std::cin, "standard input", all, error)) return false;
  } else {
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      error = path + ": " + (errno != 0 ? std::strerror(errno) : "cannot open");
      return false;
    }
    if (!ReadLimited(file, path, all, error)) return false;
  }
  const std::vector<uint8_t> contents(all.begin(), all.end());
  if (DecodeDescriptor(contents, bytes, error)) return true;
  error = (path == "-" ? "standard input" : path) + ": " + error;
  return false;
}

// One line of JSON; bytes that are not UTF-8 (a file name) are replaced, never thrown over.
std::string Dump(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json DeviceJson(const HidDeviceDesc& d) {
  return {{"path", std::string(d.path)},  {"vid", Hex4(d.vid)},
          {"pid", Hex4(d.pid)},              {"bus", hidBusName(d.bus)},
          {"interface", d.iface},            {"name", std::string(d.product)},
          {"serial", std::string(d.serial)}, {"port", std::string(d.port)}};
}

std::string DeviceLine(const HidDeviceDesc& d) {
  std::string line = DeviceSummary(d);
  if (d.product[0] != '\0') line += "  \"" + std::string(d.product) + "\"";
  return line;
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
    std::cout << Dump(DescriptorJson(*a)) << "\n";
  else
    std::cout << DescriptorText(*a);
  return a->usable ? kExitPass : kExitFail;
}

int HidOfDevices(bool json) {
  const std::vector<HidDeviceDesc> devices = HidrawDevices();
  if (devices.empty()) {
    std::cerr << "vantrel: no hidraw device present\n";
    return kExitCannotRun;
  }
  bool anyUsable = false, anyRead = false;
  for (size_t i = 0; i < devices.size(); ++i) {
    const HidDeviceDesc& d = devices[i];
    DescriptorAnalysis a(nullptr, &hidFreeDescriptorAnalysis);
    std::string error;
    const bool read = AnalyseDevice(d, a, error);
    anyRead = anyRead || read;
    anyUsable = anyUsable || (read && a->usable);
    if (json) {
      nlohmann::json j = read ? DescriptorJson(*a) : nlohmann::json{{"usable", false}};
      if (!read) j["reason"] = "cannot read the report descriptor: " + error;
      j["device"] = DeviceJson(d);
      std::cout << Dump(j) << "\n";
    } else {
      std::cout << (i ? "\n" : "") << DeviceLine(d) << "\n"
                << (read ? DescriptorText(*a) : "cannot read the report descriptor: " + error + "\n");
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
    if (hidOpenMyDevice(settings.vid[i], settings.pid[i], settings.iface[i]) == 0) continue;
    hidCloseMyDevice();
    std::cout << "controller  " << Hex4(settings.vid[i]) << ":" << Hex4(settings.pid[i])
              << "  simulator  configured (VID" << i + 1 << "/PID" << i + 1 << ")\n";
    ++found;
  }
  hidClose();
  return found;
}

// Configured controllers first, then pipes nobody configured; devices without a usable
// pipe only where they carry a configured identity (on stderr, with the reason).
int ListHidraw(const CSettingsRecord& settings) {
  const std::vector<StationDevice> devices = ScanStation(settings);
  int found = 0;
  for (const StationDevice& d : devices) {
    if (d.identity < 0) continue;
    if (!d.usable) {
      std::cerr << "vantrel: " << DeviceSummary(d.info) << " (configured) has no usable pipe: "
                << d.layout << " (see vantrel hid)\n";
      continue;
    }
    const std::string n = std::to_string(d.identity + 1);
    std::cout << "controller  " << DeviceSummary(d.info) << "  " << d.layout
              << "  configured (VID" << n << "/PID" << n << ")\n";
    ++found;
  }
  for (const StationDevice& d : devices) {
    if (d.identity >= 0 || !d.usable) continue;
    std::cout << "vendor pipe, not configured  " << DeviceSummary(d.info) << "  " << d.layout;
    if (d.otherInterface >= 0) {
      const std::string n = std::to_string(d.otherInterface + 1);
      std::cout << "  (VID" << n << "/PID" << n << " on interface " << d.info.iface
                << ": set Interface" << n << "=" << d.info.iface << " or use --interface "
                << d.info.iface << ")";
    }
    std::cout << "\n";
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
  // Only a configured controller counts: a serial port is listed, but may be anything.
  int found = sim != nullptr && *sim != '\0' ? ListSimulated(settings) : ListHidraw(settings);
  for (int n = 1; n <= 20; ++n) {
    const std::string path = ComDevicePath(n);
    if (path.empty() || !Exists(path)) continue;
    std::cout << "serial port  COM" << n << "  " << path << "\n";
  }
  if (!settings.comPort.devicePath.empty()) {
    const bool there = Exists(settings.comPort.devicePath);
    std::cout << "serial port  " << settings.comPort.devicePath << "  "
              << (there ? "present" : "absent") << "  configured\n";
    if (settings.usbCom != 0 && there) ++found;
  }
  if (found == 0) std::cerr << "vantrel: no configured controller found\n";
  return found > 0 ? kExitPass : kExitFail;
}
