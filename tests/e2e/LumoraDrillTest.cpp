// Fault drills for Lumora's device core (touch panel control, transfer module, hidpipe)
// against tpcsim: unplug and replug while coordinates stream, a controller that never
// answers, negative acknowledgements.
#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <chrono>

#include "common/SimProcess.h"
#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikObjControl.h"
#include "calib/framework/TKorvikTouchPanelControl.h"
#include "calib/framework/TKorvikUsbCommand.h"
#include "calib/framework/TKorvikUsbCoordinatesReport.h"

namespace {

// The millisecond counter with a jump the test can add, so timeouts need no waiting.
std::atomic<uint32_t> gSkipMs{0};
uint32_t SkippingClock() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) +
         gSkipMs.load();
}

bool QtWait(const std::function<bool()>& cond, int ms = 10000) {
  return QTest::qWaitFor(cond, ms);
}

class LumoraDrill : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TKorvikObjControl::Initialize();
    sim = new SimProcess;
    ASSERT_TRUE(sim->Start({"--usb", "--touch-rate", "200", "--calibrate-delay", "10"}));
    ::setenv("HIDPIPE_SIM", sim->Socket().c_str(), 1);
    KorvikSetTickSource(&SkippingClock);
  }
  static void TearDownTestSuite() {
    KorvikSetTickSource(nullptr);
    EXPECT_TRUE(sim->Stop());
    delete sim;
  }

  void SetUp() override {
    ASSERT_TRUE(sim->Ok("plug"));
    control = std::make_unique<TKorvikTouchPanelControl>(nullptr, TKorvikLogEvent{}, false);
    control->SetOnTouchPanelAdded([this](TKorvikTouchPanel*) { Prepare(); });
    control->SetOnMessage([this](TKorvikUsbMessage* m) { Take(m); });
    // The start-up scan found the panel before the handler was set.
    if (control->TouchPanelCount() > 0) Prepare();
    ASSERT_TRUE(QtWait([&] { return versions > 0; }));
  }
  void TearDown() override {
    control.reset();
    sim->Ok("nak off");
    sim->Ok("silence off");
    sim->Ok("touch up all");
  }

  // What the window does for a new panel, with coordinate reports to the program.
  void Prepare() {
    control->CmdChangeCoordinatesReportTarget(1);
    control->CmdChangeCoordinatesReportPermission(true);
    control->CmdGetFirmwareVersion(0);
  }
  void Take(TKorvikUsbMessage* m) {
    if (dynamic_cast<TKorvikUsbCoordinatesReport*>(m)) {
      ++coordinates;
      return;
    }
    // Responses carry the row of their command; their length byte is not looked at.
    auto* response = dynamic_cast<TKorvikUsbCommand*>(m);
    if (!response || !m->Received()) return;
    if (response->CommandIndex() == KorvikCmd::GetVersion && m->ResultByte() != 0) {
      ++versions;
    } else {
      ++acks;
      lastStatus = m->ResultByte();
    }
  }

  static SimProcess* sim;
  std::unique_ptr<TKorvikTouchPanelControl> control;
  int versions = 0, coordinates = 0, acks = 0, lastStatus = -1;
};

SimProcess* LumoraDrill::sim = nullptr;

TEST_F(LumoraDrill, TwoHundredUnplugReplugCyclesWhileCoordinatesStream) {
  constexpr int kCycles = 200;
  ASSERT_TRUE(sim->Ok("touch hold 0 300 200"));
  ASSERT_TRUE(QtWait([&] { return coordinates > 3; }));
  const size_t objects = TKorvikObjControl::Instance()->Count();
  for (int i = 0; i < kCycles; ++i) {
    SCOPED_TRACE("cycle " + std::to_string(i));
    // Unplugged while the finger streams coordinates; lifted while the device is away, so
    // the opening exchanges of the next plug do not wait behind a report flood.
    ASSERT_TRUE(sim->Ok("unplug"));
    ASSERT_TRUE(QtWait([&] { return control->TouchPanelCount() == 0; }));
    ASSERT_TRUE(sim->Ok("touch up all"));
    const int v = versions;
    ASSERT_TRUE(sim->Ok("plug"));
    ASSERT_TRUE(QtWait([&] { return control->TouchPanelCount() == 1 && versions > v; }));
    const int c = coordinates;
    ASSERT_TRUE(sim->Ok("touch hold 0 300 200"));
    ASSERT_TRUE(QtWait([&] { return coordinates >= c + 3; }));
  }
  // Finished exchanges are freed: the live framework objects do not grow with the cycles.
  EXPECT_LE(TKorvikObjControl::Instance()->Count(), objects + 8);
}

TEST_F(LumoraDrill, ControllerThatNeverAnswersTimesOutAndRecovers) {
  ASSERT_TRUE(sim->Ok("silence on"));
  TKorvikTouchPanel* panel = control->GetTouchPanel(0);
  ASSERT_NE(panel, nullptr);
  const int v = versions;
  ASSERT_TRUE(control->CmdGetFirmwareVersion(0));
  ASSERT_TRUE(
      QtWait([&] { return panel->PendingCount() == 1 && sim->TraceFrames("H>D").size() > 0; }));
  // GetVersion has 3 s: skipped on the clock, the exchange ends without a message.
  gSkipMs += 3500;
  ASSERT_TRUE(QtWait([&] { return panel->PendingCount() == 0; }));
  EXPECT_EQ(versions, v);

  ASSERT_TRUE(sim->Ok("silence off"));
  ASSERT_TRUE(control->CmdGetFirmwareVersion(0));
  ASSERT_TRUE(QtWait([&] { return versions > v; }));
}

TEST_F(LumoraDrill, NegativeAcknowledgementOfEveryCommand) {
  struct Case {
    const char* sub;
    std::function<bool()> send;
  };
  const std::vector<Case> cases = {
      {"01", [&] { return control->CmdCalibrate(); }},
      {"05", [&] { return control->CmdChangeCoordinatesReportTarget(1); }},
      {"06", [&] { return control->CmdGetFirmwareDetail(); }},
      {"08", [&] { return control->CmdChangeCoordinatesReportPermission(true); }},
      {"80", [&] { return control->CmdtpcStopContinuallyReport(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sub);
    ASSERT_TRUE(sim->Ok(std::string("nak ") + c.sub));
    const int a = acks;
    ASSERT_TRUE(c.send());
    ASSERT_TRUE(QtWait([&] { return acks > a; })) << sim->TraceTail();
    EXPECT_EQ(lastStatus, 0);
    ASSERT_TRUE(QtWait([&] { return control->GetTouchPanel(0)->PendingCount() == 0; }));
  }
  // A refused version request still answers (status 0); the panel stays usable.
  ASSERT_TRUE(sim->Ok("nak off"));
  const int v = versions;
  ASSERT_TRUE(control->CmdGetFirmwareVersion(0));
  ASSERT_TRUE(QtWait([&] { return versions > v; }));
}

}  // namespace
