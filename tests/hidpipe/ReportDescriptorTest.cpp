// Report descriptors written out by hand from the HID class rules: the reports found, the
// layout chosen for the protocol, and descriptors that must be refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hidpipe/ReportDescriptor.h"
#include "hidpipe/ReportLayout.h"

namespace hidpipe {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Items, with their short-item prefixes.
const Bytes kVendorApp = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};  // page FF00, collection
const Bytes kEnd = {0xC0};
Bytes bytesOf(uint8_t count) {  // 8-bit fields: logical 0..255, size 8, count
  return {0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, count};
}
const Bytes kInput = {0x09, 0x01, 0x81, 0x02};
const Bytes kOutput = {0x09, 0x01, 0x91, 0x02};
const Bytes kFeature = {0x09, 0x01, 0xB1, 0x02};
Bytes id(uint8_t n) {
  return {0x85, n};
}

// Unnumbered 64-byte input and output in one vendor-defined collection.
const Bytes kUnnumbered64 = kVendorApp + bytesOf(64) + kInput + kOutput + kEnd;
// Input as report 1, output as report 2.
const Bytes kNumbered = kVendorApp + id(1) + bytesOf(64) + kInput + id(2) + kOutput + kEnd;
// A mouse (buttons, padding, X and Y in a physical collection, kept with push and pop), a
// vendor collection for the protocol, and a consumer control collection.
const Bytes kComposite =
    Bytes{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00,  //
          0xA4, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01,        //
          0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x01,  //
          0xB4, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F,        //
          0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0} +
    kVendorApp + id(2) + bytesOf(64) + kInput + kOutput + kFeature + kEnd +
    Bytes{0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x03, 0x75, 0x10, 0x95, 0x01,
          0x09, 0xE9, 0x81, 0x00, 0x75, 0x08, 0x95, 0x02, 0x91, 0x02, 0xC0};

ReportDescriptor parsed(const Bytes& bytes) {
  const DescriptorParse p = parseReportDescriptor(bytes);
  EXPECT_TRUE(p.ok) << p.error;
  return p.descriptor;
}

TEST(ReportDescriptor, UnnumberedAndNumberedLayouts) {
  const ReportDescriptor plain = parsed(kUnnumbered64);
  EXPECT_FALSE(plain.numbered);
  EXPECT_EQ(describeReports(plain), "unnumbered (vendor): input 64 bytes, output 64 bytes");
  LayoutChoice c = chooseLayout(plain, 64);
  ASSERT_TRUE(c.ok) << c.problem;
  EXPECT_EQ(describeLayout(c.layout), "input 64 bytes, output 64 bytes, unnumbered");

  const ReportDescriptor numbered = parsed(kNumbered);
  EXPECT_TRUE(numbered.numbered);
  EXPECT_EQ(describeReports(numbered),
            "id 0x01 (vendor): input 64 bytes; id 0x02 (vendor): output 64 bytes");
  c = chooseLayout(numbered, 64);
  ASSERT_TRUE(c.ok) << c.problem;
  EXPECT_EQ(c.layout.inputId, 1);
  EXPECT_EQ(c.layout.outputId, 2);
  EXPECT_EQ(describeLayout(c.layout),
            "input id 0x01 64 bytes, output id 0x02 64 bytes, id is frame type");

  // Sizes count bits: 4-byte items and 16-bit fields, a long item skipped on the way.
  const Bytes wide = Bytes{0x07, 0x01, 0x00, 0x00, 0xFF, 0x0B, 0x01, 0x00, 0x00, 0xFF, 0xA1,
                           0x01, 0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x77, 0x10, 0x00, 0x00, 0x00,
                           0x97, 0x30, 0x00, 0x00, 0x00, 0x81, 0x02, 0x75, 0x08, 0x95, 0x41} +
                     kOutput + kEnd;
  const ReportDescriptor w = parsed(wide);
  ASSERT_EQ(w.reports.size(), 1u);
  EXPECT_TRUE(w.reports[0].vendor);  // the page came with the four-byte usage
  EXPECT_EQ(w.reports[0].inputBytes, 96u);
  EXPECT_EQ(w.reports[0].outputBytes, 65u);
}

