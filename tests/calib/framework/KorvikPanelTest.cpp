#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "KorvikLogRecorder.h"
#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikObjControl.h"
#include "calib/framework/TKorvikTouchPanel.h"
#include "calib/framework/TKorvikUsbCoordinatesReport.h"
#include "calib/framework/TKorvikUsbDfuCommand.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"
#include "calib/framework/TKorvikUsbResponse.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using T = TKorvikUsbTransaction;

class PanelTest : public ::testing::Test {
 protected:
  PanelTest() {
    KorvikSetTickSource([this] { return now; });
    control.SetOnLog(log.Sink());
    factory = std::make_unique<TKorvikUsbMessageFactory>(&control);
    panel =
        std::make_unique<TKorvikTouchPanel>(&control, "Exists Touch Panel", true, 0x227D, 0x0102);
    panel->SetOnTransactionsChanged([this](TKorvikObj* sender) { changes.push_back(sender); });
    panel->SetOnSendCommand([this](TKorvikUsbMessage* m) { taken.push_back(m); });
  }
  ~PanelTest() override {
    panel.reset();  // its last event still writes to `changes`
    KorvikSetTickSource(nullptr);
  }

  bool Queue(std::uint8_t row, const Bytes& args = {}) {
    return panel->HandleMessage(factory->CreateUsbCommand(row, args));
  }
  bool Deliver(const Bytes& frame) {
    Bytes buffer(1024, 0);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    return panel->HandleMessage(
        factory->CreateUsbMessage(TKorvikUsbMessageFactory::DirectionReceived, buffer));
  }
  // Takes the next command and marks it sent, as the transfer thread does.
  TKorvikUsbCommand* SendNext() {
    TKorvikUsbCommand* command = panel->NextTransaction();
    if (command) command->Transaction()->SetState(T::StateSent);
    return command;
  }
  std::vector<TKorvikUsbMessage*> Dispatch() {
    std::vector<TKorvikUsbMessage*> out;
    panel->DispatchCompleted([&](TKorvikUsbMessage* m) { out.push_back(m); });
    return out;
  }
  static std::size_t LiveObjects() { return TKorvikObjControl::Instance()->Count(); }

  std::uint32_t now = 1000;
  KorvikLogRecorder log;
  TKorvikObj control;
  std::unique_ptr<TKorvikUsbMessageFactory> factory;
  std::unique_ptr<TKorvikTouchPanel> panel;
  std::vector<TKorvikObj*> changes;
  std::vector<TKorvikUsbMessage*> taken;
};

const Bytes kVersionReply = {0x02, 0x4C, 0x04, 0x04, 'A', 'B', 'C'};
const Bytes kCoordinates = {0x02, 0x4D, 0x07, 0x01, 7, 1, 0x10, 0x00, 0x20, 0x00};

}  // namespace

TEST(KorvikTouchPanel, ModeAndClockFollowTheDeviceIdentity) {
  struct Case {
    std::uint16_t vid, pid;
    std::uint8_t mode;
    const char* clock;
  };
  const Case cases[] = {
      {0x227D, 0x0101, 2, ""},      {0x227D, 0x0102, 0, ""},      {0x227D, 0x0103, 0, ""},
      {0x227D, 0x0104, 1, "16MHz"}, {0x227D, 0x0105, 1, "12MHz"}, {0x227D, 0x0106, 1, "16MHz"},
      {0x227D, 0x0107, 1, "12MHz"}, {0x227D, 0x0108, 2, ""},      {0x227D, 0x0109, 0, ""},
      {0x227D, 0x0110, 0, ""},      {0x227D, 0xFFFF, 0, ""},      {0x1234, 0x0102, 2, ""},
  };
  for (const Case& c : cases) {
    TKorvikTouchPanel panel(nullptr, "p", true, c.vid, c.pid);
    EXPECT_EQ(panel.Mode(), c.mode) << std::hex << c.pid;
    EXPECT_EQ(panel.Clock(), c.clock) << std::hex << c.pid;
  }
  TKorvikTouchPanel panel(nullptr, "path", false, 0x227D, 0x010a);
  EXPECT_EQ(panel.PidText(), "010A");
  EXPECT_EQ(panel.VidText(), "227D");
  EXPECT_EQ(panel.Name(), "path");
  EXPECT_FALSE(panel.Active());
}

