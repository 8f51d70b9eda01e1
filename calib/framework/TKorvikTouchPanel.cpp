#include "calib/framework/TKorvikTouchPanel.h"

#include <algorithm>

#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikMcuTable.h"
#include "calib/framework/TKorvikUsbDfuCommand.h"
#include "calib/framework/TKorvikUsbDfuResponse.h"
#include "calib/framework/TKorvikUsbReport.h"
#include "calib/framework/TKorvikUsbResponse.h"

namespace {

constexpr std::uint32_t LongTimeoutMs = 60000;
constexpr std::uint32_t ShortTimeoutMs = 3000;

bool Contains(const std::vector<TKorvikUsbTransaction*>& list, const TKorvikUsbTransaction* t) {
  return std::find(list.begin(), list.end(), t) != list.end();
}

}  // namespace

TKorvikTouchPanel::TKorvikTouchPanel(TKorvikObj* control, const std::string& name, bool active,
                                     std::uint16_t vid, std::uint16_t pid)
    : TKorvikObj(control),
      FActive(active),
      FFactory(std::make_unique<TKorvikUsbMessageFactory>(this)),
      FPidText(KorvikFormat("%04X", pid)),
      FVidText(KorvikFormat("%04X", vid)),
      FLife(std::make_shared<TKorvikPanelLife>()) {
  SetName(name);
  FMode = ModeFor(vid, pid, &FClock);
}

TKorvikTouchPanel::~TKorvikTouchPanel() {
  // Calls still running on this panel (and calls made by the events below) stop here.
  FLife->Alive = false;
  const bool hadPending = !FPending.empty();
  // The lists only point into FTransactions: empty them first so nothing sees freed entries.
  FPending.clear();
  FCompleted.clear();
  // Moved out before freeing: handlers of the registry's events see empty lists.
  auto transactions = std::move(FTransactions);
  FTransactions.clear();
  transactions.clear();
  auto scenarios = std::move(FScenarios);
  FScenarios.clear();
  scenarios.clear();
  if (hadPending && FOnTransactionsChanged) FOnTransactionsChanged(this);
  FOnTransactionsChanged = nullptr;
  FOnSendCommand = nullptr;
  FFactory.reset();
}

std::uint8_t TKorvikTouchPanel::ModeFor(std::uint16_t vid, std::uint16_t pid, std::string* clock) {
  std::string speed;
  std::uint8_t mode = ModeUnknown;
  if (vid == KorvikVid) {
    if (pid == 0x0102 || pid == 0x0103) {
      mode = ModeApplication;
    } else if (pid >= 0x0104 && pid <= 0x0107) {
      mode = ModeDfu;
      speed = (pid == 0x0104 || pid == 0x0106) ? "16MHz" : "12MHz";
    } else if (pid >= 0x0109) {
      mode = ModeApplication;
    }
  }
  if (clock) *clock = speed;
  return mode;
}

bool TKorvikTouchPanel::ResponseMatchesRow(const TKorvikUsbMessage& response, std::uint8_t row) {
  if (row >= KorvikCommandTable.size() || response.Length() < 4) return false;
  const TKorvikCommandRow& r = KorvikCommandTable[row];
  const TKorvikBytes& d = response.Data();
  if (d[0] == 0x02) return r.b0 == d[0] && r.b1 == d[1] && r.b3 == d[3];
  if (d[0] == 0xF3 || d[0] == 0xF4) return r.b1 == d[1];
  return false;
}

TKorvikTouchPanel::EventScope::EventScope(TKorvikTouchPanel& panel) : FLife(panel.FLife) {
  ++FLife->Depth;
}

TKorvikTouchPanel::EventScope::~EventScope() {
  --FLife->Depth;
}

bool TKorvikTouchPanel::InEvent() const {
  return FLife->Depth > 0;
}

