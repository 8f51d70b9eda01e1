#include "CSettingsRecord.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <filesystem>

#include "CProfileFile.h"
#include "CSettingsLocation.h"
#include "link/CTransCtrl.h"

namespace {

constexpr const char* kSetting = "SETTING";
constexpr const char* kSerial = "SERIAL_PORT";
constexpr const char* kBarcode = "BARCD_SERIAL_PORT";
constexpr const char* kStartup = "STARTUP";
constexpr const char* kHid = "HID";
constexpr const char* kLive = "LIVE_ANALYSIS";

// An integer of the file that must lie in [lo, hi]; anything else gives def.
int ReadInRange(const CProfileFile& f, const char* section, const char* key, int def, int lo,
                int hi) {
  int v = f.GetInt(section, key, def);
  return (v < lo || v > hi) ? def : v;
}

void ReadLine(const CProfileFile& f, const char* section, const SerialLineSettings& defaults,
              SerialLineSettings& line) {
  line.baudRate =
      static_cast<uint32_t>(f.GetInt(section, "BaudRate", static_cast<int>(defaults.baudRate)));
  line.byteSize = static_cast<uint8_t>(f.GetInt(section, "ByteSize", defaults.byteSize));
  line.parity = static_cast<uint8_t>(f.GetInt(section, "Parity", defaults.parity));
  line.stopBits = static_cast<uint8_t>(f.GetInt(section, "StopBits", defaults.stopBits));
}

void WriteLine(CProfileFile& f, const char* section, const SerialLineSettings& line) {
  f.SetInt(section, "BaudRate", static_cast<int>(line.baudRate));
  f.SetInt(section, "ByteSize", line.byteSize);
  f.SetInt(section, "Parity", line.parity);
  f.SetInt(section, "StopBits", line.stopBits);
}

struct StartupKey {
  const char* key;
  int StartupFlags::*flag;
};

constexpr StartupKey kStartupKeys[] = {
    {"TestPanel", &StartupFlags::TestPanel},
    {"WaveWindow", &StartupFlags::WaveWindow},
    {"XYWindow", &StartupFlags::XYWindow},
    {"CommandWindow", &StartupFlags::CommandWindow},
    {"MechanicsControlWindow", &StartupFlags::MechanicsControlWindow},
    {"DebugWindow", &StartupFlags::DebugWindow},
    {"SendWindow", &StartupFlags::SendWindow},
    {"LotAnalyzerWindow", &StartupFlags::LotAnalyzerWindow},
};

}  // namespace

std::string CSettingsRecord::DefaultFilePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return kFileName;
  std::string exe(buf, static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return kFileName;
  return exe.substr(0, slash + 1) + kFileName;
}

