#include <gtest/gtest.h>

#include "TempDir.h"
#include "control/CSettingsRecord.h"
#include "link/CTransCtrl.h"

namespace {

TEST(SettingsRecord, DefaultsWithoutAFile) {
  TempDir dir;
  CTransCtrl ctrl;
  ctrl.SetIdentity(2, 0x1111, 0x2222, 7);
  CSettingsRecord r;
  r.usbCom = 1;
  r.xCount = 3;
  r.LoadSettings(dir.File("ZUZIvor.ini"), &ctrl);

  EXPECT_EQ(r.usbCom, 0);
  EXPECT_EQ(r.portNum, 1);
  EXPECT_EQ(r.xCount, 38);
  EXPECT_EQ(r.yCount, 22);
  EXPECT_EQ(r.resolution, 256);
  EXPECT_EQ(r.comPort.portNum, 1);
  EXPECT_EQ(r.comPort.baudRate, 38400u);
  EXPECT_EQ(r.comPort.byteSize, 8);
  EXPECT_EQ(r.comPort.parity, 0);
  EXPECT_EQ(r.comPort.stopBits, 0);
  EXPECT_TRUE(r.comPort.devicePath.empty());
  EXPECT_EQ(r.barcodePortNum, 10);
  EXPECT_EQ(r.barcodePort.portNum, 10);
  EXPECT_EQ(r.barcodePort.baudRate, 9600u);
  EXPECT_EQ(r.receiveTimer, 1000);
  for (int e = 0; e < 3; ++e) {
    EXPECT_EQ(ctrl.VendorId(e), 0);
    EXPECT_EQ(ctrl.ProductId(e), 0);
    EXPECT_EQ(ctrl.OSType(e), 2);
  }
  EXPECT_EQ(ctrl.Panel().xCount, 38);
  EXPECT_EQ(ctrl.Panel().yCount, 22);
  EXPECT_EQ(ctrl.Panel().resolution, 256);
}

TEST(SettingsRecord, LoadsValuesAndFillsTheIdentityTable) {
  TempDir dir;
  const std::string path = dir.File("other.ini");
  TempDir::Write(path,
                 "[setting]\r\n"
                 "USB_COM=1\r\n"
                 "PortNum=4 (ttyUSB3)\r\n"
                 "X_Count=40abc\r\n"
                 "Y_Count=0\r\n"  // out of range: default
                 "XY_Coord_Resolution=512\r\n"
                 "Finger_Count=13\r\n"  // out of range: default
                 "BarCDReaderPortNum=12\r\n"
                 "[SERIAL_PORT]\r\n"
                 "BaudRate=115200\r\n"
                 "Parity=2\r\n"
                 "PortPath = /dev/pts/7 \r\n"
                 "[STARTUP]\r\n"
                 "WaveWindow=1\r\n"
                 "LotAnalyzerWindow=1\r\n"
                 "[HID]\r\n"
                 "VID1=8829\r\n"
                 "PID1=258\r\n"
                 "VID2=4660\r\n"
                 "PID2=86\r\n"
                 "OSType2=1\r\n");
  CTransCtrl ctrl;
  CSettingsRecord r;
  r.LoadSettings(path, &ctrl);

  EXPECT_EQ(r.usbCom, 1);
  EXPECT_EQ(r.portNum, 4);
  EXPECT_EQ(r.comPort.portNum, 4);
  EXPECT_EQ(r.xCount, 40);
  EXPECT_EQ(r.yCount, 22);
  EXPECT_EQ(r.resolution, 512);
  EXPECT_EQ(r.fingerCount, 1);
  EXPECT_EQ(r.barcodePort.portNum, 12);
  EXPECT_EQ(r.comPort.baudRate, 115200u);
  EXPECT_EQ(r.comPort.parity, 2);
  EXPECT_EQ(r.comPort.devicePath, "/dev/pts/7");
  EXPECT_EQ(r.startup.WaveWindow, 1);
  EXPECT_EQ(r.startup.LotAnalyzerWindow, 1);
  EXPECT_EQ(r.startup.XYWindow, 0);
  EXPECT_EQ(ctrl.VendorId(0), 8829);
  EXPECT_EQ(ctrl.ProductId(0), 258);
  EXPECT_EQ(ctrl.OSType(0), 2);
  for (int e = 1; e < 3; ++e) {
    EXPECT_EQ(ctrl.VendorId(e), 4660);
    EXPECT_EQ(ctrl.ProductId(e), 86);
    EXPECT_EQ(ctrl.OSType(e), 1);
  }
  EXPECT_EQ(ctrl.Panel().xCount, 40);
  EXPECT_EQ(ctrl.Panel().resolution, 512);
  EXPECT_EQ(r.FilePath(),
            CSettingsRecord::DefaultFilePath());  // loading elsewhere never moves saving
}

TEST(SettingsRecord, SaveWritesItsKeysInOrderIntoANewFile) {
  TempDir dir;
  CSettingsRecord r;
  r.SetFilePath(dir.File("ZUZIvor.ini"));
  r.usbCom = 1;
  r.portNum = 3;
  r.comPort.baudRate = 9600;
  r.comPort.devicePath = "/dev/pts/2";  // read only, never written
  r.startup.XYWindow = 1;               // written at exit only
  ASSERT_TRUE(r.SaveSettings()) << r.LastError();
  EXPECT_EQ(TempDir::Read(r.FilePath()),
            "[SETTING]\n"
            "Usb_Com=1\n"
            "PortNum=3\n"
            "X_Count=38\n"
            "Y_Count=22\n"
            "XY_Coord_Resolution=256\n"
            "Finger_Count=1\n"
            "Z_Value=0\n"
            "BarCDReaderPortNum=10\n"
            "[SERIAL_PORT]\n"
            "BaudRate=9600\n"
            "ByteSize=8\n"
            "Parity=0\n"
            "StopBits=0\n"
            "[BARCD_SERIAL_PORT]\n"
            "BaudRate=9600\n"
            "ByteSize=8\n"
            "Parity=0\n"
            "StopBits=0\n"
            "ReceiveTimer=1000\n");
}

TEST(SettingsRecord, SaveAndStartupKeepAForeignFile) {
  TempDir dir;
  const std::string path = dir.File("ZUZIvor.ini");
  TempDir::Write(path,
                 "; site settings\r\n"
                 "[HID]\r\n"
                 "VID1=8829\r\n"
                 "\r\n"
                 "[SETTING]\r\n"
                 "Usb_Com=0\r\n"
                 "X_Count=40 electrodes\r\n"
                 "Barcode_Reader_Error_Display=1\r\n"
                 "Site=Lab 3\r\n"
                 "[SERIAL_PORT]\r\n"
                 "PortPath=/dev/pts/9\r\n"
                 "BaudRate=115200\r\n");
  CSettingsRecord r;
  r.SetFilePath(path);
  r.LoadSettings(path, nullptr);
  r.usbCom = 1;
  r.barcodeErrorDisplay = 0;
  r.startup.SendWindow = 1;
  ASSERT_TRUE(r.SaveSettings()) << r.LastError();
  ASSERT_TRUE(r.WriteStartup()) << r.LastError();
  EXPECT_EQ(TempDir::Read(path),
            "; site settings\r\n"
            "[HID]\r\n"
            "VID1=8829\r\n"
            "\r\n"
            "[SETTING]\r\n"
            "Usb_Com=1\r\n"
            "X_Count=40\r\n"
            "Barcode_Reader_Error_Display=1\r\n"
            "Site=Lab 3\r\n"
            "PortNum=1\r\n"
            "Y_Count=22\r\n"
            "XY_Coord_Resolution=256\r\n"
            "Finger_Count=1\r\n"
            "Z_Value=0\r\n"
            "BarCDReaderPortNum=10\r\n"
            "[SERIAL_PORT]\r\n"
            "PortPath=/dev/pts/9\r\n"
            "BaudRate=115200\r\n"
            "ByteSize=8\r\n"
            "Parity=0\r\n"
            "StopBits=0\r\n"
            "[BARCD_SERIAL_PORT]\r\n"
            "BaudRate=9600\r\n"
            "ByteSize=8\r\n"
            "Parity=0\r\n"
            "StopBits=0\r\n"
            "ReceiveTimer=1000\r\n"
            "[STARTUP]\r\n"
            "TestPanel=0\r\n"
            "WaveWindow=0\r\n"
            "XYWindow=0\r\n"
            "CommandWindow=0\r\n"
            "MechanicsControlWindow=0\r\n"
            "DebugWindow=0\r\n"
            "SendWindow=1\r\n"
            "LotAnalyzerWindow=0\r\n");
}

TEST(SettingsRecord, FailedSaveReportsAndKeepsTheFile) {
  TempDir dir;
  CSettingsRecord r;
  r.SetFilePath(dir.File("missing/ZUZIvor.ini"));
  EXPECT_FALSE(r.SaveSettings());
  EXPECT_FALSE(r.LastError().empty());
  EXPECT_FALSE(r.WriteStartup());

  r.SetFilePath(dir.File("ZUZIvor.ini"));
  EXPECT_TRUE(r.WriteStartup());
  EXPECT_TRUE(r.LastError().empty());
}

TEST(SettingsRecord, FileLivesBesideTheProgram) {
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string dir = exe.substr(0, exe.rfind('/') + 1);
  EXPECT_EQ(CSettingsRecord::DefaultFilePath(), dir + "ZUZIvor.ini");
  EXPECT_EQ(CSettingsRecord().FilePath(), dir + "ZUZIvor.ini");
}

}  // namespace
