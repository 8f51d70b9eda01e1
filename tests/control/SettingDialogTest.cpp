#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <vector>

#include "AnswerPortDialog.h"
#include "TempDir.h"
#include "control/CSetSerialPortDlg.h"
#include "control/CSettingDialog.h"
#include "control/IAppServices.h"
#include "link/CTransCtrl.h"
#include "link/SerialPortMap.h"

namespace {

// What the fake links of one test saw.
struct LinkLog {
  std::mutex mutex;
  std::vector<int> opened;  // link types, in order
  SerialLineSettings lastSerial;
  std::atomic<int> openResult{1};
  std::atomic<bool> streaming{false};
};

class FakeLink : public CTransIFBase {
 public:
  explicit FakeLink(LinkLog& log) : log_(log) {}
  int Open(const void* settings) override {
    if (settings) {
      std::lock_guard lock(log_.mutex);
      log_.lastSerial = *static_cast<const SerialLineSettings*>(settings);
    }
    const int r = log_.openResult;
    state_ = r == 1 ? kLinkIdle : kLinkClosed;
    return r;
  }
  void Close() override { state_ = kLinkClosed; }
  int32_t GetState() override { return state_; }
  void SetState(int32_t s) override { state_ = s; }
  int Read(uint8_t* buf) override {
    if (!log_.streaming) return 0;
    const uint8_t report[] = {0x02, 0x4B, 0x08, 0x10, 0x00, 0x00, 0x01, 0x01, 0xE8, 0x03};
    std::copy(std::begin(report), std::end(report), buf);
    return static_cast<int>(sizeof(report));
  }
  int Write(const uint8_t*, int len) override { return len; }

 private:
  LinkLog& log_;
  std::atomic<int32_t> state_{kLinkClosed};
};

class FakeApp : public IAppServices {
 public:
  void SetLinkStatus(LinkStatus s) override { status.push_back(LinkStatusText(s)); }
  void PushViewSettings() override { ++pushes; }
  std::vector<std::string> status;
  int pushes = 0;
};

template <class W>
W* Find(QWidget* parent, int id) {
  W* w = parent->findChild<W*>(QString("id%1").arg(id));
  EXPECT_NE(w, nullptr) << "id" << id;
  return w;
}

class SettingDialogTest : public ::testing::Test {
 protected:
  SettingDialogTest() {
    ctrl.SetLinkFactory([this](int linkType) {
      std::lock_guard lock(log.mutex);
      log.opened.push_back(linkType);
      return std::make_unique<FakeLink>(log);
    });
    record.SetFilePath(dir.File("ZUZIvor.ini"));
    dlg = std::make_unique<CSettingDialog>(record, ctrl, app, nullptr);
    dlg->showMessage = [this](const QString& text, QMessageBox::Icon icon) {
      messages.push_back(text);
      icons.push_back(icon);
    };
    dlg->show();
  }
  ~SettingDialogTest() override {
    dlg.reset();
    ctrl.Close();
  }

  QLineEdit* Edit(int id) { return Find<QLineEdit>(dlg.get(), id); }
  void Click(int id) { QTest::mouseClick(Find<QAbstractButton>(dlg.get(), id), Qt::LeftButton); }
  void Retype(int id, const QString& text) {
    QLineEdit* e = Edit(id);
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QTest::keyClicks(e, text);
  }
  std::vector<int> Opened() {
    std::lock_guard lock(log.mutex);
    return log.opened;
  }
  void StartStream() {
    ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
    log.streaming = true;
    ASSERT_TRUE(QTest::qWaitFor([this] { return ctrl.IsReceiving(); }, 10000));
  }

