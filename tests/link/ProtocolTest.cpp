// Command strings to frames, and decoding of received frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/CommandString.h"
#include "link/FrameCodec.h"

namespace {

std::vector<uint8_t> Usb(const std::string& cmd, int* count = nullptr) {
  uint8_t buf[CommandString::kUsbBufferSize];
  std::memset(buf, 0xAA, sizeof(buf));
  int n = CommandString::ToUsbFrame(cmd, buf);
  if (count) *count = n;
  return std::vector<uint8_t>(buf, buf + sizeof(buf));
}

std::vector<uint8_t> Serial(const std::string& cmd) {
  uint8_t buf[CommandString::kMaxPacketSize];
  int n = CommandString::ToSerialPacket(cmd, buf);
  if (n < 0) return {};
  return std::vector<uint8_t>(buf, buf + n);
}

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  return std::vector<uint8_t>(list.begin(), list.end());
}

TEST(CommandString, UsbFrameInZeroFilledBuffer) {
  int count = 0;
  auto buf = Usb("SEND 024C0101 ", &count);
  EXPECT_EQ(count, 5);  // the final blank adds one 0 byte
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 5), Bytes({2, 0x4C, 1, 1, 0}));
  for (size_t i = 5; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0) << i;

  EXPECT_EQ(Usb("SEND  024E0180 "), Usb("SEND 024E0180 "));  // more blanks after SEND
  EXPECT_EQ(Usb("SEND 024c0101 "), Usb("SEND 024C0101 "));   // lower case
  EXPECT_EQ(Usb("echo SEND 024C0101 "), Usb("SEND 024C0101 "));
  // A pair not starting with a digit gives 0; a bad second character keeps the first digit.
  auto odd = Usb("SEND Z1A? ");
  EXPECT_EQ(odd[0], 0);
  EXPECT_EQ(odd[1], 0x0A);
}

TEST(CommandString, SerialPacketCarriesTheDigitsAsWritten) {
  EXPECT_EQ(Serial("SEND 024C0101 "), Bytes({2, '0', '2', '4', 'C', '0', '1', '0', '1', 0x0D}));
  EXPECT_EQ(Serial("SEND 024C020400 ").size(), 12u);
  EXPECT_EQ(Serial("SEND 024c0101 ")[4], 'c');
  EXPECT_EQ(Serial("SEND  024E0180 "), Serial("SEND 024E0180 "));
}

TEST(CommandString, Refusals) {
  uint8_t usb[CommandString::kUsbBufferSize];
  uint8_t packet[CommandString::kMaxPacketSize];
  EXPECT_EQ(CommandString::ToUsbFrame("GET 024C0101 ", usb), -1);
  EXPECT_EQ(CommandString::ToSerialPacket("024C0101 ", packet), -1);
  EXPECT_EQ(CommandString::ToSerialPacket("SEND 02G4C0101 ", packet), -1);
  EXPECT_EQ(CommandString::ToSerialPacket("SEND 02 4C ", packet), -1);  // inner blank
  EXPECT_EQ(CommandString::ToUsbFrame("", usb), -1);
  EXPECT_EQ(CommandString::ToSerialPacket("", packet), -1);
  // Only blanks after SEND: an empty frame, no out-of-bounds read.
  EXPECT_EQ(CommandString::ToSerialPacket("SEND ", packet), 2);
}

TEST(CommandString, OverlongTextStaysInsideTheBuffers) {
  std::string longCmd = "SEND " + std::string(1000, 'F') + " ";
  uint8_t usb[CommandString::kUsbBufferSize];
  uint8_t packet[CommandString::kMaxPacketSize];
  EXPECT_EQ(CommandString::ToUsbFrame(longCmd, usb), CommandString::kUsbBufferSize);
  EXPECT_EQ(CommandString::ToSerialPacket(longCmd, packet), -1);
  std::string longest = "SEND " + std::string(122, 'A') + " ";  // 128 characters
  EXPECT_EQ(CommandString::ToSerialPacket(longest, packet), 124);
}

struct Decoded {
  FrameCodec::Result result;
  DataRecord data;
  CoordinateRecord coord;
  int32_t values[FrameCodec::kValueCount] = {};
};

