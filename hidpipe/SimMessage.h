// Messages of the simulator socket: type (1 byte), payload length (u16 LE), payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace hidpipe {

enum SimType : uint8_t {
  kSimHello = 0x01,
  kSimOpen = 0x02,
  kSimClose = 0x03,
  kSimOutput = 0x04,
  kSimNotice = 0x81,
  kSimOpenResult = 0x83,
  kSimInput = 0x85,
};

constexpr size_t kSimHeaderSize = 3;
constexpr size_t kSimMaxPayload = 1024;

struct SimMessage {
  uint8_t type = 0;
  std::vector<uint8_t> payload;
};

enum class SimParse { Message, NeedMore, Bad };

struct SimParseResult {
  SimParse status = SimParse::NeedMore;
  size_t consumed = 0;  // bytes the message took (status Message only)
};

// Reads one message from the start of bytes. A payload length above kSimMaxPayload, or a
// length that does not fit a known type (OUTPUT 64, INPUT 1 to 64, OPEN_RESULT 1, OPEN 5,
// NOTICE at least 1), is Bad. Messages of unknown types are returned as they are.
SimParseResult parseSimMessage(std::span<const uint8_t> bytes, SimMessage& out);

std::vector<uint8_t> encodeSimMessage(uint8_t type, std::span<const uint8_t> payload = {});

// Accumulates bytes from a stream and hands out whole messages.
class SimStreamParser {
 public:
  void feed(std::span<const uint8_t> bytes);
  // Message: out holds the next message; NeedMore: wait for more bytes; Bad: the stream is
  // broken and the connection should be closed.
  SimParse next(SimMessage& out);
  void reset();

 private:
  std::vector<uint8_t> buf_;
  size_t start_ = 0;
};

}  // namespace hidpipe
