#include "cli/StationDevices.h"

#include "cli/HidReport.h"
#include "hidpipe/HidrawBackend.h"
#include "hidpipe/NodeDescriptor.h"
#include "link/LinkDevice.h"

namespace {

constexpr size_t kMaxDescriptorBytes = 1 << 16;

bool Configured(const CSettingsRecord& s, int i) {
  return s.vid[i] != 0 && s.pid[i] != 0;
}

}  // namespace

std::vector<StationDevice> ScanStation(const CSettingsRecord& settings) {
  std::vector<StationDevice> out;
  for (const hidpipe::HidDeviceInfo& d : hidpipe::HidrawBackend::enumerate(0, 0)) {
    StationDevice sd;
    sd.info = d;
    std::vector<uint8_t> bytes;
    std::string error;
    if (hidpipe::readFileBytes(hidpipe::sysfsDescriptorOfNode(d.path), kMaxDescriptorBytes, bytes,
                               error)) {
      const DescriptorAnalysis a = AnalyseDescriptor(bytes);
      sd.usable = a.Usable();
      sd.layout = sd.usable ? LayoutSummary(a.choice.layout) : a.Reason();
    } else {
      sd.layout = "cannot read the report descriptor: " + error;
    }
    for (int i = 0; i < 2 && sd.identity < 0; ++i) {
      if (!Configured(settings, i)) continue;
      if (hidpipe::deviceMatches(d, settings.vid[i], settings.pid[i], settings.iface[i]))
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
    if (d.identity >= 0 && d.usable && hidpipe::deviceChosen(d.info, settings.device))
      out.push_back(d);
  return out;
}

std::string DeviceSummary(const hidpipe::HidDeviceInfo& d) {
  LinkDevice device{d.path, hidpipe::busName(d.bus), d.vid, d.pid,
                    d.bus == hidpipe::kBusUsb ? d.iface : -1, d.serial, d.port};
  return LinkDeviceText(device);
}
