// The touch panel control's command calls, panel list and dispatch tick, without a device.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikTouchPanelControl.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"
#include "calib/framework/TKorvikUsbTransferModule.h"

namespace {

using Bytes = std::vector<uint8_t>;

class TouchPanelControlTest : public ::testing::Test {
 protected:
  TouchPanelControlTest()
      : Control(
            nullptr, [this](const std::string& t, uint8_t l) { Logs.emplace_back(t, l); }, true) {}

  TKorvikTouchPanel* AddPanel(const std::string& name = "panel") {
    auto panel = std::make_unique<TKorvikTouchPanel>(&Control, name, true, 0x227D, 0x0102);
    TKorvikTouchPanel* raw = panel.get();
    Control.AddTouchPanel("DefaultPanel", std::move(panel));
    return raw;
  }
  // Frames of the pending commands of panel 0, oldest first.
  std::vector<Bytes> Queued() {
    std::vector<Bytes> frames;
    TKorvikTouchPanel* panel = Control.GetTouchPanel(0);
    for (size_t i = 0; panel && i < panel->PendingCount(); ++i)
      frames.push_back(panel->Pending(i)->FirstMessage()->Data());
    return frames;
  }
  bool Logged(const std::string& text, uint8_t level) const {
    for (const auto& l : Logs)
      if (l.first == text && l.second == level) return true;
    return false;
  }