TEST(ReportDescriptor, SeveralTopLevelCollectionsGiveTheVendorReports) {
  const ReportDescriptor d = parsed(kComposite);
  EXPECT_EQ(d.collections, 3u);
  EXPECT_EQ(describeReports(d),
            "id 0x01: input 3 bytes; id 0x02 (vendor): input 64 bytes, output 64 bytes; "
            "id 0x03: input 2 bytes, output 2 bytes");
  const LayoutChoice c = chooseLayout(d, 64);
  ASSERT_TRUE(c.ok) << c.problem;
  EXPECT_EQ(c.layout.inputId, 2);
  EXPECT_EQ(c.layout.outputId, 2);
  EXPECT_EQ(c.layout.largestInputBytes, 64u);

  // A larger input elsewhere does not win over the vendor collection's.
  const Bytes bigger = Bytes{0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01} + id(7) + bytesOf(100) + kInput +
                       kEnd + kVendorApp + id(4) + bytesOf(64) + kInput + id(5) + kOutput + kEnd;
  const LayoutChoice b = chooseLayout(parsed(bigger), 64);
  ASSERT_TRUE(b.ok) << b.problem;
  EXPECT_EQ(b.layout.inputId, 4);
  EXPECT_EQ(b.layout.outputId, 5);
  EXPECT_EQ(b.layout.largestInputBytes, 100u);  // a read must have room for report 7
}

TEST(ReportDescriptor, LayoutsTheProtocolCannotUseAreRefusedWithTheReason) {
  const Bytes small = kVendorApp + bytesOf(32) + kInput + kOutput + kEnd;
  LayoutChoice c = chooseLayout(parsed(small), 64);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.problem, "output report holds 32 bytes, frames need 64");

  const Bytes smallInput =
      kVendorApp + id(1) + bytesOf(32) + kInput + id(2) + bytesOf(64) + kOutput + kEnd;
  c = chooseLayout(parsed(smallInput), 64);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.problem, "input report id 0x01 holds 32 bytes, frames need 63 after the id");

  const Bytes inputOnly = kVendorApp + bytesOf(64) + kInput + kFeature + kEnd;
  c = chooseLayout(parsed(inputOnly), 64);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.problem, "no output report in a vendor-defined collection");

  const Bytes outputOnly = kVendorApp + bytesOf(64) + kOutput + kEnd;
  EXPECT_EQ(chooseLayout(parsed(outputOnly), 64).problem,
            "no input report in the vendor-defined collection");
  EXPECT_EQ(chooseLayout(parsed({}), 64).problem, "no vendor-defined collection");
}

TEST(ReportDescriptor, TruncatedDescriptorsAreRefused) {
  // No cut gives a usable layout. Once the collection has begun (byte 5), every cut leaves
  // it open or an item unfinished.
  for (const Bytes* whole : {&kUnnumbered64, &kNumbered}) {
    for (size_t n = 1; n < whole->size(); ++n) {
      // Exactly n bytes on the heap: a read past them is caught by the address sanitizer.
      const Bytes cut(whole->begin(), whole->begin() + long(n));
      const DescriptorParse p = parseReportDescriptor(cut);
      EXPECT_FALSE(p.ok && chooseLayout(p.descriptor, 64).ok) << "cut at " << n;
      if (n > 5) {
        EXPECT_FALSE(p.ok) << "cut at " << n;
      }
    }
  }
  EXPECT_EQ(parseReportDescriptor(Bytes{0xA1, 0x01, 0x06, 0x00}).error,
            "item runs past the end at byte 2");
  EXPECT_EQ(parseReportDescriptor(Bytes{0xFE, 0x10, 0x00, 0x01, 0x02}).error,
            "long item runs past the end at byte 0");
}