bool TKorvikTouchPanel::HandleMessage(std::unique_ptr<TKorvikUsbMessage> message) {
  if (!FLife->Alive) return false;
  ReleaseFinished();
  EventScope scope(*this);
  bool taken = false;
  if (message) {
    UpdateFrom(*message);
    if (dynamic_cast<TKorvikUsbResponse*>(message.get()))
      taken = TakeResponse(message);
    else if (dynamic_cast<TKorvikUsbCommand*>(message.get()) ||
             dynamic_cast<TKorvikUsbReport*>(message.get()))
      taken = TakeCommandOrReport(message);
  }
  // Registry handlers run while the transaction is made and may have freed the panel.
  if (!scope.PanelAlive()) return false;
  FireTransactionsChanged(this);
  return taken;
}

void TKorvikTouchPanel::UpdateFrom(const TKorvikUsbMessage& message) {
  if (const auto* boot = dynamic_cast<const TKorvikUsbDfuResGetBootSelect*>(&message)) {
    FLoaderState = boot->LoaderState();
    FMode = boot->BootSelect();
    const int mcu = KorvikFindMcu(boot->McuId());
    if (mcu >= 0) FMcuIndex = static_cast<std::uint8_t>(mcu);
  } else if (const auto* detail = dynamic_cast<const TKorvikUsbResponseType5*>(&message)) {
    FXCount = detail->DetailXCount();
    FYCount = detail->DetailYCount();
    FDetailByte8 = detail->DetailByte8();
    FXRange = detail->DetailXRange();
    FYRange = detail->DetailYRange();
  }
}

bool TKorvikTouchPanel::TakeResponse(std::unique_ptr<TKorvikUsbMessage>& message) {
  for (auto it = FPending.begin(); it != FPending.end(); ++it) {
    const auto* command = dynamic_cast<const TKorvikUsbCommand*>((*it)->FirstMessage());
    if (!command || !ResponseMatchesRow(*message, command->CommandIndex())) continue;
    TKorvikUsbTransaction* transaction = *it;
    if (!transaction->AddMessage(std::move(message))) return false;
    FPending.erase(it);
    FCompleted.push_back(transaction);
    return true;
  }
  return false;
}

bool TKorvikTouchPanel::TakeCommandOrReport(std::unique_ptr<TKorvikUsbMessage>& message) {
  auto transaction = std::make_unique<TKorvikUsbTransaction>(this, std::move(message));
  if (!FLife->Alive) return false;
  TKorvikUsbTransaction* raw = transaction.get();
  FTransactions.push_back(std::move(transaction));
  if (raw->State() > TKorvikUsbTransaction::StateSent)
    FCompleted.push_back(raw);
  else
    FPending.push_back(raw);
  return true;
}

TKorvikUsbCommand* TKorvikTouchPanel::NextTransaction() {
  if (!FLife->Alive) return nullptr;
  ReleaseFinished();
  if (FPending.empty()) return nullptr;
  EventScope scope(*this);
  TKorvikUsbTransaction* chosen = nullptr;
  if (FParallel) {
    for (TKorvikUsbTransaction* t : FPending) {
      if (t->State() == TKorvikUsbTransaction::StateQueued) {
        chosen = t;
        break;
      }
    }
  } else if (FCompleted.empty() &&
             FPending.front()->State() == TKorvikUsbTransaction::StateQueued) {
    chosen = FPending.front();
  }
  if (!chosen) return nullptr;
  TKorvikUsbMessage* first = chosen->TakeForSending();
  // A handler of the send event that freed the panel freed the command with it.
  if (!scope.PanelAlive()) return nullptr;
  return dynamic_cast<TKorvikUsbCommand*>(first);
}

std::uint32_t TKorvikTouchPanel::TimeoutFor(const TKorvikUsbTransaction& transaction) {
  const auto* command = dynamic_cast<const TKorvikUsbCommand*>(transaction.FirstMessage());
  if (command && (command->CommandIndex() == KorvikCmd::Calibrate ||
                  command->CommandIndex() == KorvikCmd::DfuSetBootSelect))
    return LongTimeoutMs;
  return ShortTimeoutMs;
}

