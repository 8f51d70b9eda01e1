// Handlers that call back into a panel from inside the events it fires: queueing commands,
// freeing the panel, replacing themselves. Run under the address sanitizer to see misuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "KorvikLogRecorder.h"
#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikObjControl.h"
#include "calib/framework/TKorvikTouchPanel.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"
#include "calib/framework/TKorvikUsbScenario.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using T = TKorvikUsbTransaction;

const Bytes kVersionReply = {0x02, 0x4C, 0x04, 0x04, 'A', 'B', 'C'};
const Bytes kCoordinates = {0x02, 0x4D, 0x07, 0x01, 7, 1, 0x10, 0x00, 0x20, 0x00};

class ReentrancyTest : public ::testing::Test {
 protected:
  ReentrancyTest() {
    KorvikSetTickSource([this] { return now; });
    control.SetOnLog(log.Sink());
    factory = std::make_unique<TKorvikUsbMessageFactory>(&control);
    panel = std::make_unique<TKorvikTouchPanel>(&control, "panel", true, 0x227D, 0x0102);
  }
  ~ReentrancyTest() override {
    TKorvikObjControl::Instance()->SetOnObjectAdded(nullptr);
    TKorvikObjControl::Instance()->SetOnObjectRemoved(nullptr);
    panel.reset();
    KorvikSetTickSource(nullptr);
  }

  // What the touch panel control does for a command call.
  bool Queue(std::uint8_t row, const Bytes& args = {}) {
    return panel->HandleMessage(factory->CreateUsbCommand(row, args));
  }
  bool Deliver(const Bytes& frame) {
    Bytes buffer(1024, 0);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    return panel->HandleMessage(
        factory->CreateUsbMessage(TKorvikUsbMessageFactory::DirectionReceived, buffer));
  }
  TKorvikUsbCommand* SendNext() {
    TKorvikUsbCommand* command = panel->NextTransaction();
    if (command) command->Transaction()->SetState(T::StateSent);
    return command;
  }
  std::vector<std::uint8_t> PendingRows() const {
    std::vector<std::uint8_t> rows;
    for (std::size_t i = 0; i < panel->PendingCount(); ++i)
      rows.push_back(
          static_cast<TKorvikUsbCommand*>(panel->Pending(i)->FirstMessage())->CommandIndex());
    return rows;
  }
  static std::size_t LiveObjects() { return TKorvikObjControl::Instance()->Count(); }

  std::uint32_t now = 1000;
  KorvikLogRecorder log;
  TKorvikObj control;
  std::unique_ptr<TKorvikUsbMessageFactory> factory;
  std::unique_ptr<TKorvikTouchPanel> panel;
};

}  // namespace

// The form's reaction to a calibration that got no answer: a new command from inside the
// timeout's change event. The timed-out exchange must outlive its own event and log.
TEST_F(ReentrancyTest, CommandQueuedFromTheTimeoutEvent) {
  const std::size_t live = LiveObjects();
  std::vector<std::string> order;
  panel->SetOnLog([&](const std::string& text, std::uint8_t) { order.push_back(text); });
  ASSERT_TRUE(Queue(KorvikCmd::Calibrate));
  T* calibrate = panel->Pending(0);
  ASSERT_TRUE(SendNext());
  panel->SetOnTransactionsChanged([&](TKorvikObj* sender) {
    auto* transaction = dynamic_cast<T*>(sender);
    if (!transaction || transaction->State() != T::StateTimedOut) return;
    order.push_back("changed");
    EXPECT_TRUE(Queue(KorvikCmd::ChangeCoordinatesReportPermission, {0}));
  });
  now += 60001;
  panel->CheckTimeouts();

  EXPECT_EQ(order,
            (std::vector<std::string>{"changed", "Transaction timeout!(60001ms) Msg: Calibrate"}));
  EXPECT_EQ(PendingRows(), Bytes{KorvikCmd::ChangeCoordinatesReportPermission});
  // Freed once its event has returned, no later than the next call from outside.
  EXPECT_EQ(panel->TransactionCount(), 1u);
  EXPECT_NE(panel->Pending(0), calibrate);
  TKorvikUsbCommand* next = panel->NextTransaction();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->CommandIndex(), KorvikCmd::ChangeCoordinatesReportPermission);
  next->Transaction()->SetState(T::StateSendFailed);
  panel->CheckTimeouts();
  EXPECT_EQ(panel->TransactionCount(), 0u);
  EXPECT_EQ(LiveObjects(), live);
}

