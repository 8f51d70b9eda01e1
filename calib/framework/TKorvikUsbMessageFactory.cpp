#include "calib/framework/TKorvikUsbMessageFactory.h"

#include <algorithm>

#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikUsbCoordinatesReport.h"
#include "calib/framework/TKorvikUsbDfuCommand.h"
#include "calib/framework/TKorvikUsbDfuResponse.h"
#include "calib/framework/TKorvikUsbReport.h"
#include "calib/framework/TKorvikUsbResponse.h"

namespace {

using Bytes = std::span<const std::uint8_t>;

template <class T>
std::unique_ptr<TKorvikUsbMessage> MakeCommand(TKorvikObj* owner, Bytes content,
                                               std::uint8_t received, std::uint8_t row) {
  return std::make_unique<T>(owner, content, received, row);
}

std::unique_ptr<TKorvikUsbMessage> MakeDfuCommand(TKorvikObj* owner, Bytes content,
                                                  std::uint8_t row) {
  switch (row) {
    case KorvikCmd::DfuGetBootSelect:
      return MakeCommand<TKorvikUsbDfuCmdGetBootSelect>(owner, content, 0, row);
    case KorvikCmd::DfuSetBootSelect:
      return MakeCommand<TKorvikUsbDfuCmdSetBootSelect>(owner, content, 0, row);
    case KorvikCmd::DfuErasePage:
      return MakeCommand<TKorvikUsbDfuCmdErasePage>(owner, content, 0, row);
    case KorvikCmd::DfuProgram:
      return MakeCommand<TKorvikUsbDfuCmdProgram>(owner, content, 0, row);
    case KorvikCmd::DfuRead:
      return MakeCommand<TKorvikUsbDfuCmdRead>(owner, content, 0, row);
    default:
      return MakeCommand<TKorvikUsbDfuCmdSetScan>(owner, content, 0, row);
  }
}

std::unique_ptr<TKorvikUsbMessage> MakeDfuResponse(TKorvikObj* owner, Bytes content,
                                                   std::uint8_t row) {
  switch (row) {
    case KorvikCmd::DfuGetBootSelect:
      return MakeCommand<TKorvikUsbDfuResGetBootSelect>(owner, content, 1, row);
    case KorvikCmd::DfuSetBootSelect:
      return MakeCommand<TKorvikUsbDfuResSetBootSelect>(owner, content, 1, row);
    case KorvikCmd::DfuErasePage:
      return MakeCommand<TKorvikUsbDfuResErasePage>(owner, content, 1, row);
    case KorvikCmd::DfuProgram:
      return MakeCommand<TKorvikUsbDfuResProgram>(owner, content, 1, row);
    case KorvikCmd::DfuRead:
      return MakeCommand<TKorvikUsbDfuResRead>(owner, content, 1, row);
    default:
      return MakeCommand<TKorvikUsbDfuResSetScan>(owner, content, 1, row);
  }
}

// Response kind b5 of a row selects the class; kinds 0 and 9 and above build nothing.
std::unique_ptr<TKorvikUsbMessage> MakeResponse(TKorvikObj* owner, Bytes content,
                                                std::uint8_t row) {
  switch (KorvikCommandTable[row].b5) {
    case 1:
      return MakeCommand<TKorvikUsbResponseType1>(owner, content, 1, row);
    case 2:
      return MakeCommand<TKorvikUsbResponseType3>(owner, content, 1, row);
    case 3:
      return MakeCommand<TKorvikUsbResponseType4>(owner, content, 1, row);
    case 4:
      return MakeCommand<TKorvikUsbResponseType5>(owner, content, 1, row);
    case 5:
      return MakeCommand<TKorvikUsbResponseType6>(owner, content, 1, row);
    case 6:
      return MakeCommand<TKorvikUsbResponseType7>(owner, content, 1, row);
    case 7:
      return MakeCommand<TKorvikUsbResponseType8>(owner, content, 1, row);
    case 8:
      return MakeCommand<TKorvikUsbResponseType9>(owner, content, 1, row);
    default:
      return nullptr;
  }
}

bool IsDfuSendType(std::uint8_t type) {
  return type == 0xF1 || type == 0xF2;
}

}  // namespace

TKorvikUsbMessageFactory::TKorvikUsbMessageFactory(TKorvikObj* owner) : TKorvikObj(owner) {}

std::string TKorvikUsbMessageFactory::ContentDump(std::span<const std::uint8_t> content) {
  std::string dump;
  dump.reserve(content.size() * 5);
  for (std::uint8_t byte : content) dump += KorvikFormat("0x%02X ", byte);
  return dump;
}

std::unique_ptr<TKorvikUsbCommand> TKorvikUsbMessageFactory::CreateUsbCommand(
    std::uint8_t type, std::span<const std::uint8_t> arguments) {
  TKorvikBytes content;
  if (type >= 1 && type <= 32) {
    const TKorvikCommandRow& row = KorvikCommandTable[type];
    content = {row.b0, row.b1, row.b2, row.b3};
    content.insert(content.end(), arguments.begin(), arguments.end());
  } else if (type >= KorvikCmd::FirstDfu && type <= KorvikCmd::LastDfu) {
    const TKorvikCommandRow& row = KorvikCommandTable[type];
    const std::size_t size = (row.b0 == 0xF2 || row.b0 == 0xF4) ? 64 : 8;
    content.assign(size, 0);
    content[0] = row.b0;
    content[1] = row.b1;
    const std::size_t count = std::min(arguments.size(), size - 2);
    std::copy_n(arguments.begin(), count, content.begin() + 2);
  } else {
    Log(KorvikFormat("TKorvikUsbMessageFactory.CreateUsbCommand error, AType: 0x%2.2x", type), 7);
    return nullptr;
  }
  std::unique_ptr<TKorvikUsbMessage> message = CreateUsbMessage(DirectionSend, content);
  auto* command = dynamic_cast<TKorvikUsbCommand*>(message.get());
  if (!command) return nullptr;
  message.release();
  return std::unique_ptr<TKorvikUsbCommand>(command);
}