TEST(ReportDescriptor, MalformedDescriptorsAreRefused) {
  const struct {
    Bytes bytes;
    const char* error;
  } cases[] = {
      {kVendorApp + id(0) + bytesOf(64) + kInput + kEnd, "report id out of 1 to 255 at byte 7"},
      {Bytes{0xA1, 0x01, 0x86, 0x00, 0x01, 0xC0}, "report id out of 1 to 255 at byte 2"},
      {kVendorApp + bytesOf(64) + kInput + id(1) + kOutput + kEnd,
       "report id after unnumbered reports at byte 20"},
      {Bytes{0xA1, 0x01, 0xA4, 0x85, 0x01, 0xB4, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0xC0},
       "unnumbered report among numbered ones at byte 10"},
      {Bytes{0xA1, 0x01, 0xC0, 0xC0}, "end of a collection that was not opened at byte 3"},
      {Bytes{0xA1, 0x01, 0xB4, 0xC0}, "pop without push at byte 2"},
      {Bytes(17, 0xA4), "push nested too deep at byte 16"},
      {Bytes{0xA1, 0x01, 0xC4, 0xC0}, "reserved global item at byte 2"},
      {kVendorApp + Bytes{0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF} + kInput +
           kEnd,
       "report larger than the kernel passes at byte 19"},
      {kVendorApp + bytesOf(255) + kInput + Bytes{0x96, 0xFF, 0x3F} + kInput + kEnd,
       "report larger than the kernel passes at byte 25"},
      {kVendorApp + Bytes{0xA1, 0x00} + kEnd, "collection not closed at the end"},
  };
  for (const auto& c : cases) {
    const DescriptorParse p = parseReportDescriptor(c.bytes);
    EXPECT_FALSE(p.ok) << c.error;
    EXPECT_EQ(p.error, c.error);
  }
}

TEST(ReportDescriptor, ReservedItemsAreSkippedAsTheKernelDoes) {
  // Padding zeros after the last collection (reserved main item 0), a reserved main tag
  // and a reserved item type inside: the kernel warns and goes on.
  const Bytes padded = kUnnumbered64 + Bytes(6, 0x00);
  DescriptorParse p = parseReportDescriptor(padded);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(chooseLayout(p.descriptor, 64).ok);
  ASSERT_EQ(p.skipped.size(), 6u);
  EXPECT_EQ(p.skipped[0], "reserved main item (prefix 0x00) at byte " +
                              std::to_string(kUnnumbered64.size()) + " skipped");

  const Bytes inside = kVendorApp + Bytes{0xD1, 0x07, 0x0F, 0xAA, 0xBB, 0xCC, 0xDD} +
                       bytesOf(64) + kInput + kOutput + kEnd;
  p = parseReportDescriptor(inside);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(describeReports(p.descriptor), "unnumbered (vendor): input 64 bytes, output 64 bytes");
  EXPECT_EQ(p.skipped, (std::vector<std::string>{
                           "reserved main item (prefix 0xD1) at byte 7 skipped",
                           "reserved item type (prefix 0x0F) at byte 9 skipped"}));

  // Thousands of them: the notes stop at kSkipNotes.
  p = parseReportDescriptor(kUnnumbered64 + Bytes(4000, 0x00));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.skipped.size(), kSkipNotes);

  // A push never popped is accepted, as the kernel accepts it.
  p = parseReportDescriptor(kVendorApp + Bytes{0xA4} + bytesOf(64) + kInput + kOutput + kEnd);
  EXPECT_TRUE(p.ok) << p.error;
}

TEST(ReportDescriptor, CollectionsFeaturesAndWhereEachReportWasDeclared) {
  const ReportDescriptor d = parsed(kComposite);
  ASSERT_EQ(d.topLevel.size(), 3u);
  EXPECT_EQ(d.topLevel[0].usagePage, 0x01);
  EXPECT_EQ(d.topLevel[0].usage, 0x02);
  EXPECT_EQ(d.topLevel[1].usagePage, 0xFF00);
  EXPECT_TRUE(d.topLevel[1].vendor());
  EXPECT_EQ(d.topLevel[2].usagePage, 0x0C);
  ASSERT_EQ(d.reports.size(), 3u);
  EXPECT_EQ(d.reports[1].featureBytes, 64u);
  EXPECT_EQ(d.reports[1].inputCollection, 1u);
  EXPECT_EQ(d.reports[1].outputCollection, 1u);
  EXPECT_EQ(d.reports[2].inputCollection, 2u);
  EXPECT_EQ(d.reports[0].outputCollection, kNoCollection);

  // A feature-only report is listed, but not among the input and output reports.
  const ReportDescriptor f = parsed(kVendorApp + id(9) + bytesOf(8) + kFeature + kEnd);
  ASSERT_EQ(f.reports.size(), 1u);
  EXPECT_EQ(f.reports[0].featureBytes, 8u);
  EXPECT_EQ(describeReports(f), "no input or output reports");
}

}  // namespace
}  // namespace hidpipe
