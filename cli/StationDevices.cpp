#include "cli/StationDevices.h"

#include "hidpipe/hidpipe_diag.h"
#include "link/LinkDevice.h"

namespace {

// Far above the largest descriptor the kernel keeps (4096 bytes).
constexpr int kMaxDescriptorBytes = 1 << 16;

bool Configured(const CSettingsRecord& s, int i) {
  return s.vid[i] != 0 && s.pid[i] != 0;
}

}  // namespace

std::vector<HidDeviceDesc> HidrawDevices() {
  std::vector<HidDeviceDesc> devices(16);
  for (;;) {
    const int n = hidListDevices(devices.data(), static_cast<int>(devices.size()));
    const bool fits = size_t(n) <= devices.size();
    devices.resize(size_t(n));
    if (fits) return devices;
  }
}

bool AnalyseDevice(const HidDeviceDesc& d, DescriptorAnalysis& a, std::string& error) {
  std::vector<uint8_t> bytes(kMaxDescriptorBytes);
  const int n = hidDeviceDescriptor(d.path, bytes.data(), kMaxDescriptorBytes);
  if (n < 0) {
    error = hidLastError();
    return false;
  }
  bytes.resize(size_t(n));
  a = AnalyseDescriptor(bytes);
  return true;
}

std::vector<StationDevice> ScanStation(const CSettingsRecord& settings) {
  std::vector<StationDevice> out;
  for (const HidDeviceDesc& d : HidrawDevices()) {
    StationDevice sd;
    sd.info = d;
    DescriptorAnalysis a(nullptr, &hidFreeDescriptorAnalysis);
    std::string error;
    if (AnalyseDevice(d, a, error)) {
      sd.usable = a->usable != 0;
      sd.layout = sd.usable ? LayoutSummary(a->pipe) : a->reason;
    } else {
      sd.layout = "cannot read the report descriptor: " + error;
    }
    for (int i = 0; i < 2 && sd.identity < 0; ++i) {
      if (!Configured(settings, i)) continue;
      if (hidDeviceMatches(&d, settings.vid[i], settings.pid[i], settings.iface[i]))
        sd.identity = i;
      else if (d.vid == settings.vid[i] && d.pid == settings.pid[i] && sd.otherInterface < 0)
        sd.otherInterface = i;
    }
    if (sd.identity >= 0) sd.otherInterface = -1;
    out.push_back(std::move(sd));
  }
  return out;
}

std::vector<StationDevice> Candidates(const std::vector<StationDevice>& devices,
                                      const CSettingsRecord& settings) {
  std::vector<StationDevice> out;
  for (const StationDevice& d : devices)
    if (d.identity >= 0 && d.usable && hidDeviceChosen(&d.info, settings.device.c_str()))
      out.push_back(d);
  return out;
}

std::string DeviceSummary(const HidDeviceDesc& d) {
  LinkDevice device{d.path, hidBusName(d.bus), d.vid, d.pid, d.iface, d.serial, d.port};
  return LinkDeviceText(device);
}
