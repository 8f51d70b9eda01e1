#include "calib/framework/TKorvikUsbDfuCommand.h"

#include <algorithm>

TKorvikBytes TKorvikUsbDfuCommand::Frame8(std::span<const std::uint8_t> content,
                                          std::size_t count) {
  TKorvikBytes frame(8, 0);
  std::copy_n(content.begin(), std::min(count, content.size()), frame.begin());
  return frame;
}

TKorvikUsbDfuCmdGetBootSelect::TKorvikUsbDfuCmdGetBootSelect(TKorvikObj* owner,
                                                             std::span<const std::uint8_t> content,
                                                             std::uint8_t received,
                                                             std::uint8_t commandIndex)
    : TKorvikUsbDfuCommand(owner, Frame8(content, 2), received, commandIndex) {}

TKorvikUsbDfuCmdSetBootSelect::TKorvikUsbDfuCmdSetBootSelect(TKorvikObj* owner,
                                                             std::span<const std::uint8_t> content,
                                                             std::uint8_t received,
                                                             std::uint8_t commandIndex)
    : TKorvikUsbDfuCommand(owner, Frame8(content, 3), received, commandIndex) {}

TKorvikUsbDfuCmdSetScan::TKorvikUsbDfuCmdSetScan(TKorvikObj* owner,
                                                 std::span<const std::uint8_t> content,
                                                 std::uint8_t received, std::uint8_t commandIndex)
    : TKorvikUsbDfuCommand(owner, Frame8(content, 3), received, commandIndex) {}
