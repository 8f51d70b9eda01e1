// The settings record and its configuration file ZUZIvor.ini.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/TransTypes.h"

class CProfileFile;
class CTransCtrl;

// Which tool windows were open when the program last ended (section "STARTUP").
struct StartupFlags {
  int TestPanel = 0;
  int WaveWindow = 0;
  int XYWindow = 0;
  int CommandWindow = 0;
  int MechanicsControlWindow = 0;
  int DebugWindow = 0;
  int SendWindow = 0;
  int LotAnalyzerWindow = 0;
};

// Live analysis in the data views (section "LIVE_ANALYSIS", ours alone).
struct LiveAnalysisSettings {
  int statistics = 0;  // Wave Window statistics shown
  int scans = 100;     // scans the statistics cover
  int panelWidthMm = 0;   // physical panel size for the touch figures (0: not known)
  int panelHeightMm = 0;
};

class CSettingsRecord {
 public:
  static constexpr const char* kFileName = "ZUZIvor.ini";

  int usbCom = 0;   // 0 USB, 1 serial
  int portNum = 1;  // controller COM port
  int xCount = 38;
  int yCount = 22;
  int resolution = 256;
  uint8_t fingerCount = 1;
  int zValue = 0;
  SerialLineSettings comPort;  // controller line; portNum mirrors the field above
  int barcodePortNum = 10;
  SerialLineSettings barcodePort{10, 9600, 8, 0, 0, {}};
  int receiveTimer = 1000;
  int barcodeErrorDisplay = 0;  // read only, never written
  StartupFlags startup;
  LiveAnalysisSettings live;
  // "HID" keys as loaded (entry 0 first identity, entry 1 second identity).
  uint16_t vid[2] = {0, 0};
  uint16_t pid[2] = {0, 0};
  uint16_t osType[2] = {2, 2};
  // USB interface of each identity's pipe ("Interface1", "Interface2"; 1 when absent).
  uint16_t iface[2] = {1, 1};
  // The one device to open when several match ("Device": hidraw node, USB port path or
  // serial number; empty: the first found).
  std::string device;

  // The file that SaveSettings and WriteStartup write: ZUZIvor.ini beside the program
  // unless the program was given another one.
  void SetFilePath(const std::string& path) { filePath_ = path; }
  const std::string& FilePath() const { return filePath_; }
  static std::string DefaultFilePath();  // beside the running program

  // Reads every key from path (missing file or keys give defaults) and fills the
  // controller's identity table and panel counts when ctrl is given. X and Y counts
  // outside 1..255, a resolution outside 1..65535 and a finger count outside 1..12
  // take their defaults. "PortPath" of "SERIAL_PORT", when present, names the
  // controller's serial device directly (comPort.devicePath).
  void LoadSettings(const std::string& path, CTransCtrl* ctrl);
  // Both return false and set LastError() when the file could not be written;
  // the file on disk is then unchanged.
  bool SaveSettings();
  bool WriteStartup();
  // Writes the LIVE_ANALYSIS section alone; every other key stays as it is in the file.
  bool WriteLiveAnalysis();
  const std::string& LastError() const { return lastError_; }

 private:
  // Reads the file, applies edit, writes it back whole; keeps LastError().
  bool Rewrite(const std::function<void(CProfileFile&)>& edit);

  std::string filePath_ = DefaultFilePath();
  std::string lastError_;
};
