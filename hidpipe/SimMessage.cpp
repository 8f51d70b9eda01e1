#include "SimMessage.h"

namespace hidpipe {
namespace {

bool lengthFits(uint8_t type, size_t len) {
  switch (type) {
    case kSimHello:
    case kSimClose:
      return len == 0;
    case kSimOpen:
      return len == 5;
    case kSimOutput:
      return len == 64;
    case kSimInput:
      return len >= 1 && len <= 64;  // shorter: the device sent a short report
    case kSimOpenResult:
      return len == 1;
    case kSimNotice:
      return len >= 1;
    default:
      return true;
  }
}

}  // namespace

SimParseResult parseSimMessage(std::span<const uint8_t> bytes, SimMessage& out) {
  if (bytes.size() < kSimHeaderSize) return {SimParse::NeedMore, 0};
  const uint8_t type = bytes[0];
  const size_t len = size_t{bytes[1]} | (size_t{bytes[2]} << 8);
  if (len > kSimMaxPayload || !lengthFits(type, len)) return {SimParse::Bad, 0};
  if (bytes.size() < kSimHeaderSize + len) return {SimParse::NeedMore, 0};
  out.type = type;
  out.payload.assign(bytes.begin() + kSimHeaderSize, bytes.begin() + kSimHeaderSize + len);
  return {SimParse::Message, kSimHeaderSize + len};
}

std::vector<uint8_t> encodeSimMessage(uint8_t type, std::span<const uint8_t> payload) {
  std::vector<uint8_t> msg;
  msg.reserve(kSimHeaderSize + payload.size());
  msg.push_back(type);
  msg.push_back(static_cast<uint8_t>(payload.size() & 0xFF));
  msg.push_back(static_cast<uint8_t>((payload.size() >> 8) & 0xFF));
  msg.insert(msg.end(), payload.begin(), payload.end());
  return msg;
}

void SimStreamParser::feed(std::span<const uint8_t> bytes) {
  if (start_ > 0 && start_ == buf_.size()) {
    buf_.clear();
    start_ = 0;
  }
  buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

SimParse SimStreamParser::next(SimMessage& out) {
  const auto rest = std::span<const uint8_t>(buf_).subspan(start_);
  const SimParseResult r = parseSimMessage(rest, out);
  if (r.status == SimParse::Message) {
    start_ += r.consumed;
  } else if (r.status == SimParse::NeedMore && start_ > 0) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  return r.status;
}

void SimStreamParser::reset() {
  buf_.clear();
  start_ = 0;
}

}  // namespace hidpipe