  TempDir dir;
  LinkLog log;
  CTransCtrl ctrl;
  CSettingsRecord record;
  FakeApp app;
  std::unique_ptr<CSettingDialog> dlg;
  std::vector<QString> messages;
  std::vector<QMessageBox::Icon> icons;
};

TEST_F(SettingDialogTest, ShowsTheRecordWithItsCaptions) {
  EXPECT_EQ(dlg->windowTitle(), "Settings Window");
  EXPECT_EQ(Find<QLabel>(dlg.get(), 1151)->text(), "Number of X Axis");
  EXPECT_EQ(Edit(1024)->text(), "38");
  EXPECT_EQ(Edit(1025)->text(), "22");
  EXPECT_EQ(Edit(1026)->text(), "256");
  EXPECT_EQ(Find<QLabel>(dlg.get(), 1023)->text(), "1");
  EXPECT_EQ(Find<QLabel>(dlg.get(), 1031)->text(), "10");
  EXPECT_TRUE(Find<QRadioButton>(dlg.get(), 1020)->isChecked());
  EXPECT_FALSE(Edit(1027)->isVisible());
  EXPECT_FALSE(Find<QCheckBox>(dlg.get(), 1028)->isVisible());
  EXPECT_TRUE(messages.empty());
  // The file that Save writes is named.
  EXPECT_EQ(dlg->findChild<QLabel*>("idSettingsFile")->text(),
            "Settings file: " + QString::fromStdString(dir.File("ZUZIvor.ini")));
}

TEST_F(SettingDialogTest, CountEditsAreValidatedAtEveryChange) {
  QLineEdit* x = Edit(1024);
  x->selectAll();
  QTest::keyClick(x, Qt::Key_Backspace);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Please enter an integer.");
  EXPECT_EQ(record.xCount, 38);
  EXPECT_EQ(dlg->focusWidget(), x);

  QTest::keyClicks(x, "0");
  EXPECT_EQ(messages.back(), "Please enter an integer between 1 and 255.");
  Retype(1024, "256");
  EXPECT_EQ(messages.back(), "Please enter an integer between 1 and 255.");
  EXPECT_EQ(record.xCount, 25);  // "2" and "25" were taken on the way

  // A refused X count keeps the edits after it from reaching the record.
  Retype(1025, "30");
  EXPECT_EQ(record.yCount, 22);

  Retype(1024, "40");
  EXPECT_EQ(record.xCount, 40);
  EXPECT_EQ(record.yCount, 30);
  EXPECT_EQ(ctrl.Panel().xCount, 40);
  EXPECT_EQ(ctrl.Panel().yCount, 30);

  Retype(1026, "abc");
  EXPECT_EQ(messages.back(), "Please enter an integer.");
  EXPECT_EQ(record.resolution, 256);
}

TEST_F(SettingDialogTest, CancelKeepsTakenValuesWithoutSavingOrApplying) {
  Retype(1024, "50");
  Click(1021);        // COM
  Retype(1025, "x");  // refused: the edit shows it until Cancel redisplays the record
  Click(2);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(record.xCount, 50);
  EXPECT_EQ(record.usbCom, 1);
  EXPECT_EQ(ctrl.Panel().xCount, 50);
  EXPECT_EQ(Edit(1025)->text(), "22");
  EXPECT_FALSE(std::filesystem::exists(record.FilePath()));
  EXPECT_TRUE(Opened().empty());
  EXPECT_TRUE(app.status.empty());
}

TEST_F(SettingDialogTest, PropertyFollowsTheLinkKind) {
  auto* property = Find<QPushButton>(dlg.get(), 1022);
  EXPECT_FALSE(property->isEnabled());
  Click(1021);
  EXPECT_TRUE(property->isEnabled());
  EXPECT_EQ(record.usbCom, 1);
  Click(1020);
  EXPECT_FALSE(property->isEnabled());
  EXPECT_EQ(record.usbCom, 0);

  record.usbCom = 1;
  dlg->hide();
  dlg->show();
  EXPECT_TRUE(property->isEnabled());
  EXPECT_TRUE(Find<QRadioButton>(dlg.get(), 1021)->isChecked());
}

TEST_F(SettingDialogTest, OkAndSaveAreRefusedWhileReceiving) {
  StartStream();
  const size_t opens = Opened().size();
  dlg->hide();
  dlg->show();
  EXPECT_FALSE(Edit(1024)->isEnabled());
  EXPECT_FALSE(Edit(1025)->isEnabled());

  Click(1);
  Click(1017);
  ASSERT_EQ(messages.size(), 2u);
  for (const QString& m : messages) {
    EXPECT_EQ(m, "Can't apply settings because program is receiving data from firmware.");
  }
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(Opened().size(), opens);
  EXPECT_FALSE(std::filesystem::exists(record.FilePath()));
  log.streaming = false;
}

TEST_F(SettingDialogTest, SaveWritesTheFileAndReopensTheLink) {
  TempDir::Write(record.FilePath(),
                 "[HID]\r\nVID1=8829\r\n[SETTING]\r\nUsb_Com=0\r\nNote=kept\r\n");
  Click(1021);
  Retype(1024, "40");
  record.portNum = 5;
  messages.clear();  // clearing the edit on the way was refused
  Click(1017);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(TempDir::Read(record.FilePath()),
            "[HID]\r\nVID1=8829\r\n[SETTING]\r\nUsb_Com=1\r\nNote=kept\r\nPortNum=5\r\n"
            "X_Count=40\r\nY_Count=22\r\nXY_Coord_Resolution=256\r\nFinger_Count=1\r\n"
            "Z_Value=0\r\nBarCDReaderPortNum=10\r\n"
            "[SERIAL_PORT]\r\nBaudRate=38400\r\nByteSize=8\r\nParity=0\r\nStopBits=0\r\n"
            "[BARCD_SERIAL_PORT]\r\nBaudRate=9600\r\nByteSize=8\r\nParity=0\r\nStopBits=0\r\n"
            "ReceiveTimer=1000\r\n");
  ASSERT_EQ(Opened(), std::vector<int>{kLinkCom});
  EXPECT_EQ(log.lastSerial.portNum, 5);
  EXPECT_EQ(ctrl.GetLinkType(), kLinkCom);
  EXPECT_EQ(app.status, std::vector<std::string>{"TPC Port: CONNECTED"});
  EXPECT_EQ(app.pushes, 1);
}

TEST_F(SettingDialogTest, FailedSaveAndFailedOpenAreReported) {
  record.SetFilePath(dir.File("gone/ZUZIvor.ini"));
  ctrl.SetIdentity(0, 0x227d, 0x0102, 2);
  ctrl.SetIdentity(1, 0x00ab, 0xcdef, 2);
  log.openResult = 0;
  Click(1017);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[0].contains(QString::fromStdString(record.FilePath())));
  EXPECT_TRUE(messages[0].contains("No such file or directory"));
  EXPECT_EQ(messages[1],
            "Port open failure!\nVID 0x227d, PID 0x0102: Device was not found.\n"
            "VID 0x00ab, PID 0xcdef: Device was not found.\n");
  EXPECT_EQ(icons[1], QMessageBox::Warning);
  EXPECT_EQ(app.status, std::vector<std::string>{"TPC Port: DISCONNECTED"});
  EXPECT_EQ(app.pushes, 1);
}

