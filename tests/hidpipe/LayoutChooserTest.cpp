// The layout chooser on descriptors of the shapes real touch controllers have: only a
// vendor-defined collection carries the protocol, its input comes from the output's own
// collection, and the three framings.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "hidpipe/ReportDescriptor.h"
#include "hidpipe/ReportLayout.h"

namespace hidpipe {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) continue;
    out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    ++i;
  }
  return out;
}

LayoutChoice choose(const std::string& text) {
  const DescriptorParse p = parseReportDescriptor(hex(text));
  EXPECT_TRUE(p.ok) << p.error;
  return chooseLayout(p.descriptor, 64);
}

// A multitouch report (id 1) and a vendor collection with only an output (id 3).
const char* kTouchAndVendorOutput =
    "05 0d 09 04 a1 01 85 01 15 00 26 ff 00 75 08 95 40 09 01 81 02 c0 "
    "06 00 ff 09 01 a1 01 85 03 95 40 09 01 91 02 c0";
// Output id 3 and its reply id 2 in one vendor collection, a raw-data stream (id 0x36,
// 7487 bytes) in a second one.
const char* kReplyBesideRawStream =
    "06 00 ff 09 01 a1 01 15 00 26 ff 00 75 08 85 03 95 40 09 01 91 02 85 02 95 40 09 01 81 02 "
    "c0 06 0b ff 09 0b a1 01 85 36 96 3f 1d 09 01 81 02 c0";
// Output id 5 with a one-byte input of its own, a 64-byte input id 6 beside it.
const char* kShortInputOnOutputId =
    "05 0d 09 04 a1 01 85 01 75 08 95 40 09 01 81 02 c0 06 00 ff 09 01 a1 01 75 08 85 05 95 40 "
    "09 01 91 02 95 01 09 01 81 02 85 06 95 40 09 01 81 02 c0";
// A digitizer (id 1) and a vendor pipe declared as report id 5 followed by 63 bytes.
const char* kPipeOf63 =
    "05 0d 09 04 a1 01 85 01 15 00 26 ff 00 75 08 95 40 09 01 81 02 c0 "
    "06 00 ff 09 01 a1 01 85 05 95 3f 09 01 81 02 09 01 91 02 c0";
// Report ids that are the frame types: 02 both ways (63 bytes after the id), boot loader
// outputs F1/F3 (7) and F2/F4 (63), boot loader input F5 (63).
const char* kFrameTypeIds =
    "06 00 ff 09 01 a1 01 15 00 26 ff 00 75 08 85 02 95 3f 09 01 81 02 09 01 91 02 "
    "85 f1 95 07 09 01 91 02 85 f2 95 3f 09 01 91 02 85 f3 95 07 09 01 91 02 "
    "85 f4 95 3f 09 01 91 02 85 f5 95 3f 09 01 81 02 c0";

TEST(LayoutChooser, AnInputOfAnotherCollectionIsNeverTheProtocols) {
  const LayoutChoice c = choose(kTouchAndVendorOutput);
  EXPECT_FALSE(c.ok) << describeLayout(c.layout);
  EXPECT_EQ(c.problem, "no input report in the vendor-defined collection of output id 0x03");

  // A mouse, keyboard or consumer collection's output is no protocol output either.
  const LayoutChoice k = choose(
      "05 01 09 06 a1 01 85 01 75 08 95 40 81 02 91 02 c0 05 0c 09 01 a1 01 85 02 95 40 81 02 "
      "91 02 c0");
  EXPECT_FALSE(k.ok);
  EXPECT_EQ(k.problem, "no vendor-defined collection");
}

TEST(LayoutChooser, TheInputComesFromTheOutputsCollection) {
  const LayoutChoice c = choose(kReplyBesideRawStream);
  ASSERT_TRUE(c.ok) << c.problem;
  EXPECT_EQ(c.layout.outputId, 0x03);
  EXPECT_EQ(c.layout.inputId, 0x02);
  EXPECT_EQ(c.layout.inputBytes, 64u);
  EXPECT_EQ(c.layout.largestInputBytes, 7487u);  // a read still has room for the stream
  EXPECT_FALSE(c.layout.idIsFrameType);
}