TEST_F(ReentrancyTest, CommandQueuedFromTheSendFailedAndDispatchEvents) {
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  TKorvikUsbCommand* command = panel->NextTransaction();
  ASSERT_TRUE(command);
  int queued = 0;
  panel->SetOnTransactionsChanged([&](TKorvikObj* sender) {
    auto* transaction = dynamic_cast<T*>(sender);
    if (transaction && transaction->State() == T::StateSendFailed && queued++ == 0)
      Queue(KorvikCmd::GetVersion, {1});
  });
  T* failed = command->Transaction();
  failed->SetState(T::StateSendFailed);
  // Still readable by whoever set the state.
  EXPECT_EQ(failed->State(), T::StateSendFailed);
  EXPECT_EQ(failed->FirstMessage(), command);
  ASSERT_EQ(queued, 1);
  ASSERT_EQ(panel->PendingCount(), 1u);

  // Every dispatched answer queues the next request: each message stays valid through its
  // handler and all completed exchanges are dispatched in order.
  ASSERT_TRUE(SendNext());
  ASSERT_TRUE(Deliver(kVersionReply));
  ASSERT_TRUE(Deliver(kCoordinates));
  std::vector<std::string> seen;
  const std::size_t count = panel->DispatchCompleted([&](TKorvikUsbMessage* message) {
    seen.push_back(KorvikFormat("%02X", message->Data()[1]));
    EXPECT_EQ(message->Transaction()->State(), T::StateComplete);
    Queue(KorvikCmd::GetFirmwareDetail, {0});
    if (seen.size() <= 2) Deliver(kCoordinates);  // new completed work is dispatched too
    EXPECT_EQ(message->Transaction()->LastMessage(), message);
  });
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(seen, (std::vector<std::string>{"4C", "4D", "4D", "4D"}));
  EXPECT_EQ(panel->PendingCount(), 4u);
  // Dispatched, then freed by the next outside call.
  EXPECT_TRUE(panel->NextTransaction());
  EXPECT_EQ(panel->TransactionCount(), 4u);
}

TEST_F(ReentrancyTest, RegistryEventsMayQueueCommandsWhileTransactionsAreMadeAndFreed) {
  ASSERT_TRUE(Deliver(kCoordinates));
  ASSERT_TRUE(Deliver(kCoordinates));
  ASSERT_EQ(panel->DispatchCompleted([](TKorvikUsbMessage*) {}), 2u);
  TKorvikObjControl* registry = TKorvikObjControl::Instance();
  // Objects are listed and unlisted by their base part: no dynamic type to tell them apart.
  int removals = 0;
  registry->SetOnObjectRemoved([&](TKorvikObj*) {
    if (++removals <= 2) Queue(KorvikCmd::GetVersion, {0});
  });
  int additions = 0;
  registry->SetOnObjectAdded([&](TKorvikObj*) {
    if (++additions == 1) Queue(KorvikCmd::GetFirmwareDetail, {0});
  });
  // The Calibrate message is made first and queues GetFirmwareDetail from its registration;
  // that call frees the two dispatched reports (each message, then its transaction), and the
  // first two removals queue GetVersion, each inside the call before it.
  ASSERT_TRUE(Queue(KorvikCmd::Calibrate));
  registry->SetOnObjectAdded(nullptr);
  registry->SetOnObjectRemoved(nullptr);
  EXPECT_EQ(removals, 4);
  EXPECT_EQ(PendingRows(), (Bytes{KorvikCmd::GetVersion, KorvikCmd::GetVersion,
                                  KorvikCmd::GetFirmwareDetail, KorvikCmd::Calibrate}));
  EXPECT_EQ(panel->TransactionCount(), 4u);
}

// A handler may free the very panel that fires the event (a device removal handled inside
// the handler): the panel's call must end without touching it.
TEST_F(ReentrancyTest, PanelFreedFromInsideItsOwnEvents) {
  auto freeOn = [&](auto pick) {
    panel->SetOnTransactionsChanged([&, pick](TKorvikObj* sender) {
      if (pick(sender)) panel.reset();
    });
  };
  auto fresh = [&] {
    panel = std::make_unique<TKorvikTouchPanel>(&control, "panel", true, 0x227D, 0x0102);
  };
  // Objects left once the panel (and what it owns) is gone.
  const std::size_t live = LiveObjects() - 2;

  // Timeout: the log line of the timeout still appears.
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  ASSERT_TRUE(Queue(KorvikCmd::GetFirmwareDetail, {0}));
  ASSERT_TRUE(SendNext());
  freeOn([](TKorvikObj* s) { return dynamic_cast<T*>(s) != nullptr; });
  now += 3001;
  panel->CheckTimeouts();
  EXPECT_FALSE(panel);
  EXPECT_EQ(log.Count("Transaction timeout!(3001ms) Msg: GetVersion"), 1);
  EXPECT_EQ(LiveObjects(), live);

  // Change event of HandleMessage.
  fresh();
  freeOn([&](TKorvikObj* s) { return s == panel.get(); });
  EXPECT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  EXPECT_FALSE(panel);

  // Send event: nothing is handed out for sending.
  fresh();
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  panel->SetOnSendCommand([&](TKorvikUsbMessage*) { panel.reset(); });
  TKorvikTouchPanel* raw = panel.get();
  EXPECT_EQ(raw->NextTransaction(), nullptr);
  EXPECT_FALSE(panel);

  // Dispatch: the rest stays undispatched and nothing is marked.
  fresh();
  ASSERT_TRUE(Deliver(kCoordinates));
  ASSERT_TRUE(Deliver(kCoordinates));
  raw = panel.get();
  int calls = 0;
  EXPECT_EQ(raw->DispatchCompleted([&](TKorvikUsbMessage*) {
    ++calls;
    panel.reset();
  }),
            1u);
  EXPECT_EQ(calls, 1);

  // Send failure.
  fresh();
  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));
  TKorvikUsbCommand* command = panel->NextTransaction();
  ASSERT_TRUE(command);
  freeOn([](TKorvikObj* s) { return dynamic_cast<T*>(s) != nullptr; });
  command->Transaction()->SetState(T::StateSendFailed);
  EXPECT_FALSE(panel);
  EXPECT_EQ(LiveObjects(), live);
}

