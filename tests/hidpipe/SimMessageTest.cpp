// Parsing of simulator socket messages.
#include <gtest/gtest.h>

#include <vector>

#include "hidpipe/SimMessage.h"

namespace hidpipe {
namespace {

std::vector<uint8_t> header(uint8_t type, size_t len) {
  return {type, static_cast<uint8_t>(len & 0xFF), static_cast<uint8_t>(len >> 8)};
}

TEST(SimMessage, StreamSplitAnywhereGivesTheSameMessages) {
  std::vector<uint8_t> stream;
  const std::vector<uint8_t> input(64, 0x5A);
  const std::vector<uint8_t> notice = {1, 's', 'i', 'm'};
  for (const auto& m : {encodeSimMessage(kSimInput, input), encodeSimMessage(kSimNotice, notice),
                        encodeSimMessage(0x42, std::vector<uint8_t>(300, 7)),
                        encodeSimMessage(kSimOpenResult, std::vector<uint8_t>{1})})
    stream.insert(stream.end(), m.begin(), m.end());

  for (size_t chunk : {size_t{1}, size_t{2}, size_t{5}, size_t{67}, stream.size()}) {
    SimStreamParser parser;
    std::vector<SimMessage> got;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      const size_t n = std::min(chunk, stream.size() - at);
      parser.feed(std::span<const uint8_t>(stream).subspan(at, n));
      SimMessage m;
      SimParse st;
      while ((st = parser.next(m)) == SimParse::Message) got.push_back(m);
      ASSERT_EQ(st, SimParse::NeedMore);
    }
    ASSERT_EQ(got.size(), 4u) << "chunk " << chunk;
    EXPECT_EQ(got[0].type, kSimInput);
    EXPECT_EQ(got[0].payload, input);
    EXPECT_EQ(got[1].payload, notice);
    EXPECT_EQ(got[2].type, 0x42);  // unknown types come through for the caller to skip
    EXPECT_EQ(got[2].payload.size(), 300u);
    EXPECT_EQ(got[3].payload, std::vector<uint8_t>{1});
  }
}

TEST(SimMessage, BadLengthsBreakTheStream) {
  SimMessage m;
  const std::vector<std::vector<uint8_t>> bad = {
      header(0x42, 1025),        header(kSimInput, 0),       header(kSimInput, 65),
      header(kSimOpenResult, 0), header(kSimOpenResult, 2),  header(kSimNotice, 0),
      header(kSimHello, 1),      header(kSimOutput, 0xFFFF),
  };
  for (const auto& h : bad) {
    // Judged from the header alone, before the payload arrives.
    EXPECT_EQ(parseSimMessage(h, m).status, SimParse::Bad) << int(h[0]);
  }
  auto atLimit = header(0x42, 1024);
  EXPECT_EQ(parseSimMessage(atLimit, m).status, SimParse::NeedMore);
  atLimit.resize(3 + 1024);
  const auto r = parseSimMessage(atLimit, m);
  EXPECT_EQ(r.status, SimParse::Message);
  EXPECT_EQ(r.consumed, 3u + 1024u);

  SimStreamParser parser;
  const auto good = encodeSimMessage(kSimOpenResult, std::vector<uint8_t>{1});
  parser.feed(good);
  parser.feed(header(kSimOutput, 2));
  EXPECT_EQ(parser.next(m), SimParse::Message);
  EXPECT_EQ(parser.next(m), SimParse::Bad);

  // A short input report (the device sent less) is a message of its own length.
  auto shortInput = encodeSimMessage(kSimInput, std::vector<uint8_t>(23, 7));
  ASSERT_EQ(parseSimMessage(shortInput, m).status, SimParse::Message);
  EXPECT_EQ(m.payload.size(), 23u);
}

TEST(SimMessage, EncodesLengthLittleEndian) {
  const auto msg = encodeSimMessage(kSimOpen, std::vector<uint8_t>(0x1234 % 1024, 0));
  ASSERT_GE(msg.size(), 3u);
  EXPECT_EQ(msg[0], kSimOpen);
  EXPECT_EQ(msg[1] | (msg[2] << 8), 0x1234 % 1024);
  EXPECT_EQ(encodeSimMessage(kSimHello), (std::vector<uint8_t>{kSimHello, 0, 0}));
}

}  // namespace
}  // namespace hidpipe
