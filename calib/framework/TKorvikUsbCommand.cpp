#include "calib/framework/TKorvikUsbCommand.h"

TKorvikUsbCommand::TKorvikUsbCommand(TKorvikObj* owner, std::span<const std::uint8_t> content,
                                     std::uint8_t received, std::uint8_t commandIndex)
    : TKorvikUsbMessage(owner, content, received, true), FCommandIndex(commandIndex) {}
