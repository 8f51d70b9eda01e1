#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "calib/framework/TKorvikObj.h"

class TKorvikUsbTransaction;

using TKorvikBytes = std::vector<std::uint8_t>;

// One frame sent to or received from the controller. Data holds exactly the frame:
// type 02: byte 2 + 3 bytes; F1, F3: 8; F2, F4: 64.
class TKorvikUsbMessage : public TKorvikObj {
 public:
  TKorvikUsbMessage(TKorvikObj* owner, std::span<const std::uint8_t> content,
                    std::uint8_t received);
  ~TKorvikUsbMessage() override;

  const TKorvikBytes& Data() const { return FData; }
  std::uint8_t Received() const { return FReceived; }
  // The transaction holding this message; not owned.
  TKorvikUsbTransaction* Transaction() const { return FTransaction; }
  void SetTransaction(TKorvikUsbTransaction* transaction) { FTransaction = transaction; }

  // Accessors give 0 when Data is too short for them.
  std::size_t Length() const { return FData.size(); }
  std::uint8_t ResultByte() const { return ByteAt(4); }
  bool IsSuccess() const { return ResultByte() == 1; }
  // Appends bytes 4..end (zero bytes included) to text; leaves it alone when too short.
  void ContentText(std::string& text) const;
  // Firmware detail fields.
  std::uint8_t DetailXCount() const { return ByteAt(4); }
  std::uint8_t DetailYCount() const { return ByteAt(5); }
  std::uint8_t DetailByte8() const { return ByteAt(8); }
  std::uint16_t DetailXRange() const { return WordAt(9); }
  std::uint16_t DetailYRange() const { return WordAt(11); }

  // Frame length for a type byte and length byte; 0 for an unknown type.
  static std::size_t FrameLength(std::uint8_t type, std::uint8_t lengthByte);

 protected:
  // fixSendByte: correct byte 2 of a type 02 frame to the content length - 3 first.
  TKorvikUsbMessage(TKorvikObj* owner, std::span<const std::uint8_t> content, std::uint8_t received,
                    bool fixSendByte);

  std::uint8_t ByteAt(std::size_t index) const { return index < FData.size() ? FData[index] : 0; }
  std::uint16_t WordAt(std::size_t index) const {
    return index + 1 < FData.size()
               ? static_cast<std::uint16_t>(FData[index] | (FData[index + 1] << 8))
               : 0;
  }

 private:
  void Build(std::span<const std::uint8_t> content, bool fixSendByte);

  TKorvikBytes FData;
  std::uint8_t FReceived = 0;
  TKorvikUsbTransaction* FTransaction = nullptr;
};