TEST_F(SettingDialogTest, OkAppliesAndClosesUnlessAValueIsRefused) {
  Edit(1027)->setText("0");  // hidden finger count out of range
  Click(1);
  EXPECT_EQ(messages.back(), "Please enter an integer between 1 and 12.");
  EXPECT_TRUE(dlg->isVisible());
  ASSERT_EQ(Opened(), std::vector<int>{kLinkUsb});

  Edit(1027)->setText("2");
  Click(1);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(record.fingerCount, 2);
  EXPECT_EQ(Opened().size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(record.FilePath()));
}

TEST_F(SettingDialogTest, IniFileLoadTakesTheChosenFileOnly) {
  const std::string other = dir.File("other.ini");
  TempDir::Write(other,
                 "[SETTING]\nUsb_Com=1\nX_Count=40\n[HID]\nVID1=4660\n[STARTUP]\nXYWindow=1\n");
  record.startup.SendWindow = 1;

  dlg->chooseIniFile = [] { return QString(); };
  Click(1015);
  EXPECT_EQ(record.xCount, 38);
  EXPECT_EQ(record.usbCom, 0);

  dlg->chooseIniFile = [&] { return QString::fromStdString(other); };
  Click(1015);
  EXPECT_EQ(record.xCount, 40);
  EXPECT_EQ(Edit(1024)->text(), "40");
  EXPECT_TRUE(Find<QPushButton>(dlg.get(), 1022)->isEnabled());
  EXPECT_TRUE(Find<QRadioButton>(dlg.get(), 1021)->isChecked());
  EXPECT_EQ(ctrl.VendorId(0), 4660);
  EXPECT_EQ(record.startup.SendWindow, 1);  // open windows belong to this run
  EXPECT_EQ(record.startup.XYWindow, 0);
  EXPECT_TRUE(Opened().empty());
  EXPECT_FALSE(std::filesystem::exists(record.FilePath()));
  EXPECT_TRUE(messages.empty());
}

