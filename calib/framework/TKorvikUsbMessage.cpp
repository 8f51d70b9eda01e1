#include "calib/framework/TKorvikUsbMessage.h"

#include <algorithm>

TKorvikUsbMessage::TKorvikUsbMessage(TKorvikObj* owner, std::span<const std::uint8_t> content,
                                     std::uint8_t received)
    : TKorvikUsbMessage(owner, content, received, false) {}

TKorvikUsbMessage::TKorvikUsbMessage(TKorvikObj* owner, std::span<const std::uint8_t> content,
                                     std::uint8_t received, bool fixSendByte)
    : TKorvikObj(owner), FReceived(received) {
  Build(content, fixSendByte);
}

TKorvikUsbMessage::~TKorvikUsbMessage() {
  FTransaction = nullptr;
}

std::size_t TKorvikUsbMessage::FrameLength(std::uint8_t type, std::uint8_t lengthByte) {
  switch (type) {
    case 0x02:
      return static_cast<std::size_t>(lengthByte) + 3;
    case 0xF1:
    case 0xF3:
      return 8;
    case 0xF2:
    case 0xF4:
      return 64;
    default:
      return 0;
  }
}

void TKorvikUsbMessage::Build(std::span<const std::uint8_t> content, bool fixSendByte) {
  if (content.empty()) return;
  TKorvikBytes frame(content.begin(), content.end());
  if (fixSendByte && frame[0] == 0x02 && frame.size() >= 3) {
    const std::size_t wanted = frame.size() - 3;
    if (frame[2] != wanted) {
      Log(KorvikFormat("Fixing wrong send-byte in creating argument: %2.2d -> %2.2d", frame[2],
                       static_cast<int>(wanted)),
          1);
      frame[2] = static_cast<std::uint8_t>(wanted);
    }
  }
  const std::size_t length = FrameLength(frame[0], frame.size() > 2 ? frame[2] : 0);
  if (length == 0) {
    Log(KorvikFormat("TKorvikUsbMessage.Create error, AContent[0]: 0x%2.2x", frame[0]), 7);
    return;
  }
  // A short content is zero-filled up to the frame length so no reader runs past it.
  frame.resize(length, 0);
  FData = std::move(frame);
}

void TKorvikUsbMessage::ContentText(std::string& text) const {
  if (FData.size() < 5) return;
  text.append(FData.begin() + 4, FData.end());
}
