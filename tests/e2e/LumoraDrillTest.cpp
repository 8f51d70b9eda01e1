// Fault drills for Lumora against tpcsim: the device core (touch panel control, transfer
// module, hidpipe) under unplug and replug while coordinates stream, a controller that never
// answers, negative acknowledgements; and the window closed at every awkward moment, which
// must always hand the coordinates back to the cursor with reporting permitted.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>

#include "calib/app/TformCalibration.h"
#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikObjControl.h"
#include "calib/framework/TKorvikTouchPanelControl.h"
#include "calib/framework/TKorvikUsbCommand.h"
#include "calib/framework/TKorvikUsbCoordinatesReport.h"
#include "common/SimProcess.h"

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

const std::vector<std::string> kSimArgs = {"--usb", "--touch-rate", "200", "--calibrate-delay",
                                           "10"};

// One simulator for the whole program: the HID library reads its socket path once.
SimProcess* sim = nullptr;

class SimEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    TKorvikObjControl::Initialize();
    sim = new SimProcess;
    ASSERT_TRUE(sim->Start(kSimArgs));
    ::setenv("HIDPIPE_SIM", sim->Socket().c_str(), 1);
    KorvikSetTickSource(&SkippingClock);
  }
  void TearDown() override {
    KorvikSetTickSource(nullptr);
    EXPECT_TRUE(sim->Stop());
    delete sim;
  }
};

[[maybe_unused]] ::testing::Environment* const gSimEnvironment =
    ::testing::AddGlobalTestEnvironment(new SimEnvironment);

class LumoraDrill : public ::testing::Test {
 protected:
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

  std::unique_ptr<TKorvikTouchPanelControl> control;
  int versions = 0, coordinates = 0, acks = 0, lastStatus = -1;
};

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
  // GetVersion has 3 s: skipped on the clock (until the exchange has taken its send time
  // and run out), the exchange ends without a message.
  ASSERT_TRUE(QtWait([&] {
    if (panel->PendingCount() == 0) return true;
    gSkipMs += 3500;
    return false;
  }));
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

// The window with the real control. Every close must leave the controller with coordinates
// handed back to the cursor and reporting permitted, whatever was outstanding.
class LumoraCloseDrill : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim->Ok("plug"));
    form = std::make_unique<TformCalibration>();
  }
  void TearDown() override {
    form.reset();
    sim->Ok("calibrate-result ok");
    sim->Ok("calibrate-delay 10");
  }

  QString Caption() const { return form->findChild<QPushButton*>("btnCalibrate")->text(); }
  QString Info() const { return form->findChild<QLabel*>("labTPInfo")->text(); }
  bool WaitCaption(const char* caption) {
    return QtWait([&] { return Caption() == caption; });
  }
  void Open() {
    form->show();
    ASSERT_TRUE(WaitCaption("Calibrate")) << sim->TraceTail();
  }
  // Clicks "Calibrate" and waits until the calibration is the one exchange outstanding and
  // went out (its time runs from then).
  void Calibrate() {
    QTest::mouseClick(form->findChild<QPushButton*>("btnCalibrate"), Qt::LeftButton);
    ASSERT_EQ(Caption(), "Calibrating");
    ASSERT_TRUE(QtWait([&] {
      TKorvikTouchPanel* panel = form->Control()->GetTouchPanel(0);
      return panel && panel->PendingCount() == 1 && panel->UnsentCount() == 0;
    }));
  }
  // The last report target and permission frames from `from` on say "cursor" and "permitted".
  bool HandedBack(size_t from) const {
    const auto frames = sim->TraceFrames("H>D");
    int target = -1, permission = -1;
    for (size_t i = from; i < frames.size(); ++i) {
      const auto& f = frames[i];
      if (f.size() < 5 || f[0] != 0x02 || f[1] != 0x4C) continue;
      if (f[3] == 0x05) target = f[4];
      if (f[3] == 0x08) permission = f[4];
    }
    return target == 0 && permission == 0;
  }
  void CloseAndExpectHandBack() {
    const size_t mark = sim->TraceFrames("H>D").size();
    form->close();
    ASSERT_TRUE(QtWait([&] { return !form->isVisible(); }, 5000));
    EXPECT_EQ(form->Control(), nullptr);
    EXPECT_TRUE(QtWait([&] { return HandedBack(mark); }, 3000)) << sim->TraceTail();
  }

  std::unique_ptr<TformCalibration> form;
};

TEST_F(LumoraCloseDrill, CloseDuringTheOpening) {
  form->show();
  form->FormActivate();  // the opening is queued; no answer can be dispatched before the close
  ASSERT_NE(form->Control(), nullptr);
  ASSERT_EQ(form->Control()->TouchPanelCount(), 1);
  EXPECT_EQ(Caption(), "Not Ready");
  CloseAndExpectHandBack();
}

TEST_F(LumoraCloseDrill, CloseDuringACalibration) {
  Open();
  ASSERT_TRUE(sim->Ok("calibrate-delay 30000"));
  Calibrate();
  CloseAndExpectHandBack();
}

TEST_F(LumoraCloseDrill, FailedAndTimedOutCalibrationsBothEndNotReady) {
  Open();
  ASSERT_TRUE(sim->Ok("calibrate-result fail"));
  Calibrate();
  ASSERT_TRUE(WaitCaption("Not Ready"));
  CloseAndExpectHandBack();

  form = std::make_unique<TformCalibration>();
  Open();
  ASSERT_TRUE(sim->Ok("calibrate-result never"));
  Calibrate();
  gSkipMs += 61000;  // past the 60 s a calibration is given
  ASSERT_TRUE(WaitCaption("Not Ready"));
  CloseAndExpectHandBack();
}

TEST_F(LumoraCloseDrill, UnplugDuringACalibrationThenReplug) {
  Open();
  ASSERT_TRUE(sim->Ok("calibrate-delay 30000"));
  Calibrate();
  ASSERT_TRUE(sim->Ok("unplug"));
  ASSERT_TRUE(QtWait([&] { return Caption() == "Not Ready" && Info() == "TP info"; }));
  ASSERT_TRUE(sim->Ok("plug"));
  ASSERT_TRUE(WaitCaption("Calibrate"));
  EXPECT_EQ(Info(), "TPCSIM 1.0.0");
  CloseAndExpectHandBack();
}

// Last: it restarts the simulator that every other drill shares.
TEST_F(LumoraCloseDrill, StartBeforeTheController) {
  form.reset();
  ASSERT_TRUE(sim->Stop());
  form = std::make_unique<TformCalibration>();
  form->show();
  ASSERT_TRUE(QtWait([&] { return form->Control() != nullptr; }));
  EXPECT_EQ(Caption(), "Not Ready");
  ASSERT_TRUE(sim->Start(kSimArgs));
  ASSERT_TRUE(WaitCaption("Calibrate")) << sim->TraceTail();
  EXPECT_EQ(Info(), "TPCSIM 1.0.0");
  CloseAndExpectHandBack();
}

}  // namespace