TEST_F(PanelTest, CommandGoesThroughEveryStateOneAtATime) {
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  ASSERT_TRUE(Queue(KorvikCmd::GetFirmwareDetail, {0}));
  EXPECT_EQ(changes, (std::vector<TKorvikObj*>{panel.get(), panel.get()}));
  ASSERT_EQ(panel->PendingCount(), 2u);
  T* first = panel->Pending(0);
  EXPECT_EQ(first->State(), T::StateQueued);
  EXPECT_EQ(first->Owner(), panel.get());

  TKorvikUsbCommand* command = panel->NextTransaction();
  ASSERT_TRUE(command);
  EXPECT_EQ(command->CommandIndex(), KorvikCmd::GetVersion);
  EXPECT_EQ(first->State(), T::StateTaken);
  EXPECT_EQ(taken, std::vector<TKorvikUsbMessage*>{command});
  EXPECT_EQ(panel->NextTransaction(), nullptr);  // one outstanding at a time

  now = 5000;
  first->SetState(T::StateSent);
  EXPECT_EQ(first->SendTick(), 5000u);
  EXPECT_EQ(panel->NextTransaction(), nullptr);

  ASSERT_TRUE(Deliver(kVersionReply));
  EXPECT_EQ(first->State(), T::StateComplete);
  EXPECT_EQ(first->MessageCount(), 2u);
  EXPECT_EQ(panel->PendingCount(), 1u);
  EXPECT_EQ(panel->CompletedCount(), 1u);
  // The next command waits until the answer was dispatched.
  EXPECT_EQ(panel->NextTransaction(), nullptr);

  auto dispatched = Dispatch();
  ASSERT_EQ(dispatched.size(), 1u);
  auto* reply = dynamic_cast<TKorvikUsbResponseType4*>(dispatched[0]);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Transaction(), first);
  EXPECT_EQ(first->State(), T::StateDispatched);

  TKorvikUsbCommand* next = panel->NextTransaction();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->CommandIndex(), KorvikCmd::GetFirmwareDetail);
  // The dispatched exchange has been freed.
  EXPECT_EQ(panel->TransactionCount(), 1u);
}

TEST_F(PanelTest, ResponseMatchingNothingIsNotTaken) {
  const std::size_t live = LiveObjects();
  EXPECT_FALSE(Deliver(kVersionReply));
  EXPECT_EQ(changes, std::vector<TKorvikObj*>{panel.get()});
  EXPECT_EQ(panel->TransactionCount(), 0u);
  EXPECT_EQ(LiveObjects(), live);  // the refused message was freed

  // A queued command of another row does not take it either.
  ASSERT_TRUE(Queue(KorvikCmd::Calibrate));
  SendNext();
  EXPECT_FALSE(Deliver(kVersionReply));
  EXPECT_EQ(panel->PendingCount(), 1u);
  EXPECT_FALSE(panel->HandleMessage(nullptr));
}

TEST_F(PanelTest, ReportsAreDispatchedWhileACommandIsOutstanding) {
  ASSERT_TRUE(Queue(KorvikCmd::Calibrate));
  ASSERT_TRUE(SendNext());
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));

  ASSERT_TRUE(Deliver(kCoordinates));
  ASSERT_EQ(panel->CompletedCount(), 1u);
  auto dispatched = Dispatch();
  ASSERT_EQ(dispatched.size(), 1u);
  EXPECT_TRUE(dynamic_cast<TKorvikUsbCoordinatesReport*>(dispatched[0]));
  EXPECT_EQ(panel->Pending(0)->State(), T::StateSent);

  // Calibrate answered and dispatched; then a report holds back the next command.
  ASSERT_TRUE(Deliver({0x02, 0x4C, 0x02, 0x01, 0x01}));
  Dispatch();
  ASSERT_TRUE(Deliver(kCoordinates));
  EXPECT_EQ(panel->NextTransaction(), nullptr);
  Dispatch();
  TKorvikUsbCommand* next = panel->NextTransaction();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->CommandIndex(), KorvikCmd::GetVersion);
}

TEST_F(PanelTest, ParallelPanelSendsEveryQueuedCommand) {
  panel->SetParallel(true);
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  ASSERT_TRUE(Queue(KorvikCmd::GetFirmwareDetail, {0}));
  ASSERT_TRUE(Deliver(kCoordinates));
  EXPECT_TRUE(panel->NextTransaction());
  EXPECT_TRUE(panel->NextTransaction());
  EXPECT_FALSE(panel->NextTransaction());
}

