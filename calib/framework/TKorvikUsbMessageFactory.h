#pragma once

#include <memory>
#include <span>
#include <string>

#include "calib/framework/TKorvikUsbCommand.h"
#include "calib/framework/TKorvikUsbMessage.h"

// The one place where bytes become message objects. Messages it builds get the factory's
// own owner as owner (so they log through that object). The caller owns every result.
class TKorvikUsbMessageFactory : public TKorvikObj {
 public:
  static constexpr std::uint8_t DirectionSend = 0;
  static constexpr std::uint8_t DirectionReceived = 1;

  explicit TKorvikUsbMessageFactory(TKorvikObj* owner);

  // Builds the command of a table row (1 to 38) with its argument bytes; nullptr on failure.
  std::unique_ptr<TKorvikUsbCommand> CreateUsbCommand(std::uint8_t type,
                                                      std::span<const std::uint8_t> arguments);
  // Classifies content to be sent (direction 0) or received (direction 1); nullptr when it
  // builds nothing.
  std::unique_ptr<TKorvikUsbMessage> CreateUsbMessage(std::uint8_t direction,
                                                      std::span<const std::uint8_t> content);

  // "0x02 0x4C 0x01 0x01 " for 02 4C 01 01.
  static std::string ContentDump(std::span<const std::uint8_t> content);

 private:
  std::unique_ptr<TKorvikUsbMessage> CreateSending(std::span<const std::uint8_t> content);
  std::unique_ptr<TKorvikUsbMessage> CreateSendingGeneral(std::span<const std::uint8_t> content);
  std::unique_ptr<TKorvikUsbMessage> CreateSendingDfu(std::span<const std::uint8_t> content);
  std::unique_ptr<TKorvikUsbMessage> CreateReceived(std::span<const std::uint8_t> content);
  std::unique_ptr<TKorvikUsbMessage> CreateDataGroup(std::span<const std::uint8_t> content);
  std::unique_ptr<TKorvikUsbMessage> CreateResponse(std::span<const std::uint8_t> content);
  std::unique_ptr<TKorvikUsbMessage> CreateDfuResponse(std::span<const std::uint8_t> content);
  void LogDeviceText(std::span<const std::uint8_t> content);
};
