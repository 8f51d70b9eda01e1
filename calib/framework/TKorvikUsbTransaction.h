#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "calib/framework/TKorvikUsbMessage.h"

class TKorvikTouchPanel;

// A command and its response (or one report). Owns its messages; its owner is the panel.
class TKorvikUsbTransaction : public TKorvikObj {
 public:
  static constexpr std::uint8_t StateNew = 0;
  static constexpr std::uint8_t StateQueued = 1;
  static constexpr std::uint8_t StateTaken = 2;
  static constexpr std::uint8_t StateSent = 3;
  static constexpr std::uint8_t StateComplete = 4;
  static constexpr std::uint8_t StateDispatched = 5;
  static constexpr std::uint8_t StateSendFailed = 6;
  static constexpr std::uint8_t StateTimedOut = 7;

  TKorvikUsbTransaction(TKorvikTouchPanel* panel, std::unique_ptr<TKorvikUsbMessage> message);
  ~TKorvikUsbTransaction() override;

  // Appends a message and sets the state: 4 for a report or any later message, 1 for a first
  // command. False for a null message.
  bool AddMessage(std::unique_ptr<TKorvikUsbMessage> message);
  // Only in state 1: state 2, fires the panel's send-command event, gives the first message
  // (nullptr when the event's handler freed the panel).
  TKorvikUsbMessage* TakeForSending();
  // 3 takes the send tick; 6 leaves pending; 7 leaves pending and logs the timeout.
  void SetState(std::uint8_t state);
  // Takes this transaction out of its panel's pending list.
  void RemoveFromPending();

  std::uint8_t State() const { return FState; }
  std::uint32_t SendTick() const { return FSendTick; }
  TKorvikTouchPanel* Panel() const { return FPanel; }
  std::size_t MessageCount() const { return FMessages.size(); }
  TKorvikUsbMessage* Message(std::size_t i) const {
    return i < FMessages.size() ? FMessages[i].get() : nullptr;
  }
  TKorvikUsbMessage* FirstMessage() const { return Message(0); }
  TKorvikUsbMessage* LastMessage() const {
    return FMessages.empty() ? nullptr : FMessages.back().get();
  }
  // Dispatched, send failed or timed out: nothing more happens to it.
  bool Finished() const { return FState >= StateDispatched; }

 private:
  bool LeavePending();

  std::vector<std::unique_ptr<TKorvikUsbMessage>> FMessages;
  std::uint32_t FSendTick = 0;
  std::uint8_t FState = StateNew;
  TKorvikTouchPanel* FPanel = nullptr;
};
