#include "calib/framework/TKorvikUsbTransaction.h"

#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikTouchPanel.h"
#include "calib/framework/TKorvikUsbCommand.h"
#include "calib/framework/TKorvikUsbReport.h"

TKorvikUsbTransaction::TKorvikUsbTransaction(TKorvikTouchPanel* panel,
                                             std::unique_ptr<TKorvikUsbMessage> message)
    : TKorvikObj(panel), FPanel(panel) {
  AddMessage(std::move(message));
}

TKorvikUsbTransaction::~TKorvikUsbTransaction() {
  // Messages go first, then the base unregisters this object.
  FMessages.clear();
}

bool TKorvikUsbTransaction::AddMessage(std::unique_ptr<TKorvikUsbMessage> message) {
  if (!message) return false;
  message->SetTransaction(this);
  const bool report = dynamic_cast<TKorvikUsbReport*>(message.get()) != nullptr;
  FMessages.push_back(std::move(message));
  FState = (report || FMessages.size() > 1) ? StateComplete : StateQueued;
  return true;
}

TKorvikUsbMessage* TKorvikUsbTransaction::TakeForSending() {
  if (FState != StateQueued) return nullptr;
  FState = StateTaken;
  TKorvikUsbMessage* first = FirstMessage();
  if (!FPanel) return first;
  TKorvikTouchPanel::EventScope scope(*FPanel);
  FPanel->FireSendCommand(first);
  // Freed with its panel by the event's handler: nothing to send.
  return scope.PanelAlive() ? first : nullptr;
}

void TKorvikUsbTransaction::SetState(std::uint8_t state) {
  if (state == FState) return;
  FState = state;
  switch (state) {
    case StateSent:
      FSendTick = KorvikTickCount();
      break;
    case StateSendFailed:
      LeavePending();
      break;
    case StateTimedOut: {
      // The log line follows the change event even when a handler freed the panel (and this
      // transaction with it): take what it needs first.
      const std::uint32_t sendTick = FSendTick;
      const auto* command = dynamic_cast<const TKorvikUsbCommand*>(FirstMessage());
      const char* name = KorvikCommandName(command ? command->CommandIndex() : 0);
      const TKorvikLogEvent sink = OnLog();
      const bool alive = LeavePending();
      const std::uint32_t elapsed = KorvikTickCount() - sendTick;
      const std::string text =
          KorvikFormat("Transaction timeout!(%dms) Msg: %s", static_cast<int>(elapsed), name);
      if (alive)
        Log(text, 5);
      else if (sink)
        sink(text, 5);
      break;
    }
    default:
      break;
  }
}

// Leaves the panel's pending list. The panel keeps this transaction while the change event
// runs; false when a handler freed the panel (and this transaction) meanwhile.
bool TKorvikUsbTransaction::LeavePending() {
  if (!FPanel) return true;
  TKorvikTouchPanel::EventScope scope(*FPanel);
  FPanel->RemoveFromPending(this);
  return scope.PanelAlive();
}

void TKorvikUsbTransaction::RemoveFromPending() {
  if (FPanel) FPanel->RemoveFromPending(this);
}