void TKorvikTouchPanel::CheckTimeouts() {
  if (!FLife->Alive) return;
  {
    EventScope scope(*this);
    for (std::size_t i = FPending.size(); i-- > 0;) {
      if (i >= FPending.size()) continue;
      TKorvikUsbTransaction* transaction = FPending[i];
      if (transaction->State() != TKorvikUsbTransaction::StateSent) continue;
      const std::uint32_t elapsed = KorvikTickCount() - transaction->SendTick();
      if (elapsed <= TimeoutFor(*transaction)) continue;
      transaction->SetState(TKorvikUsbTransaction::StateTimedOut);
      if (!scope.PanelAlive()) return;
    }
  }
  ReleaseFinished();
}

void TKorvikTouchPanel::CompleteSetBootSelect() {
  for (std::size_t i = FPending.size(); i-- > 0;) {
    TKorvikUsbTransaction* transaction = FPending[i];
    if (!dynamic_cast<const TKorvikUsbDfuCmdSetBootSelect*>(transaction->FirstMessage())) continue;
    transaction->SetState(TKorvikUsbTransaction::StateComplete);
    FPending.erase(FPending.begin() + static_cast<std::ptrdiff_t>(i));
    FCompleted.push_back(transaction);
  }
}

void TKorvikTouchPanel::AbandonQueued() {
  if (!FLife->Alive) return;
  EventScope scope(*this);
  std::vector<TKorvikUsbTransaction*> queued;
  for (TKorvikUsbTransaction* t : FPending)
    if (t->State() == TKorvikUsbTransaction::StateQueued) queued.push_back(t);
  // Each change event may alter the list: only what is still pending is abandoned.
  for (TKorvikUsbTransaction* t : queued) {
    if (!Contains(FPending, t)) continue;
    t->SetState(TKorvikUsbTransaction::StateSendFailed);
    if (!scope.PanelAlive()) return;
  }
}

std::size_t TKorvikTouchPanel::UnsentCount() const {
  return static_cast<std::size_t>(
      std::count_if(FPending.begin(), FPending.end(), [](const TKorvikUsbTransaction* t) {
        return t->State() == TKorvikUsbTransaction::StateQueued ||
               t->State() == TKorvikUsbTransaction::StateTaken;
      }));
}

void TKorvikTouchPanel::ReleaseFinished() {
  // A transaction whose event is still running stays until the next call from outside.
  if (!FLife->Alive || InEvent()) return;
  EventScope scope(*this);
  std::vector<std::unique_ptr<TKorvikUsbTransaction>> finished;
  auto keep = std::stable_partition(FTransactions.begin(), FTransactions.end(),
                                    [this](const std::unique_ptr<TKorvikUsbTransaction>& t) {
                                      return !t->Finished() || Contains(FPending, t.get()) ||
                                             Contains(FCompleted, t.get());
                                    });
  finished.insert(finished.end(), std::make_move_iterator(keep),
                  std::make_move_iterator(FTransactions.end()));
  FTransactions.erase(keep, FTransactions.end());
  // Freed outside the list: the registry's handlers may add transactions meanwhile.
  finished.clear();
}

TKorvikUsbTransaction* TKorvikTouchPanel::TakeFirstCompleted() {
  if (FCompleted.empty()) return nullptr;
  TKorvikUsbTransaction* first = FCompleted.front();
  FCompleted.erase(FCompleted.begin());
  return first;
}

std::size_t TKorvikTouchPanel::DispatchCompleted(const TKorvikMessageEvent& onMessage) {
  if (!FLife->Alive) return 0;
  EventScope scope(*this);
  std::size_t count = 0;
  // The handler may be replaced or cleared by its own call: look at it before each message,
  // and run a copy.
  while (onMessage && HasCompleted()) {
    TKorvikUsbTransaction* transaction = TakeFirstCompleted();
    const TKorvikMessageEvent handler = onMessage;
    handler(transaction->LastMessage());
    ++count;
    if (!scope.PanelAlive()) return count;
    transaction->SetState(TKorvikUsbTransaction::StateDispatched);
  }
  return count;
}

bool TKorvikTouchPanel::RemoveFromPending(TKorvikUsbTransaction* transaction) {
  auto it = std::find(FPending.begin(), FPending.end(), transaction);
  if (it == FPending.end()) return false;
  EventScope scope(*this);
  FPending.erase(it);
  FireTransactionsChanged(transaction);
  return true;
}