std::unique_ptr<TKorvikUsbMessage> TKorvikUsbMessageFactory::CreateUsbMessage(
    std::uint8_t direction, std::span<const std::uint8_t> content) {
  if (content.size() < 4) return nullptr;
  return direction == DirectionSend ? CreateSending(content) : CreateReceived(content);
}

std::unique_ptr<TKorvikUsbMessage> TKorvikUsbMessageFactory::CreateSending(
    std::span<const std::uint8_t> content) {
  if (content[0] == 0x02) return CreateSendingGeneral(content);
  if (IsDfuSendType(content[0])) return CreateSendingDfu(content);
  Log(KorvikFormat("Unknown sending data: %s", ContentDump(content).c_str()), 5);
  return nullptr;
}

std::unique_ptr<TKorvikUsbMessage> TKorvikUsbMessageFactory::CreateSendingGeneral(
    std::span<const std::uint8_t> content) {
  for (std::size_t i = 0; i < KorvikCommandTable.size(); ++i) {
    const TKorvikCommandRow& row = KorvikCommandTable[i];
    if (content[1] == row.b1 && content[2] == row.b2 && content[3] == row.b3)
      return MakeCommand<TKorvikUsbCommand>(Owner(), content, 0, static_cast<std::uint8_t>(i));
  }
  Log(KorvikFormat("Unknown sending general command: %s", ContentDump(content).c_str()), 5);
  return nullptr;
}

std::unique_ptr<TKorvikUsbMessage> TKorvikUsbMessageFactory::CreateSendingDfu(
    std::span<const std::uint8_t> content) {
  for (std::uint8_t i = KorvikCmd::FirstDfu; i <= KorvikCmd::LastDfu; ++i) {
    if (content[1] == KorvikCommandTable[i].b1) return MakeDfuCommand(Owner(), content, i);
  }
  Log(KorvikFormat("Unknown sending DFU command: %s", ContentDump(content).c_str()), 5);
  return nullptr;
}

std::unique_ptr<TKorvikUsbMessage> TKorvikUsbMessageFactory::CreateReceived(
    std::span<const std::uint8_t> content) {
  switch (content[0]) {
    case 0x02:
      if (content[1] == 0x4B) {
        if (auto message = CreateDataGroup(content)) return message;
        return CreateResponse(content);
      }
      if (content[1] == 0x4D)
        return std::make_unique<TKorvikUsbCoordinatesReport>(Owner(), content);
      return CreateResponse(content);
    case 0xF3:
    case 0xF4:
      return CreateDfuResponse(content);
    case 0xF5:
      LogDeviceText(content);
      return nullptr;
    default:
      return nullptr;
  }
}

// 02 4B: acknowledgement of a data request (N = 2, byte 3 = sub-command) or a data report
// (byte 3 = data code) of rows 1 to 11.
std::unique_ptr<TKorvikUsbMessage> TKorvikUsbMessageFactory::CreateDataGroup(
    std::span<const std::uint8_t> content) {
  for (std::uint8_t i = KorvikCmd::GetM0RawData; i <= KorvikCmd::OpenShortTestY; ++i) {
    const TKorvikCommandRow& row = KorvikCommandTable[i];
    if (content[2] == 0x02 && content[3] == row.b3)
      return MakeCommand<TKorvikUsbResponseType1>(Owner(), content, 1, i);
    if (content[3] == row.b4) return std::make_unique<TKorvikUsbRawDataReport>(Owner(), content);
  }
  return nullptr;
}

std::unique_ptr<TKorvikUsbMessage> TKorvikUsbMessageFactory::CreateResponse(
    std::span<const std::uint8_t> content) {
  for (std::uint8_t i = 1; i < KorvikCommandTable.size(); ++i) {
    const TKorvikCommandRow& row = KorvikCommandTable[i];
    if (content[1] == row.b1 && content[3] == row.b3) return MakeResponse(Owner(), content, i);
  }
  return nullptr;
}

std::unique_ptr<TKorvikUsbMessage> TKorvikUsbMessageFactory::CreateDfuResponse(
    std::span<const std::uint8_t> content) {
  for (std::uint8_t i = KorvikCmd::FirstDfu; i <= KorvikCmd::LastDfu; ++i) {
    if (content[1] == KorvikCommandTable[i].b1) return MakeDfuResponse(Owner(), content, i);
  }
  return nullptr;
}

void TKorvikUsbMessageFactory::LogDeviceText(std::span<const std::uint8_t> content) {
  std::string text;
  for (std::size_t i = 1; i < content.size(); ++i)
    if (content[i] != 0) text += static_cast<char>(content[i]);
  Log(text, 1);
}