TEST_F(PanelTest, SentExchangesTimeOutAfterThreeOrSixtySeconds) {
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  ASSERT_TRUE(SendNext());
  now += 3000;
  panel->CheckTimeouts();
  EXPECT_EQ(panel->PendingCount(), 1u);
  now += 1;
  panel->CheckTimeouts();
  EXPECT_EQ(panel->PendingCount(), 0u);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].text, "Transaction timeout!(3001ms) Msg: GetVersion");
  EXPECT_EQ(log.entries[0].level, 5);
  // A late answer finds nothing, and nothing reaches the dispatcher.
  EXPECT_FALSE(Deliver(kVersionReply));
  EXPECT_TRUE(Dispatch().empty());
  EXPECT_EQ(panel->TransactionCount(), 0u);

  for (std::uint8_t row : {KorvikCmd::Calibrate, KorvikCmd::DfuSetBootSelect}) {
    log.entries.clear();
    ASSERT_TRUE(Queue(row));
    ASSERT_TRUE(SendNext());
    now += 59999;
    panel->CheckTimeouts();
    EXPECT_EQ(panel->PendingCount(), 1u) << KorvikCommandName(row);
    now += 2;
    panel->CheckTimeouts();
    EXPECT_EQ(panel->PendingCount(), 0u);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].text,
              std::string("Transaction timeout!(60001ms) Msg: ") + KorvikCommandName(row));
  }
}

TEST_F(PanelTest, TimeoutsSurviveTheCounterWrapping) {
  now = 0xFFFFFF00u;
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  ASSERT_TRUE(SendNext());
  now = 0x00000100u;  // 512 ms later
  panel->CheckTimeouts();
  EXPECT_EQ(panel->PendingCount(), 1u);
  now = 0x00000C00u;  // 3328 ms later
  panel->CheckTimeouts();
  EXPECT_EQ(panel->PendingCount(), 0u);
}

TEST_F(PanelTest, FailedOrTimedOutExchangeLeavesOnlyItselfFromPending) {
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {1}));
  T* first = panel->Pending(0);
  ASSERT_TRUE(SendNext());
  changes.clear();
  now += 3001;
  panel->CheckTimeouts();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], static_cast<TKorvikObj*>(first));
  // The twin command stays queued and goes out next.
  ASSERT_EQ(panel->PendingCount(), 1u);
  TKorvikUsbCommand* next = panel->NextTransaction();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->Data()[4], 1);

  // Abandoned sending.
  next->Transaction()->SetState(T::StateSendFailed);
  EXPECT_EQ(panel->PendingCount(), 0u);
  EXPECT_TRUE(Dispatch().empty());
}

TEST_F(PanelTest, BootLoaderAndDetailAnswersUpdateThePanel) {
  ASSERT_TRUE(Queue(KorvikCmd::DfuGetBootSelect));
  ASSERT_TRUE(SendNext());
  ASSERT_TRUE(Deliver({0xF3, 0x01, 0x00, 0x01, 0x11, 0x02}));
  EXPECT_EQ(panel->Mode(), TKorvikTouchPanel::ModeDfu);
  EXPECT_EQ(panel->LoaderState(), 2);
  EXPECT_EQ(panel->McuIndex(), 2);  // 0x0211 & 0xFF0F = 0x0201, the third row
  EXPECT_EQ(panel->CompletedCount(), 1u);

  Deliver({0x02, 0x4C, 0x0E, 0x06, 20, 12, 0x40, 0x00, 0x07, 0x00, 0x05, 0x00, 0x03});
  EXPECT_EQ(panel->XCount(), 20);
  EXPECT_EQ(panel->YCount(), 12);
  EXPECT_EQ(panel->DetailByte8(), 7);
  EXPECT_EQ(panel->XRange(), 0x0500);
  EXPECT_EQ(panel->YRange(), 0x0300);
}

