#include <gtest/gtest.h>

#include "sim/SerialFrameDecoder.h"
#include "sim/SimHex.h"

using namespace tpcsim;

namespace {
std::vector<Bytes> FeedAll(SerialFrameDecoder& d, std::initializer_list<std::string_view> parts) {
  std::vector<Bytes> frames;
  for (auto p : parts) d.Feed(p, [&](const Bytes& f) { frames.push_back(f); });
  return frames;
}
}  // namespace

TEST(SimHex, FormatsAndParses) {
  EXPECT_EQ(HexLine(Bytes{0x02, 0x4c, 0x00, 0xff}), "02 4C 00 FF");
  EXPECT_EQ(HexLine(Bytes{}), "");
  EXPECT_EQ(SerialPacket(Bytes{0x02, 0x4C, 0x02, 0x04, 0x00}),
            "\x02"
            "024C020400\r");
  EXPECT_EQ(ParseHex("024c 0204"), (Bytes{0x02, 0x4C, 0x02, 0x04}));
  EXPECT_FALSE(ParseHex("024").has_value());
  EXPECT_FALSE(ParseHex("0G").has_value());
}

TEST(SimHex, FrameLengthFromHeaderNeverPastTheReport) {
  Bytes report(64, 0);
  report[0] = 0x02;
  report[2] = 0x02;
  EXPECT_EQ(FrameLength(report), 5u);
  report[2] = 0xFD;  // lies: limited to what is there
  EXPECT_EQ(FrameLength(report), 64u);
  report[0] = 0xF1;
  EXPECT_EQ(FrameLength(report), 8u);
  report[0] = 0xF2;
  EXPECT_EQ(FrameLength(report), 64u);
  report[0] = 0x77;
  EXPECT_EQ(FrameLength(report), 0u);
  EXPECT_EQ(FrameLength(Bytes{0x02, 0x4C}), 0u);
}

TEST(SerialFrameDecoder, AssemblesPacketsAcrossReadsAndSkipsNoise) {
  SerialFrameDecoder d;
  // Split in three, junk before STX, lower case, a blank inside.
  auto f = FeedAll(d, {"xx\x01\x02"
                       "024c",
                       "02 0", "401\r"});
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], (Bytes{0x02, 0x4C, 0x02, 0x04, 0x01}));
  // Two packets in one read; a non-hex character inside is skipped.
  f = FeedAll(d, {"\x02"
                  "0G2\r\x02"
                  "024E0180\r"});
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0], (Bytes{0x02}));
  EXPECT_EQ(f[1], (Bytes{0x02, 0x4E, 0x01, 0x80}));
  // An odd digit count leaves the last high digit out; CR outside a packet is nothing.
  f = FeedAll(d, {"\r\x02"
                  "024\r"});
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], (Bytes{0x02}));
}

TEST(SerialFrameDecoder, OverlongPacketIsDroppedNotCut) {
  SerialFrameDecoder d;
  std::string big = "\x02" + std::string(2 * SerialFrameDecoder::kMaxFrame + 10, 'A') + "\r";
  auto f = FeedAll(d, {big,
                       "\x02"
                       "0102\r"});
  ASSERT_EQ(f.size(), 1u);  // the next packet is intact
  EXPECT_EQ(f[0], (Bytes{0x01, 0x02}));
  EXPECT_EQ(d.Dropped(), 1u);
  // A packet cut off by a new STX is dropped too.
  f = FeedAll(d, {"\x02"
                  "0102\x02"
                  "0304\r"});
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], (Bytes{0x03, 0x04}));
}