TEST(LayoutChooser, ShortInputOnTheOutputIdGivesWayToTheSmallestWholeOne) {
  const LayoutChoice c = choose(kShortInputOnOutputId);
  ASSERT_TRUE(c.ok) << c.problem;
  EXPECT_EQ(c.layout.outputId, 0x05);
  EXPECT_EQ(c.layout.inputId, 0x06);

  // The output's own id wins when it holds a frame; else the smallest that does.
  const LayoutChoice own = choose(
      "06 00 ff 09 01 a1 01 75 08 85 07 96 00 01 09 01 81 02 85 05 95 40 09 01 91 02 09 01 81 "
      "02 85 06 95 50 09 01 81 02 c0");
  ASSERT_TRUE(own.ok) << own.problem;
  EXPECT_EQ(own.layout.inputId, 0x05);
  const LayoutChoice smallest = choose(
      "06 00 ff 09 01 a1 01 75 08 85 07 96 00 01 09 01 81 02 85 05 95 40 09 01 91 02 "
      "85 06 95 50 09 01 81 02 c0");
  ASSERT_TRUE(smallest.ok) << smallest.problem;
  EXPECT_EQ(smallest.layout.inputId, 0x06);  // 80 bytes rather than 256
}

TEST(LayoutChooser, ReportIdFollowedBySixtyThreeBytesIsAPipe) {
  const LayoutChoice c = choose(kPipeOf63);
  ASSERT_TRUE(c.ok) << c.problem;
  EXPECT_TRUE(c.layout.numbered);
  EXPECT_FALSE(c.layout.idIsFrameType);
  EXPECT_EQ(c.layout.outputId, 0x05);
  EXPECT_EQ(c.layout.inputId, 0x05);
  EXPECT_EQ(c.layout.outputBytes, 63u);
  EXPECT_EQ(framingName(c.layout), "numbered-pipe");
  EXPECT_EQ(describeLayout(c.layout),
            "input id 0x05 63 bytes, output id 0x05 63 bytes, numbered pipe");

  // 62 bytes after the id: not even a 64-byte report on the wire.
  const LayoutChoice small = choose(
      "06 00 ff 09 01 a1 01 75 08 85 05 95 3e 09 01 81 02 09 01 91 02 c0");
  EXPECT_FALSE(small.ok);
  EXPECT_EQ(small.problem, "output report id 0x05 holds 62 bytes, frames need 63 after the id");
}

TEST(LayoutChooser, ReportIdsThatAreFrameTypes) {
  const LayoutChoice c = choose(kFrameTypeIds);
  ASSERT_TRUE(c.ok) << c.problem;
  const ReportLayout& l = c.layout;
  EXPECT_TRUE(l.idIsFrameType);
  EXPECT_EQ(framingName(l), "id-is-frame-type");
  EXPECT_EQ(l.outputId, 0x02);
  EXPECT_EQ(l.inputId, 0x02);
  EXPECT_EQ(l.outputBytesById[0xF1], 7);
  EXPECT_EQ(l.outputBytesById[0xF2], 63);
  EXPECT_EQ(l.outputBytesById[0xF5], 0);
  EXPECT_TRUE(l.inputIds.test(0x02));
  EXPECT_TRUE(l.inputIds.test(0xF5));
  EXPECT_FALSE(l.inputIds.test(0xF1));

  // A boot loader id too small for its frames is refused, with the frame type named.
  std::string small = kFrameTypeIds;
  small.replace(small.find("85 f2 95 3f"), 11, "85 f2 95 1f");
  const LayoutChoice s = choose(small);
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.problem, "output report id 0xF2 holds 31 bytes, 0xF2 frames need 63 after the id");
}

TEST(LayoutChooser, TheFirstUsableVendorCollectionWins) {
  // A vendor collection with an output too small, then a usable one.
  const LayoutChoice c = choose(
      "06 00 ff 09 01 a1 01 75 08 85 09 95 08 09 01 91 02 09 01 81 02 c0 "
      "06 01 ff 09 01 a1 01 85 0a 95 40 09 01 91 02 09 01 81 02 c0");
  ASSERT_TRUE(c.ok) << c.problem;
  EXPECT_EQ(c.layout.outputId, 0x0A);
}

}  // namespace
}  // namespace hidpipe
