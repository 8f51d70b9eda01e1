// The transfer module and the touch panel control over a fake HID library.
#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "FakeHid.h"
#include "calib/framework/TKorvikTouchPanelControl.h"
#include "calib/framework/TKorvikUsbResponse.h"
#include "calib/framework/TKorvikUsbTransferModule.h"

namespace {

struct LogLine {
  std::string Text;
  uint8_t Level;
};

class TransferModuleTest : public ::testing::Test {
 protected:
  std::unique_ptr<TKorvikTouchPanelControl> Make(bool noUsb = false) {
    return std::make_unique<TKorvikTouchPanelControl>(
        nullptr,
        [this](const std::string& t, uint8_t l) {
          Logs.push_back({t, l});
        },
        noUsb, Hid.Table());
  }
  size_t CountLogs(const std::string& text, int level = -1) const {
    size_t n = 0;
    for (const LogLine& l : Logs)
      if (l.Text == text && (level < 0 || l.Level == level)) ++n;
    return n;
  }
  // Waits until the worker has sent count frames.
  bool WaitSent(size_t count) {
    return QTest::qWaitFor([&] { return Hid.Sent().size() >= count; }, 5000);
  }

  FakeHid Hid;
  std::vector<LogLine> Logs;
};

const std::vector<uint8_t> kVersionReply = {0x02, 0x4C, 0x06, 0x04, 'V', '1', '.', '0', 0};
const std::vector<uint8_t> kGetVersion = {0x02, 0x4C, 0x02, 0x04, 0x00};
const std::vector<uint8_t> kCalibrate = {0x02, 0x4C, 0x01, 0x01};

TEST_F(TransferModuleTest, NoUsbMakesNoLibraryCallAndEndsTheWorker) {
  auto control = Make(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return control->TransferModule()->Finished(); }, 5000));
  EXPECT_EQ(control->TouchPanelCount(), 0);
  EXPECT_FALSE(control->TransferModule()->OpenUSB());
  EXPECT_FALSE(control->TransferModule()->OpenDevice(1));
  control.reset();
  EXPECT_TRUE(Hid.Calls().empty());
}

TEST_F(TransferModuleTest, ScanOpensTheFirstPresentRowAndAddsOnePanel) {
  Hid.PresentPids = {0x0104, 0x0200};
  Hid.RefusedPid = 0x0103;
  Hid.Refusal = "/dev/hidraw5: cannot use this device: no output report";
  auto control = Make();
  ASSERT_EQ(control->TouchPanelCount(), 1);
  EXPECT_EQ(control->TouchPanelKey(0), "DefaultPanel");
  EXPECT_EQ(control->GetTouchPanel(0)->Name(), "Exists Touch Panel");
  EXPECT_EQ(control->GetTouchPanel(0)->PidText(), "0104");
  const std::vector<std::string> expected = {"open",
                                             "close-device",
                                             "open-device 227D 0102 1",
                                             "close-device",
                                             "open-device 227D 0103 1",
                                             "close-device",
                                             "open-device 227D 0104 0",
                                             "enable 1"};
  EXPECT_EQ(Hid.Calls(), expected);
  EXPECT_EQ(CountLogs("TKorvikUsbTransferModule.OpenUSB success. hidOpen success.", 5), 1u);
  EXPECT_EQ(CountLogs("TKorvikTouchPanelControl.Open failed. hidOpenMyDevice failed. PID: "
                      "0x0102, VID: 0x227d",
                      5),
            1u);
  // The library's reason follows the failure it explains, and only where it gave one.
  EXPECT_EQ(CountLogs("hidOpenMyDevice: /dev/hidraw5: cannot use this device: no output report", 5),
            1u);
  size_t reasons = 0;
  for (const LogLine& l : Logs) reasons += l.Text.rfind("hidOpenMyDevice:", 0) == 0;
  EXPECT_EQ(reasons, 1u);
  control.reset();
  const auto calls = Hid.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "close-device");
  EXPECT_EQ(calls.back(), "close");
}

TEST_F(TransferModuleTest, FailedCloseStopsEveryOpen) {
  Hid.CloseDeviceOk = false;
  auto control = Make();
  EXPECT_EQ(control->TouchPanelCount(), 0);
  EXPECT_EQ(Hid.CountCalls("open-device"), 0u);
  EXPECT_EQ(CountLogs("TKorvikTouchPanelControl.Open failed. hidCloseMyDevice failed.", 5), 14u);
}

TEST_F(TransferModuleTest, CommandGoesOutAndTheAnswerReachesOnMessage) {
  auto control = Make();
  std::vector<std::string> versions;
  control->SetOnMessage([&](TKorvikUsbMessage* m) {
    if (auto* r = dynamic_cast<TKorvikUsbResponseType4*>(m)) {
      std::string text;
      r->ContentText(text);
      versions.push_back(text.substr(0, text.find('\0')));
    }
  });
  ASSERT_TRUE(control->CmdGetFirmwareVersion(5));  // out of range: sent as 0
  ASSERT_TRUE(WaitSent(1));
  EXPECT_EQ(Hid.Sent()[0], kGetVersion);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return control->GetTouchPanel(0)->Pending(0)->State() == 3; }, 5000));
  // A reply cut short on the way is no answer; the whole one that follows is.
  Hid.QueueInput(kVersionReply, 4);
  Hid.QueueInput(kVersionReply);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !versions.empty(); }, 5000));
  EXPECT_EQ(versions, std::vector<std::string>{"V1.0"});
}