void CSettingsRecord::LoadSettings(const std::string& path, CTransCtrl* ctrl) {
  CProfileFile f;
  std::string error;
  if (!f.Load(path, &error)) f = CProfileFile();  // unreadable: every value takes its default

  const CSettingsRecord def;
  usbCom = f.GetInt(kSetting, "Usb_Com", def.usbCom);
  portNum = f.GetInt(kSetting, "PortNum", def.portNum);
  // Counts and resolution outside what views and decoding can use fall back to defaults.
  xCount = ReadInRange(f, kSetting, "X_Count", def.xCount, 1, 255);
  yCount = ReadInRange(f, kSetting, "Y_Count", def.yCount, 1, 255);
  resolution = ReadInRange(f, kSetting, "XY_Coord_Resolution", def.resolution, 1, 65535);
  fingerCount =
      static_cast<uint8_t>(ReadInRange(f, kSetting, "Finger_Count", def.fingerCount, 1, 12));
  zValue = f.GetInt(kSetting, "Z_Value", def.zValue);
  ReadLine(f, kSerial, def.comPort, comPort);
  comPort.devicePath = f.GetString(kSerial, "PortPath").value_or("");
  barcodePortNum = f.GetInt(kSetting, "BarCDReaderPortNum", def.barcodePortNum);
  ReadLine(f, kBarcode, def.barcodePort, barcodePort);
  receiveTimer = f.GetInt(kBarcode, "ReceiveTimer", def.receiveTimer);
  barcodeErrorDisplay = f.GetInt(kSetting, "Barcode_Reader_Error_Display", def.barcodeErrorDisplay);
  for (const StartupKey& k : kStartupKeys) startup.*k.flag = f.GetInt(kStartup, k.key, 0);
  live.statistics = ReadInRange(f, kLive, "Statistics", def.live.statistics, 0, 1);
  live.scans = ReadInRange(f, kLive, "Scans", def.live.scans, 1, 10000);
  live.panelWidthMm = ReadInRange(f, kLive, "PanelWidthMm", 0, 0, 10000);
  live.panelHeightMm = ReadInRange(f, kLive, "PanelHeightMm", 0, 0, 10000);
  for (int i = 0; i < 2; ++i) {
    const std::string n = std::to_string(i + 1);
    vid[i] = static_cast<uint16_t>(f.GetInt(kHid, "VID" + n, def.vid[i]));
    pid[i] = static_cast<uint16_t>(f.GetInt(kHid, "PID" + n, def.pid[i]));
    osType[i] = static_cast<uint16_t>(f.GetInt(kHid, "OSType" + n, def.osType[i]));
    iface[i] = static_cast<uint16_t>(ReadInRange(f, kHid, ("Interface" + n).c_str(), def.iface[i], 0, 255));
  }
  device = f.GetString(kHid, "Device").value_or("");
  while (!device.empty() && std::isspace(static_cast<unsigned char>(device.back())))
    device.pop_back();
  while (!device.empty() && std::isspace(static_cast<unsigned char>(device.front())))
    device.erase(0, 1);

  // Both port dialogs open on the loaded values.
  comPort.portNum = portNum;
  barcodePort.portNum = barcodePortNum;

  if (ctrl) {
    ctrl->SetIdentity(0, vid[0], pid[0], osType[0]);
    ctrl->SetIdentity(1, vid[1], pid[1], osType[1]);
    ctrl->SetIdentity(2, vid[1], pid[1], osType[1]);
    ctrl->SetInterface(0, iface[0]);
    ctrl->SetInterface(1, iface[1]);
    ctrl->SetInterface(2, iface[1]);
    ctrl->SetDeviceChoice(device);
    ctrl->SetPanelCounts(xCount, yCount, resolution);
  }
}

bool CSettingsRecord::Rewrite(const std::function<void(CProfileFile&)>& edit) {
  CProfileFile f;
  std::string error;
  if (!f.Load(filePath_, &error)) {
    // Never replace a file we could not read: its other contents would be lost.
    lastError_ = error;
    return false;
  }
  edit(f);
  // The first save to the user's configuration folder makes our folder there; any other
  // folder that is missing is an error to report.
  if (filePath_ == CSettingsLocation::UserFile()) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(filePath_).parent_path(), ec);
  }
  if (!f.Save(filePath_, &error)) {
    lastError_ = error;
    return false;
  }
  lastError_.clear();
  return true;
}

bool CSettingsRecord::SaveSettings() {
  return Rewrite([this](CProfileFile& f) {
    f.SetInt(kSetting, "Usb_Com", usbCom);
    f.SetInt(kSetting, "PortNum", portNum);
    f.SetInt(kSetting, "X_Count", xCount);
    f.SetInt(kSetting, "Y_Count", yCount);
    f.SetInt(kSetting, "XY_Coord_Resolution", resolution);
    f.SetInt(kSetting, "Finger_Count", fingerCount);
    f.SetInt(kSetting, "Z_Value", zValue);
    WriteLine(f, kSerial, comPort);
    f.SetInt(kSetting, "BarCDReaderPortNum", barcodePortNum);
    WriteLine(f, kBarcode, barcodePort);
    f.SetInt(kBarcode, "ReceiveTimer", receiveTimer);
  });
}

bool CSettingsRecord::WriteStartup() {
  return Rewrite([this](CProfileFile& f) {
    for (const StartupKey& k : kStartupKeys) f.SetInt(kStartup, k.key, startup.*k.flag);
  });
}

bool CSettingsRecord::WriteLiveAnalysis() {
  return Rewrite([this](CProfileFile& f) {
    f.SetInt(kLive, "Statistics", live.statistics);
    f.SetInt(kLive, "Scans", live.scans);
  });
}