TEST_F(PanelTest, SetBootSelectCompletesWithoutAnAnswer) {
  ASSERT_TRUE(Queue(KorvikCmd::DfuSetBootSelect, {1}));
  ASSERT_TRUE(SendNext());
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  panel->CompleteSetBootSelect();
  EXPECT_EQ(panel->PendingCount(), 1u);
  auto dispatched = Dispatch();
  ASSERT_EQ(dispatched.size(), 1u);
  EXPECT_TRUE(dynamic_cast<TKorvikUsbDfuCmdSetBootSelect*>(dispatched[0]));
}

TEST_F(PanelTest, MemoryStaysBoundedWhileTheControllerStreams) {
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  ASSERT_TRUE(SendNext());
  const std::size_t live = LiveObjects();
  std::size_t dispatched = 0;
  std::size_t peak = 0;
  for (int i = 0; i < 100000; ++i) {
    ASSERT_TRUE(Deliver(kCoordinates));
    if (i % 10 == 9) {
      dispatched += Dispatch().size();
      panel->CheckTimeouts();
      peak = std::max(peak, LiveObjects());
    }
  }
  EXPECT_EQ(dispatched, 100000u);
  EXPECT_LE(peak, live + 2 * 10);
  EXPECT_EQ(LiveObjects(), live);
  EXPECT_EQ(panel->Pending(0)->State(), T::StateSent);  // the command is still outstanding
}

TEST_F(PanelTest, FreeingThePanelFreesEverything) {
  const std::size_t before = LiveObjects();
  auto other = std::make_unique<TKorvikTouchPanel>(&control, "p", true, 0x227D, 0x0102);
  std::vector<TKorvikObj*> events;
  other->SetOnTransactionsChanged([&](TKorvikObj* sender) { events.push_back(sender); });
  other->HandleMessage(factory->CreateUsbCommand(KorvikCmd::Calibrate, {}));
  events.clear();
  TKorvikObj* raw = other.get();
  other.reset();
  EXPECT_EQ(events, std::vector<TKorvikObj*>{raw});
  EXPECT_EQ(LiveObjects(), before);
}

namespace {

class ScriptedUnit : public TKorvikUsbScenarioUnit {
 public:
  ScriptedUnit(TKorvikObj* owner, std::uint8_t stepState, int* starts)
      : TKorvikUsbScenarioUnit(owner), stepState_(stepState), starts_(starts) {}
  void Start() override { ++*starts_; }
  void Step() override { SetState(stepState_); }

 private:
  std::uint8_t stepState_;
  int* starts_;
};

}  // namespace

TEST_F(PanelTest, ScenariosRunToCompletionOrFailure) {
  int starts = 0;
  auto running = std::make_unique<TKorvikUsbScenario>(panel.get());
  running->AddUnit(std::make_unique<ScriptedUnit>(running.get(), 2, &starts));
  auto done = std::make_unique<TKorvikUsbScenario>(panel.get());
  done->AddUnit(std::make_unique<ScriptedUnit>(done.get(), 1, &starts));
  auto dfu = std::make_unique<TKorvikUsbScenario>(panel.get(), true);
  dfu->AddUnit(std::make_unique<ScriptedUnit>(dfu.get(), 3, &starts));
  TKorvikUsbScenario* runningRaw = running.get();
  panel->AddScenario(std::move(running));
  panel->AddScenario(std::move(done));
  panel->AddScenario(std::move(dfu));
  EXPECT_TRUE(panel->HasDfuScenario());

  panel->RunScenarios();
  panel->RunScenarios();
  EXPECT_EQ(starts, 1);  // started once
  EXPECT_EQ(panel->ScenarioCount(), 3u);
  EXPECT_TRUE(log.entries.empty());

  runningRaw->Units().clear();  // nothing left: completed
  panel->RunScenarios();
  EXPECT_EQ(panel->ScenarioCount(), 2u);
  panel->RunScenarios();
  panel->RunScenarios();
  EXPECT_EQ(panel->ScenarioCount(), 0u);
  EXPECT_FALSE(panel->HasDfuScenario());

  std::vector<std::pair<std::string, int>> got;
  for (const auto& e : log.entries) got.emplace_back(e.text, e.level);
  const std::vector<std::pair<std::string, int>> want = {
      {"Scenario completed.", 0},  {"TKorvikUsbScenarioUnit completed.", 0},
      {"Scenario completed.", 0},  {"TKorvikUsbScenarioUnit failed.", 5},
      {"DFU scenario failed.", 0},
  };
  EXPECT_EQ(got, want);
}
