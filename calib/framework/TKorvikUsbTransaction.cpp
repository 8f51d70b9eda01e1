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
  if (FPanel) FPanel->FireSendCommand(first);
  return first;
}

void TKorvikUsbTransaction::SetState(std::uint8_t state) {
  if (state == FState) return;
  FState = state;
  switch (state) {
    case StateSent:
      FSendTick = KorvikTickCount();
      break;
    case StateSendFailed:
      RemoveFromPending();
      break;
    case StateTimedOut: {
      RemoveFromPending();
      const std::uint32_t elapsed = KorvikTickCount() - FSendTick;
      const auto* command = dynamic_cast<const TKorvikUsbCommand*>(FirstMessage());
      const char* name = KorvikCommandName(command ? command->CommandIndex() : 0);
      Log(KorvikFormat("Transaction timeout!(%dms) Msg: %s", static_cast<int>(elapsed), name), 5);
      break;
    }
    default:
      break;
  }
}

void TKorvikUsbTransaction::RemoveFromPending() {
  if (FPanel) FPanel->RemoveFromPending(this);
}