Decoded Decode(const std::vector<uint8_t>& frame, int len = -1) {
  Decoded d;
  d.result = FrameCodec::DecodeReport(frame.data(), len < 0 ? int(frame.size()) : len, 1234, d.data,
                                      d.coord, d.values);
  return d;
}

TEST(FrameCodec, DataReportChecks) {
  auto one = Decode(Bytes({2, 0x4B, 6, 0x25, 3, 4, 1, 0xE8, 0x03}));
  ASSERT_EQ(one.result.kind, FrameCodec::Decoded::kData);
  EXPECT_EQ(one.data.kind, 2);
  EXPECT_EQ(one.data.time, 1234u);
  EXPECT_EQ(one.data.code, 0x25);
  EXPECT_EQ(one.data.startX, 3);
  EXPECT_EQ(one.data.startY, 4);
  EXPECT_EQ(one.data.direction, 1);
  ASSERT_EQ(one.data.count, 1);
  EXPECT_EQ(one.data.values, one.values);
  EXPECT_EQ(one.values[0], 1000);

  auto big = Decode(Bytes({2, 0x4B, 8, 0, 0, 0, 0, 0xFF, 0xFF, 0x01, 0x00}));
  ASSERT_EQ(big.data.count, 2);
  EXPECT_EQ(big.values[0], 65535);  // unsigned
  EXPECT_EQ(big.values[1], 1);

  EXPECT_EQ(Decode(Bytes({2, 0x4B, 7, 0, 0, 0, 1, 1, 2, 3})).result.kind,
            FrameCodec::Decoded::kNone);  // odd N - 4
  EXPECT_EQ(Decode(Bytes({2, 0x4B, 6, 0, 0, 0, 1, 1, 2, 3})).result.kind,
            FrameCodec::Decoded::kNone);  // N != length - 3

  std::vector<uint8_t> full(256, 0);
  full[0] = 2;
  full[1] = 0x4B;
  full[2] = 253;  // odd: not decoded
  EXPECT_EQ(Decode(full).result.kind, FrameCodec::Decoded::kNone);
  std::vector<uint8_t> tooLong(300, 0);
  tooLong[0] = 2;
  tooLong[2] = 4;
  EXPECT_EQ(Decode(tooLong).result.kind, FrameCodec::Decoded::kNone);
}

TEST(FrameCodec, ShortReplies) {
  auto ok = Decode(Bytes({2, 0x4E, 2, 0x04, 1}));
  EXPECT_EQ(ok.result.kind, FrameCodec::Decoded::kShortReply);
  EXPECT_TRUE(ok.result.replyOk);
  EXPECT_EQ(ok.data.group, 0x4E);
  EXPECT_EQ(ok.data.code, 0x04);
  EXPECT_EQ(ok.data.startX, 1);  // the status byte follows the sub-command
  EXPECT_EQ(ok.data.count, 0);

  EXPECT_FALSE(Decode(Bytes({2, 0x4E, 2, 0x04, 0})).result.replyOk);
  // N claims more than the frame holds: only the bytes present are taken.
  auto cut = Decode(Bytes({2, 0x4C, 4, 0x07}));
  EXPECT_EQ(cut.result.kind, FrameCodec::Decoded::kShortReply);
  EXPECT_FALSE(cut.result.replyOk);
  EXPECT_EQ(cut.data.code, 0x07);
  EXPECT_EQ(cut.data.startX, 0);
}

TEST(FrameCodec, CoordinateAndRawDump) {
  auto touch = Decode(Bytes({1, 0x05, 0x34, 0x12, 0x78, 0x56, 0x10, 0x00}));
  ASSERT_EQ(touch.result.kind, FrameCodec::Decoded::kCoordinate);
  EXPECT_EQ(touch.coord.kind, 1);
  EXPECT_EQ(touch.coord.touch, 1);
  EXPECT_EQ(touch.coord.finger, 1);
  EXPECT_EQ(touch.coord.x, 0x1234);
  EXPECT_EQ(touch.coord.y, 0x5678);
  EXPECT_EQ(touch.coord.z, 0x10);
  EXPECT_EQ(Decode(Bytes({1, 0, 1, 0, 2, 0})).coord.z, 0);  // 6-byte report: no Z
  EXPECT_EQ(Decode(Bytes({1, 0, 1, 0, 2})).result.kind, FrameCodec::Decoded::kNone);

  std::vector<uint8_t> dump(64);
  for (int i = 0; i < 64; ++i) dump[i] = static_cast<uint8_t>(i == 0 ? 0x5F : i);
  auto raw = Decode(dump);
  ASSERT_EQ(raw.result.kind, FrameCodec::Decoded::kRawDump);
  ASSERT_EQ(raw.data.count, 61);
  EXPECT_EQ(raw.values[0], 0x5F);
  EXPECT_EQ(raw.values[60], 60);
  EXPECT_EQ(Decode(dump, 63).result.kind, FrameCodec::Decoded::kNone);
}