// Handlers run from a copy: one that replaces itself must not free the code it runs.
void TKorvikTouchPanel::FireTransactionsChanged(TKorvikObj* sender) {
  if (!FOnTransactionsChanged) return;
  const TKorvikObjEvent handler = FOnTransactionsChanged;
  handler(sender);
}

void TKorvikTouchPanel::FireSendCommand(TKorvikUsbMessage* message) {
  if (!FOnSendCommand) return;
  const TKorvikMessageEvent handler = FOnSendCommand;
  handler(message);
}

void TKorvikTouchPanel::AddScenario(std::unique_ptr<TKorvikUsbScenario> scenario) {
  if (scenario) FScenarios.push_back(std::move(scenario));
}

bool TKorvikTouchPanel::HasDfuScenario() const {
  return std::any_of(FScenarios.begin(), FScenarios.end(),
                     [](const auto& scenario) { return scenario->IsDfu(); });
}

void TKorvikTouchPanel::RunScenarios() {
  // A handler that steps again while a step runs would step the same scenario twice.
  if (!FLife->Alive || FSteppingScenario || FScenarios.empty()) return;
  EventScope scope(*this);
  FSteppingScenario = true;
  TKorvikUsbScenario* scenario = FScenarios.front().get();
  const StepResult result = StepScenario(*scenario, scope);
  if (result == StepResult::PanelGone) return;
  FSteppingScenario = false;
  if (result != StepResult::Ended) return;
  auto it = std::find_if(FScenarios.begin(), FScenarios.end(),
                         [scenario](const auto& s) { return s.get() == scenario; });
  if (it == FScenarios.end()) return;
  std::unique_ptr<TKorvikUsbScenario> ended = std::move(*it);
  FScenarios.erase(it);
}

// Steps every unit, last to first. Units and handlers of the log may free the panel (and with
// it the scenario): every step looks at the scope before it goes on.
TKorvikTouchPanel::StepResult TKorvikTouchPanel::StepScenario(TKorvikUsbScenario& scenario,
                                                              const EventScope& scope) {
  auto& units = scenario.Units();
  for (std::size_t i = units.size(); i-- > 0;) {
    if (i >= units.size()) continue;
    TKorvikUsbScenarioUnit* unit = units[i].get();
    if (unit->State() == TKorvikUsbScenarioUnit::StateNew) {
      unit->Start();
      if (!scope.PanelAlive()) return StepResult::PanelGone;
      unit->SetState(TKorvikUsbScenarioUnit::StateCompleted);
    }
    unit->Step();
    if (!scope.PanelAlive()) return StepResult::PanelGone;
    if (unit->State() == TKorvikUsbScenarioUnit::StateCompleted) {
      Log("TKorvikUsbScenarioUnit completed.", 0);
      if (!scope.PanelAlive()) return StepResult::PanelGone;
      if (i < units.size() && units[i].get() == unit && !unit->Keep()) {
        std::unique_ptr<TKorvikUsbScenarioUnit> done = std::move(units[i]);
        units.erase(units.begin() + static_cast<std::ptrdiff_t>(i));
        done.reset();
        if (!scope.PanelAlive()) return StepResult::PanelGone;
      }
    } else if (unit->State() == TKorvikUsbScenarioUnit::StateFailed) {
      Log("TKorvikUsbScenarioUnit failed.", 5);
      if (!scope.PanelAlive()) return StepResult::PanelGone;
    }
  }
  switch (scenario.State()) {
    case TKorvikUsbScenario::StateCompleted:
      Log(scenario.IsDfu() ? "DFU scenario completed." : "Scenario completed.", 0);
      break;
    case TKorvikUsbScenario::StateFailed:
      if (scenario.IsDfu())
        Log("DFU scenario failed.", 0);
      else
        Log("Scenario failed.", 5);
      break;
    default:
      return StepResult::Running;
  }
  return scope.PanelAlive() ? StepResult::Ended : StepResult::PanelGone;
}