  std::vector<std::pair<std::string, uint8_t>> Logs;
  TKorvikTouchPanelControl Control;
};

TEST_F(TouchPanelControlTest, EveryCommandFailsAndLogsWithoutAPanel) {
  const std::vector<std::pair<bool (*)(TKorvikTouchPanelControl&), std::string>> calls = {
      {[](TKorvikTouchPanelControl& c) { return c.CmdCalibrate(); }, "CmdCalibrate fail."},
      {[](TKorvikTouchPanelControl& c) { return c.CmdGetFirmwareVersion(0); },
       "CmdGetFirmwareVersion fail."},
      {[](TKorvikTouchPanelControl& c) { return c.CmdChangeCoordinatesReportPermission(true); },
       "CmdChangeCoordinatesReportPermission fail."},
      {[](TKorvikTouchPanelControl& c) { return c.CmdChangeCoordinatesReportTarget(1); },
       "CmdChangeCoordinatesReportTarget fail."},
      {[](TKorvikTouchPanelControl& c) { return c.CmdGetFirmwareDetail(); },
       "CmdGetFirmwareDetail fail."},
      {[](TKorvikTouchPanelControl& c) { return c.CmdtpcStopContinuallyReport(); },
       "CmdtpcStopContinuallyReport fail."},
      {[](TKorvikTouchPanelControl& c) { return c.CmdDfuGetBootSelect(); },
       "CmdDfuGetBootSelect fail."},
  };
  for (const auto& [call, failure] : calls) {
    Logs.clear();
    EXPECT_FALSE(call(Control)) << failure;
    const std::vector<std::pair<std::string, uint8_t>> expected = {
        {"No TP exists in TouchPanelList, idx: 0", 3},
        {"Create Command fail. No TouchPanel exist.", 3},
        {failure, 7}};
    EXPECT_EQ(Logs, expected);
  }
}

TEST_F(TouchPanelControlTest, ArgumentsFollowTheRulesOfEachCall) {
  AddPanel();
  EXPECT_TRUE(Control.CmdGetFirmwareVersion(5));
  EXPECT_TRUE(Control.CmdGetFirmwareVersion(1));
  EXPECT_TRUE(Control.CmdChangeCoordinatesReportPermission(true));
  EXPECT_TRUE(Control.CmdChangeCoordinatesReportPermission(false));
  EXPECT_TRUE(Control.CmdChangeCoordinatesReportTarget(2));
  EXPECT_TRUE(Control.CmdChangeCoordinatesReportTarget(1));
  EXPECT_TRUE(Control.CmdGetFirmwareDetail());
  EXPECT_TRUE(Control.CmdtpcStopContinuallyReport());
  EXPECT_TRUE(Control.CmdCalibrate());
  EXPECT_TRUE(Control.CmdDfuGetBootSelect());
  const std::vector<Bytes> expected = {
      {0x02, 0x4C, 0x02, 0x04, 0x00}, {0x02, 0x4C, 0x02, 0x04, 0x01},
      {0x02, 0x4C, 0x02, 0x08, 0x00}, {0x02, 0x4C, 0x02, 0x08, 0x01},
      {0x02, 0x4C, 0x02, 0x05, 0x00}, {0x02, 0x4C, 0x02, 0x05, 0x01},
      {0x02, 0x4C, 0x02, 0x06, 0x00}, {0x02, 0x4E, 0x01, 0x80},
      {0x02, 0x4C, 0x01, 0x01},       {0xF1, 0x01, 0, 0, 0, 0, 0, 0}};
  EXPECT_EQ(Queued(), expected);
  EXPECT_TRUE(Logged("Create Command success. CMD: GetVersion", 0));
  EXPECT_TRUE(Logged("Create Command success. CMD: DFUCMD_GET_BOOT_SELECT", 0));
}

TEST_F(TouchPanelControlTest, CompletedExchangesWaitForAnOnMessageHandler) {
  TKorvikTouchPanel* panel = AddPanel();
  // A raw data report is complete at once.
  const Bytes report = {0x02, 0x4B, 0x07, 0x01, 1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(Control.HandleMessage(0, Control.MsgFactory()->CreateUsbMessage(1, report)));
  ASSERT_EQ(panel->CompletedCount(), 1u);

  Control.TimerTick();
  ASSERT_EQ(panel->CompletedCount(), 1u);
  EXPECT_EQ(panel->TransactionCount(), 1u);
  EXPECT_TRUE(Control.TimerActive());

  std::vector<TKorvikUsbMessage*> dispatched;
  Control.SetOnMessage([&](TKorvikUsbMessage* m) { dispatched.push_back(m); });
  Control.TimerTick();
  EXPECT_EQ(dispatched.size(), 1u);
  EXPECT_EQ(panel->CompletedCount(), 0u);
}

TEST_F(TouchPanelControlTest, PanelListEventsAndKeys) {
  std::vector<std::string> added, removed;
  Control.SetOnTouchPanelAdded([&](TKorvikTouchPanel* p) { added.push_back(p->Name()); });
  Control.SetOnTouchPanelRemoved([&](TKorvikTouchPanel* p) { removed.push_back(p->Name()); });
  AddPanel("first");
  AddPanel("second");
  EXPECT_EQ(added, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(Logged("first added to FTouchPanelList.", 0));

  Control.RemoveTouchPanel("NoSuchKey");
  EXPECT_TRUE(removed.empty());
  EXPECT_EQ(Control.TouchPanelCount(), 2);

  Control.RemoveTouchPanel("DefaultPanel");
  EXPECT_EQ(removed, std::vector<std::string>{"first"});
  EXPECT_TRUE(Logged("first removed from FTouchPanelList.", 0));
  EXPECT_EQ(Control.GetDefaultTouchPanel()->Name(), "second");

  Control.ClearTouchPanels();
  EXPECT_EQ(Control.TouchPanelCount(), 0);
  EXPECT_EQ(removed.size(), 1u);  // clearing fires no removal
  Logs.clear();
  EXPECT_EQ(Control.GetDefaultTouchPanel(), nullptr);
  EXPECT_TRUE(Logged("No Default TP exists in TouchPanelList, idx: 0", 3));
  EXPECT_FALSE(Control.HandleMessage(3, nullptr));
  EXPECT_TRUE(Logged("No TP exists in TouchPanelList, idx: 3", 3));
}

TEST_F(TouchPanelControlTest, LogHandlerReachesTheTransferThreadsLogObject) {
  std::vector<std::string> late;
  Control.SetOnLog([&](const std::string& t, uint8_t) { late.push_back(t); });
  Control.TransferModule()->LogObject()->Log("from the worker", 0);
  EXPECT_EQ(late, std::vector<std::string>{"from the worker"});
}

}  // namespace

TEST_F(TouchPanelControlTest, PanelRemovedByItsTimeoutEventIsNotTouchedAgain) {
  uint32_t now = 1000;
  KorvikSetTickSource([&] { return now; });
  TKorvikTouchPanel* panel = AddPanel();
  ASSERT_TRUE(Control.CmdGetFirmwareVersion(0));
  TKorvikUsbCommand* command = panel->NextTransaction();
  ASSERT_TRUE(command);
  command->Transaction()->SetState(TKorvikUsbTransaction::StateSent);
  int timeouts = 0;
  panel->SetOnTransactionsChanged([&](TKorvikObj* sender) {
    auto* t = dynamic_cast<TKorvikUsbTransaction*>(sender);
    if (t && t->State() == TKorvikUsbTransaction::StateTimedOut) {
      ++timeouts;
      Control.RemoveTouchPanel("DefaultPanel");  // frees the panel inside its own check
    }
  });
  now += 3001;
  Control.TimerTick();  // must not run the freed panel's scenarios (ASan)
  EXPECT_EQ(timeouts, 1);
  EXPECT_EQ(Control.TouchPanelCount(), 0);
  KorvikSetTickSource(nullptr);
}
