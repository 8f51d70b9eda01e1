// The HID devices of a station as the command line sees them: which are the configured
// controllers, which carry a protocol pipe nobody configured, and which controller a run
// would open. `list` shows them; opening a controller refuses to guess between several.
#pragma once

#include <string>
#include <vector>

#include "cli/HidReport.h"
#include "control/CSettingsRecord.h"
#include "hidpipe/hidpipe.h"

struct StationDevice {
  HidDeviceDesc info{};
  bool usable = false;   // a report layout the protocol can use
  std::string layout;    // the layout chosen, or why there is none
  int identity = -1;     // the configured identity (0: VID1/PID1, 1: VID2/PID2) it is, or -1
  int otherInterface = -1;  // the identity it has, on another USB interface than configured
};

// Every hidraw device present, in a stable order (bus, then node), with its verdict.
std::vector<StationDevice> ScanStation(const CSettingsRecord& settings);

// The configured controllers a run would choose from: configured identity, usable, and
// named by settings.device when that is set.
std::vector<StationDevice> Candidates(const std::vector<StationDevice>& devices,
                                      const CSettingsRecord& settings);

// "/dev/hidraw3  USB  227D:0102  interface 1  port 1-2  serial SN-A"
std::string DeviceSummary(const HidDeviceDesc& d);

// The hidraw devices present, in a stable order (bus, then node).
std::vector<HidDeviceDesc> HidrawDevices();

// A device's report descriptor, analysed; false with error when it cannot be read.
bool AnalyseDevice(const HidDeviceDesc& d, DescriptorAnalysis& a, std::string& error);