TEST(FrameCodec, UsbFrameLength) {
  uint8_t report[64] = {0xF5, 0x4C, 2};
  EXPECT_EQ(FrameCodec::UsbFrameLength(report), 64);
  report[0] = 2;
  report[2] = 5;
  EXPECT_EQ(FrameCodec::UsbFrameLength(report), 8);
  report[2] = 61;
  EXPECT_EQ(FrameCodec::UsbFrameLength(report), 64);
  report[2] = 250;  // claims more than one report holds
  EXPECT_EQ(FrameCodec::UsbFrameLength(report), 64);
}

TEST(FrameCodec, PanelInformationForms) {
  PanelInfo info{38, 22, 256, 7, 9};
  auto eight = Bytes({2, 0x4C, 5, 6, 16, 12, 0x00, 0x01});
  ASSERT_EQ(FrameCodec::ParsePanelInfo(eight.data(), 8, info), FrameCodec::PanelResult::kValid);
  EXPECT_EQ(info.xCount, 16);
  EXPECT_EQ(info.yCount, 12);
  EXPECT_EQ(info.resolution, 256);
  EXPECT_EQ(info.xRange, 7);  // the short form leaves the ranges

  eight[5] = 0;
  EXPECT_EQ(FrameCodec::ParsePanelInfo(eight.data(), 8, info),
            FrameCodec::PanelResult::kEmptySilent);

  std::vector<uint8_t> full(17, 0);
  full[0] = 2, full[1] = 0x4C, full[2] = 14, full[3] = 6;
  EXPECT_EQ(FrameCodec::ParsePanelInfo(full.data(), 17, info),
            FrameCodec::PanelResult::kEmptyReported);
  full[16] = 1;  // electrode counts of 0 are invalid, as in the short form
  EXPECT_EQ(FrameCodec::ParsePanelInfo(full.data(), 17, info),
            FrameCodec::PanelResult::kEmptySilent);
  EXPECT_EQ(info.xCount, 16);
  full[4] = 40, full[5] = 0;
  EXPECT_EQ(FrameCodec::ParsePanelInfo(full.data(), 17, info),
            FrameCodec::PanelResult::kEmptySilent);
  full[5] = 30;
  EXPECT_EQ(FrameCodec::ParsePanelInfo(full.data(), 17, info), FrameCodec::PanelResult::kValid);
  EXPECT_EQ(info.xCount, 40);
  full[9] = 0x00, full[10] = 0x10, full[11] = 0x00, full[12] = 0x08;
  FrameCodec::ParsePanelInfo(full.data(), 17, info);
  EXPECT_EQ(info.xRange, 0x1000);
  EXPECT_EQ(info.yRange, 0x0800);

  EXPECT_EQ(FrameCodec::ParsePanelInfo(full.data(), 12, info), FrameCodec::PanelResult::kBadLength);
}

TEST(FrameCodec, VersionText) {
  std::string text = "old";
  auto empty = Bytes({2, 0x4C, 1, 4});
  EXPECT_TRUE(FrameCodec::ParseVersion(empty.data(), 4, text));
  EXPECT_EQ(text, "");
  auto v = Bytes({2, 0x4C, 5, 4, 'V', '1', '.', '2'});
  EXPECT_TRUE(FrameCodec::ParseVersion(v.data(), 8, text));
  EXPECT_EQ(text, "V1.2");
  EXPECT_FALSE(FrameCodec::ParseVersion(v.data(), 3, text));
  EXPECT_EQ(text, "V1.2");
}

}  // namespace