TEST_F(SettingDialogTest, PortDialogNumberIsCopiedBackEitherWay) {
  Click(1021);
  AnswerPortDialog(4, 1);
  Click(1022);
  EXPECT_EQ(record.portNum, 5);
  EXPECT_EQ(record.comPort.portNum, 5);
  EXPECT_EQ(Find<QLabel>(dlg.get(), 1023)->text(), "5");

  AnswerPortDialog(8, 2);
  Click(1030);
  EXPECT_EQ(record.barcodePortNum, 10);
  EXPECT_EQ(Find<QLabel>(dlg.get(), 1031)->text(), "10");
}

// Every entry of every list fits the list's text field as the dialog first shows.
TEST(SetSerialPortDlg, ListsAreWideEnoughForTheirEntries) {
  SerialLineSettings params;
  params.portNum = 1;
  CSetSerialPortDlg dlg(params);
  dlg.show();
  const auto lists = dlg.findChildren<QComboBox*>();
  ASSERT_GE(lists.size(), 5);
  for (QComboBox* list : lists) {
    if (!list->isVisible()) continue;
    QStyleOptionComboBox opt;
    opt.initFrom(list);
    opt.rect = list->rect();
    opt.frame = list->hasFrame();
    const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                      QStyle::SC_ComboBoxEditField, list);
    for (int i = 0; i < list->count(); ++i) {
      EXPECT_LE(list->fontMetrics().horizontalAdvance(list->itemText(i)), field.width())
          << list->objectName().toStdString() << ": " << list->itemText(i).toStdString();
    }
  }
  EXPECT_EQ(dlg.findChild<QComboBox*>("id1024")->itemText(0),
            QString("COM1 (%1)").arg(QString::fromStdString(ComDevicePath(1))));
}

TEST(SetSerialPortDlg, SelectsCurrentValuesOrTheFirstEntry) {
  SerialLineSettings params;
  params.portNum = 3;
  params.baudRate = 12345;
  params.byteSize = 7;
  params.parity = 1;
  params.stopBits = 1;
  CSetSerialPortDlg dlg(params);
  dlg.show();
  auto* baud = dlg.findChild<QComboBox*>("id1019");
  ASSERT_NE(baud, nullptr);
  EXPECT_EQ(dlg.windowTitle(), "Serial Port Setting");
  EXPECT_EQ(baud->currentText(), "75");
  EXPECT_EQ(baud->count(), 20);
  EXPECT_TRUE(dlg.findChild<QComboBox*>("id1024")->currentText().startsWith("COM3"));
  EXPECT_TRUE(dlg.findChild<QComboBox*>("id1024")->currentText().contains("/dev/ttyUSB2"));
  EXPECT_EQ(dlg.findChild<QComboBox*>("id1020")->currentText(), "7");
  EXPECT_EQ(dlg.findChild<QComboBox*>("id1021")->currentText(), "odd number");
  EXPECT_EQ(dlg.findChild<QComboBox*>("id1022")->currentText(), "1.5");

  dlg.findChild<QComboBox*>("id1021")->setCurrentIndex(0);  // "even number"
  dlg.findChild<QPushButton*>("id2")->click();
  EXPECT_EQ(params.baudRate, 12345u);
  EXPECT_EQ(params.parity, 1);

  dlg.show();
  dlg.findChild<QComboBox*>("id1021")->setCurrentIndex(0);
  dlg.findChild<QPushButton*>("id1")->click();
  EXPECT_EQ(params.baudRate, 75u);
  EXPECT_EQ(params.parity, 2);
  EXPECT_EQ(params.portNum, 3);
  EXPECT_EQ(params.stopBits, 1);
}

}  // namespace
