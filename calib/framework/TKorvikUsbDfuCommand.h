#pragma once

#include "calib/framework/TKorvikUsbCommand.h"

// Boot loader commands (frames F1, 8 bytes, and F2, 64 bytes).
class TKorvikUsbDfuCommand : public TKorvikUsbCommand {
 public:
  using TKorvikUsbCommand::TKorvikUsbCommand;

 protected:
  // A fresh zeroed 8-byte frame holding the first count bytes of content.
  static TKorvikBytes Frame8(std::span<const std::uint8_t> content, std::size_t count);
};

// F1 01
class TKorvikUsbDfuCmdGetBootSelect : public TKorvikUsbDfuCommand {
 public:
  TKorvikUsbDfuCmdGetBootSelect(TKorvikObj* owner, std::span<const std::uint8_t> content,
                                std::uint8_t received, std::uint8_t commandIndex);
};

// F1 02 selector
class TKorvikUsbDfuCmdSetBootSelect : public TKorvikUsbDfuCommand {
 public:
  TKorvikUsbDfuCmdSetBootSelect(TKorvikObj* owner, std::span<const std::uint8_t> content,
                                std::uint8_t received, std::uint8_t commandIndex);
};

// F1 07 x
class TKorvikUsbDfuCmdSetScan : public TKorvikUsbDfuCommand {
 public:
  TKorvikUsbDfuCmdSetScan(TKorvikObj* owner, std::span<const std::uint8_t> content,
                          std::uint8_t received, std::uint8_t commandIndex);
};

// Address commands pass their content unchanged.
class TKorvikUsbDfuCmdAccessAddress : public TKorvikUsbDfuCommand {
 public:
  using TKorvikUsbDfuCommand::TKorvikUsbDfuCommand;
};

class TKorvikUsbDfuCmdErasePage : public TKorvikUsbDfuCmdAccessAddress {
 public:
  using TKorvikUsbDfuCmdAccessAddress::TKorvikUsbDfuCmdAccessAddress;
};

class TKorvikUsbDfuCmdProgram : public TKorvikUsbDfuCmdAccessAddress {
 public:
  using TKorvikUsbDfuCmdAccessAddress::TKorvikUsbDfuCmdAccessAddress;
};

class TKorvikUsbDfuCmdRead : public TKorvikUsbDfuCmdAccessAddress {
 public:
  using TKorvikUsbDfuCmdAccessAddress::TKorvikUsbDfuCmdAccessAddress;
};
