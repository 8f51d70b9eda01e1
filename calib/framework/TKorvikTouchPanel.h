#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "calib/framework/TKorvikObjControl.h"
#include "calib/framework/TKorvikUsbCommand.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"
#include "calib/framework/TKorvikUsbScenario.h"
#include "calib/framework/TKorvikUsbTransaction.h"

using TKorvikMessageEvent = std::function<void(TKorvikUsbMessage* message)>;

// Shared between a panel and the calls running on it: outlives the panel while a call that
// fired an event still has to learn that the panel is gone.
struct TKorvikPanelLife {
  int Depth = 0;
  bool Alive = true;
};

// One connected controller: pairs commands with their responses in transactions, sends one
// command at a time, times out unanswered exchanges and records what the controller reported.
//
// Lifetime of transactions: a transaction that is dispatched (5), abandoned (6) or timed out (7)
// is freed, with its messages, at the next HandleMessage, NextTransaction or CheckTimeouts (or
// ReleaseFinished) made while none of the panel's events is running. Do not keep pointers to
// such transactions or their messages.
//
// Handlers of the panel's events (and of the log and registry events it causes) may call back
// into the panel, queue commands, or free the panel: the running call then ends without
// touching it again.
class TKorvikTouchPanel : public TKorvikObj {
 public:
  // Held by every call that fires events. While any is held, finished transactions stay;
  // PanelAlive tells whether a handler freed the panel in the meantime.
  class EventScope {
   public:
    explicit EventScope(TKorvikTouchPanel& panel);
    ~EventScope();
    EventScope(const EventScope&) = delete;
    EventScope& operator=(const EventScope&) = delete;
    bool PanelAlive() const { return FLife->Alive; }

   private:
    std::shared_ptr<TKorvikPanelLife> FLife;
  };

  static constexpr std::uint8_t ModeApplication = 0;
  static constexpr std::uint8_t ModeDfu = 1;
  static constexpr std::uint8_t ModeUnknown = 2;
  static constexpr std::uint16_t KorvikVid = 0x227D;

  TKorvikTouchPanel(TKorvikObj* control, const std::string& name, bool active, std::uint16_t vid,
                    std::uint16_t pid);
  ~TKorvikTouchPanel() override;

  // Takes a response (matched to a pending transaction), a command or a report. Always takes
  // ownership; a message that is not taken is freed. Fires OnTransactionsChanged(panel).
  bool HandleMessage(std::unique_ptr<TKorvikUsbMessage> message);
  // The command to send next, taken for sending, or nullptr.
  TKorvikUsbCommand* NextTransaction();
  // Times out sent transactions: 60 s for Calibrate and set-boot-select, 3 s otherwise.
  void CheckTimeouts();
  // Steps the first scenario.
  void RunScenarios();
  // Moves pending set-boot-select transactions to completed (the device re-enumerates
  // instead of answering).
  void CompleteSetBootSelect();
  // Abandons (state 6) the commands still queued and not yet taken for sending.
  void AbandonQueued();
  // Pending commands that have not gone out yet (queued or taken for sending).
  std::size_t UnsentCount() const;
  // Frees transactions in states 5, 6 and 7 that are in neither list; does nothing while one
  // of the panel's events is running.
  void ReleaseFinished();
  // Whether one of the panel's events is running.
  bool InEvent() const;

  // Completed transactions, for the dispatch tick.
  bool HasCompleted() const { return !FCompleted.empty(); }
  TKorvikUsbTransaction* TakeFirstCompleted();
  // Takes each completed transaction out, fires onMessage with its last message and marks it
  // dispatched. Returns how many were dispatched.
  std::size_t DispatchCompleted(const TKorvikMessageEvent& onMessage);

  // Takes a transaction out of pending; fires OnTransactionsChanged(transaction) when it was
  // there. False when it was not pending.
  bool RemoveFromPending(TKorvikUsbTransaction* transaction);