TEST_F(TransferModuleTest, SendRetriesAndTheCounterResetsOnlyOnAbandonment) {
  auto control = Make();
  std::vector<uint8_t> finalStates;
  control->SetOnTransactionsChanged([&](TKorvikObj* sender) {
    if (auto* t = dynamic_cast<TKorvikUsbTransaction*>(sender)) finalStates.push_back(t->State());
  });
  control->SetOnMessage([](TKorvikUsbMessage*) {});

  // Ten failed attempts abandon the command.
  Hid.SendFailures = -1;
  ASSERT_TRUE(control->CmdCalibrate());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !finalStates.empty(); }, 5000));
  EXPECT_EQ(finalStates, std::vector<uint8_t>{6});
  EXPECT_EQ(Hid.SendAttempts(), 10);
  EXPECT_EQ(CountLogs("TKorvikUsbTransferModule.SendUsbByDLL send failed. Retried 10 times.", 5),
            1u);

  // Three failures, then success: the counter keeps 3.
  Hid.SendFailures = 3;
  ASSERT_TRUE(control->CmdGetFirmwareVersion(0));
  ASSERT_TRUE(WaitSent(1));
  EXPECT_EQ(Hid.SendAttempts(), 14);
  Hid.QueueInput(kVersionReply);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return control->GetTouchPanel(0)->PendingCount() == 0; }, 5000));

  // So the next command is abandoned after seven more attempts.
  Hid.SendFailures = -1;
  ASSERT_TRUE(control->CmdCalibrate());
  ASSERT_TRUE(QTest::qWaitFor([&] { return finalStates.size() == 2; }, 5000));
  EXPECT_EQ(finalStates.back(), 6);
  EXPECT_EQ(Hid.SendAttempts(), 21);
  EXPECT_EQ(CountLogs("TKorvikUsbTransferModule.SendUsbByDLL send failed. Retried 10 times."), 2u);
}

TEST_F(TransferModuleTest, SecondArrivalAddsASecondPanelAndRemovalTakesTheFirst) {
  auto control = Make();
  std::vector<std::string> added, removed;
  control->SetOnTouchPanelAdded([&](TKorvikTouchPanel* p) { added.push_back(p->Name()); });
  control->SetOnTouchPanelRemoved([&](TKorvikTouchPanel* p) { removed.push_back(p->Name()); });
  const std::string path = "sim:/tmp/x.sock#vid_227d&pid_0102&mi_01";

  Hid.Notify(HIDPIPE_ARRIVAL, path);
  ASSERT_TRUE(QTest::qWaitFor([&] { return control->TouchPanelCount() == 2; }, 5000));
  EXPECT_EQ(added, std::vector<std::string>{path});
  EXPECT_EQ(control->TouchPanelKey(1), "DefaultPanel");
  EXPECT_EQ(CountLogs(path + " arrival.", 0), 1u);

  const size_t closesBefore = Hid.CountCalls("close-device");
  Hid.Notify(HIDPIPE_REMOVAL, path);
  ASSERT_TRUE(QTest::qWaitFor([&] { return control->TouchPanelCount() == 1; }, 5000));
  EXPECT_EQ(removed, std::vector<std::string>{"Exists Touch Panel"});
  EXPECT_EQ(control->GetTouchPanel(0)->Name(), path);
  EXPECT_EQ(Hid.CountCalls("close-device"), closesBefore + 1);
  EXPECT_EQ(control->TransferModule()->DeviceText(), path + " removed.");
}

TEST_F(TransferModuleTest, ArrivalOfAnUnknownOrUnreadableDeviceIsOnlyLogged) {
  auto control = Make();
  const size_t callsBefore = Hid.Calls().size();
  for (const std::string path :
       {"sim:/a#VID_227D&PID_0999&MI_01", "/dev/hidraw7", "sim:/b#VID_227D&PID_0102&MI_00"}) {
    control->TransferModule()->DeviceChange(HIDPIPE_ARRIVAL, path);
    EXPECT_EQ(CountLogs(path + " arrival.", 0), 1u) << path;
  }
  EXPECT_EQ(control->TouchPanelCount(), 1);
  EXPECT_EQ(Hid.Calls().size(), callsBefore);
}

TEST(TransferModuleFindDevice, ReadsHexTextsAndMatchesAllThreeValues) {
  EXPECT_EQ(TKorvikUsbTransferModule::FindDevice("0102", "227D", "01"), 1);
  EXPECT_EQ(TKorvikUsbTransferModule::FindDevice("010a", "227d", "01"), 10);
  EXPECT_EQ(TKorvikUsbTransferModule::FindDevice("0104", "227D", "00"), 3);
  EXPECT_EQ(TKorvikUsbTransferModule::FindDevice("0200", "227D", "01"), 14);
  EXPECT_EQ(TKorvikUsbTransferModule::FindDevice("0102", "227D", "00"), -1);  // interface
  EXPECT_EQ(TKorvikUsbTransferModule::FindDevice("0102", "227E", "01"), -1);  // vendor
  EXPECT_EQ(TKorvikUsbTransferModule::FindDevice("01G2", "227D", "01"), -1);  // unreadable
  EXPECT_EQ(TKorvikUsbTransferModule::FindDevice("", "", ""), -1);

  const TKorvikUsbNoticeIds ids = KorvikUsbReadNoticePath("/dev/hidraw3#vid_227d&pid_010b&mi_01");
  EXPECT_EQ(ids.Vid, "227D");
  EXPECT_EQ(ids.Pid, "010B");
  EXPECT_EQ(ids.Interface, "01");
  EXPECT_EQ(KorvikUsbReadNoticePath("no markers").Pid, "");
}

}  // namespace