namespace {

class UnitThatFreesThePanel : public TKorvikUsbScenarioUnit {
 public:
  UnitThatFreesThePanel(TKorvikObj* owner, std::unique_ptr<TKorvikTouchPanel>* panel, bool inStart)
      : TKorvikUsbScenarioUnit(owner), FPanel(panel), FInStart(inStart) {}
  void Start() override {
    if (FInStart) FPanel->reset();
  }
  void Step() override {
    if (!FInStart) FPanel->reset();
  }

 private:
  std::unique_ptr<TKorvikTouchPanel>* FPanel;
  bool FInStart;
};

}  // namespace

TEST_F(ReentrancyTest, PanelFreedByAScenarioUnitOrALogHandler) {
  for (bool inStart : {true, false}) {
    panel = std::make_unique<TKorvikTouchPanel>(&control, "panel", true, 0x227D, 0x0102);
    auto scenario = std::make_unique<TKorvikUsbScenario>(panel.get());
    scenario->AddUnit(std::make_unique<UnitThatFreesThePanel>(scenario.get(), &panel, inStart));
    scenario->AddUnit(std::make_unique<UnitThatFreesThePanel>(scenario.get(), &panel, inStart));
    panel->AddScenario(std::move(scenario));
    TKorvikTouchPanel* raw = panel.get();
    raw->RunScenarios();
    EXPECT_FALSE(panel);
  }

  // The panel's own log sink frees it at a unit's completion.
  panel = std::make_unique<TKorvikTouchPanel>(&control, "panel", true, 0x227D, 0x0102);
  int logs = 0;
  panel->SetOnLog([&](const std::string&, std::uint8_t) {
    ++logs;
    panel.reset();
  });
  auto scenario = std::make_unique<TKorvikUsbScenario>(panel.get());
  int starts = 0;
  struct Done : TKorvikUsbScenarioUnit {
    Done(TKorvikObj* owner, int* starts) : TKorvikUsbScenarioUnit(owner), FStarts(starts) {}
    void Start() override { ++*FStarts; }
    int* FStarts;
  };
  scenario->AddUnit(std::make_unique<Done>(scenario.get(), &starts));
  scenario->AddUnit(std::make_unique<Done>(scenario.get(), &starts));
  panel->AddScenario(std::move(scenario));
  panel->RunScenarios();
  EXPECT_FALSE(panel);
  EXPECT_EQ(logs, 1);
  EXPECT_EQ(starts, 1);
}

// A handler that replaces itself while it runs must not destroy the code it is running.
TEST_F(ReentrancyTest, HandlersMayReplaceThemselvesWhileRunning) {
  std::vector<std::string> seen;
  const std::string tag(64, 'c');  // large enough to live on the heap with the handler
  panel->SetOnTransactionsChanged([&, tag](TKorvikObj*) {
    panel->SetOnTransactionsChanged(nullptr);
    seen.push_back(tag);
  });
  panel->SetOnSendCommand([&, tag](TKorvikUsbMessage*) {
    panel->SetOnSendCommand(nullptr);
    seen.push_back(tag);
  });
  control.SetOnLog(nullptr);
  auto logged = std::make_unique<TKorvikObj>();
  logged->SetOnLog([&, tag](const std::string&, std::uint8_t) {
    logged->SetOnLog(nullptr);
    seen.push_back(tag);
  });
  TKorvikObjControl* registry = TKorvikObjControl::Instance();
  registry->SetOnObjectAdded([&, tag](TKorvikObj*) {
    registry->SetOnObjectAdded(nullptr);
    seen.push_back(tag);
  });
  registry->SetOnObjectRemoved([&, tag](TKorvikObj*) {
    registry->SetOnObjectRemoved(nullptr);
    seen.push_back(tag);
  });

  ASSERT_TRUE(Queue(KorvikCmd::GetVersion, {0}));  // added (message, transaction), changed
  ASSERT_TRUE(panel->NextTransaction());           // send command
  logged->Log("text", 0);
  logged.reset();  // removed

  // The dispatch handler (the control's field) cleared by its own call: the rest stays
  // completed, undispatched.
  TKorvikMessageEvent onMessage = [&, tag](TKorvikUsbMessage*) {
    onMessage = nullptr;
    seen.push_back(tag);
  };
  ASSERT_TRUE(Deliver(kCoordinates));
  ASSERT_TRUE(Deliver(kCoordinates));
  EXPECT_EQ(panel->DispatchCompleted(onMessage), 1u);
  EXPECT_EQ(panel->CompletedCount(), 1u);
  EXPECT_EQ(seen, std::vector<std::string>(6, tag));
}