  void SetOnTransactionsChanged(TKorvikObjEvent handler) {
    FOnTransactionsChanged = std::move(handler);
  }
  const TKorvikObjEvent& OnTransactionsChanged() const { return FOnTransactionsChanged; }
  void FireTransactionsChanged(TKorvikObj* sender);
  // Set by the touch panel control: fired when a command is taken for sending.
  void SetOnSendCommand(TKorvikMessageEvent handler) { FOnSendCommand = std::move(handler); }
  void FireSendCommand(TKorvikUsbMessage* message);

  void AddScenario(std::unique_ptr<TKorvikUsbScenario> scenario);
  bool HasDfuScenario() const;
  std::size_t ScenarioCount() const { return FScenarios.size(); }

  std::uint8_t Mode() const { return FMode; }
  std::uint8_t XCount() const { return FXCount; }
  std::uint8_t YCount() const { return FYCount; }
  std::uint8_t LoaderState() const { return FLoaderState; }
  bool Parallel() const { return FParallel; }
  void SetParallel(bool parallel) { FParallel = parallel; }
  bool Active() const { return FActive; }
  void SetActive(bool active) { FActive = active; }
  std::uint8_t DetailByte8() const { return FDetailByte8; }
  std::uint8_t McuIndex() const { return FMcuIndex; }
  std::uint16_t XRange() const { return FXRange; }
  std::uint16_t YRange() const { return FYRange; }
  const std::string& PidText() const { return FPidText; }
  const std::string& VidText() const { return FVidText; }
  const std::string& Clock() const { return FClock; }
  TKorvikUsbMessageFactory* Factory() const { return FFactory.get(); }

  std::size_t TransactionCount() const { return FTransactions.size(); }
  std::size_t PendingCount() const { return FPending.size(); }
  std::size_t CompletedCount() const { return FCompleted.size(); }
  TKorvikUsbTransaction* Pending(std::size_t i) const {
    return i < FPending.size() ? FPending[i] : nullptr;
  }

  // Mode (and loader clock) of a device identity.
  static std::uint8_t ModeFor(std::uint16_t vid, std::uint16_t pid, std::string* clock);
  // Whether a response answers the command of a table row.
  static bool ResponseMatchesRow(const TKorvikUsbMessage& response, std::uint8_t row);

 private:
  void UpdateFrom(const TKorvikUsbMessage& message);
  bool TakeResponse(std::unique_ptr<TKorvikUsbMessage>& message);
  bool TakeCommandOrReport(std::unique_ptr<TKorvikUsbMessage>& message);
  enum class StepResult { Running, Ended, PanelGone };
  StepResult StepScenario(TKorvikUsbScenario& scenario, const EventScope& scope);
  static std::uint32_t TimeoutFor(const TKorvikUsbTransaction& transaction);

  std::uint8_t FMode = ModeUnknown;
  std::uint8_t FXCount = 0;
  std::uint8_t FYCount = 0;
  std::uint8_t FLoaderState = 0;
  bool FParallel = false;
  bool FActive = true;
  std::uint8_t FDetailByte8 = 0;
  std::unique_ptr<TKorvikUsbMessageFactory> FFactory;
  std::uint8_t FMcuIndex = 0;
  std::uint16_t FYRange = 0;
  std::uint16_t FXRange = 0;
  std::string FPidText;
  std::vector<std::unique_ptr<TKorvikUsbScenario>> FScenarios;
  std::vector<std::unique_ptr<TKorvikUsbTransaction>> FTransactions;
  std::vector<TKorvikUsbTransaction*> FCompleted;
  std::vector<TKorvikUsbTransaction*> FPending;
  std::string FVidText;
  TKorvikObjEvent FOnTransactionsChanged;
  TKorvikMessageEvent FOnSendCommand;
  std::string FClock;
  std::shared_ptr<TKorvikPanelLife> FLife;
  bool FSteppingScenario = false;
};
