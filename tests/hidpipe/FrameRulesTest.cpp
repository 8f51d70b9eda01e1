// Output report building, device matching and notice path texts.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <vector>

#include "hidpipe/DeviceMatch.h"
#include "hidpipe/FrameLength.h"
#include "hidpipe/NoticePath.h"

namespace hidpipe {
namespace {

// Two pages, the second inaccessible: a frame placed at the end of the first page faults
// on any read past it.
class GuardedPage {
 public:
  GuardedPage() {
    page_ = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    mem_ = static_cast<uint8_t*>(
        ::mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::mprotect(mem_ + page_, page_, PROT_NONE);
  }
  ~GuardedPage() { ::munmap(mem_, 2 * page_); }
  const uint8_t* place(const std::vector<uint8_t>& frame) {
    uint8_t* at = mem_ + page_ - frame.size();
    std::memcpy(at, frame.data(), frame.size());
    return at;
  }

 private:
  size_t page_;
  uint8_t* mem_;
};

TEST(OutputReport, LengthComesFromTheHeader) {
  const uint8_t version[] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  const uint8_t longest[] = {0x02, 0x4B, 61};
  const uint8_t tooLong[] = {0x02, 0x4B, 62};
  const uint8_t f1[] = {0xF1}, f2[] = {0xF2}, f3[] = {0xF3}, f4[] = {0xF4};
  EXPECT_EQ(outputFrameLength(version), 5u);
  EXPECT_EQ(outputFrameLength(longest), 64u);
  EXPECT_EQ(outputFrameLength(tooLong), 0u);
  EXPECT_EQ(outputFrameLength(f1), 8u);
  EXPECT_EQ(outputFrameLength(f3), 8u);
  EXPECT_EQ(outputFrameLength(f2), 64u);
  EXPECT_EQ(outputFrameLength(f4), 64u);
  for (uint8_t type : {0x00, 0x01, 0x03, 0x5F, 0x88, 0xF0, 0xF5, 0xFF}) {
    const uint8_t frame[] = {type, 0x4C, 0x02};
    EXPECT_EQ(outputFrameLength(frame), 0u) << int(type);
  }
  EXPECT_EQ(outputFrameLength(nullptr), 0u);
}

// An input report that holds less than the frame its header announces is truncated.
TEST(InputReport, ShorterThanTheAnnouncedFrameIsTruncated) {
  uint8_t data[64] = {0x02, 0x4B, 44};  // a data report of 47 bytes
  EXPECT_TRUE(frameTruncated(data, 23));
  EXPECT_TRUE(frameTruncated(data, 46));
  EXPECT_FALSE(frameTruncated(data, 47));
  EXPECT_FALSE(frameTruncated(data, 64));
  data[2] = 250;  // claims more than a report holds: a whole report is all there is
  EXPECT_FALSE(frameTruncated(data, 64));
  EXPECT_TRUE(frameTruncated(data, 63));
  const uint8_t ack[64] = {0x02};  // one byte arrived: its length byte is padding
  EXPECT_TRUE(frameTruncated(ack, 1));
  const uint8_t f3[64] = {0xF3, 0x01}, f4[64] = {0xF4};
  EXPECT_TRUE(frameTruncated(f3, 7));
  EXPECT_FALSE(frameTruncated(f3, 8));
  EXPECT_TRUE(frameTruncated(f4, 32));
  // No length in the header (device text is zero-filled text): nothing to judge.
  const uint8_t f5[64] = {0xF5, 'o', 'k'}, other[64] = {0x88, 0x88};
  EXPECT_FALSE(frameTruncated(f5, 3));
  EXPECT_FALSE(frameTruncated(other, 2));
}

TEST(OutputReport, FrameThenZerosNeverReadingPastTheFrame) {
  GuardedPage page;
  std::vector<std::vector<uint8_t>> frames = {
      {0x02, 0x4C, 0x01, 0x01},
      {0x02, 0x4E, 0x02, 0x04, 0x00},
      {0xF1, 1, 2, 3, 4, 5, 6, 7},
      {0xF3, 9, 9, 9, 9, 9, 9, 9},
  };
  std::vector<uint8_t> longest(64, 0xAB);
  longest[0] = 0x02;
  longest[2] = 61;
  frames.push_back(longest);
  std::vector<uint8_t> boot(64, 0xCD);
  boot[0] = 0xF4;
  frames.push_back(boot);
  for (const auto& frame : frames) {
    std::array<uint8_t, 64> report;
    report.fill(0xEE);
    ASSERT_TRUE(buildOutputReport(page.place(frame), report.data()));
    std::array<uint8_t, 64> expect{};
    std::memcpy(expect.data(), frame.data(), frame.size());
    EXPECT_EQ(report, expect);
  }
}

TEST(OutputReport, RefusedFrameLeavesReportUntouched) {
  GuardedPage page;
  std::array<uint8_t, 64> report;
  report.fill(0xEE);
  EXPECT_FALSE(buildOutputReport(page.place({0x02, 0x4B, 0xFF}), report.data()));
  EXPECT_FALSE(buildOutputReport(page.place({0xF5}), report.data()));
  for (uint8_t b : report) ASSERT_EQ(b, 0xEE);
}

TEST(DeviceMatch, FirstDeviceWithAllThreeValues) {
  const std::vector<HidDeviceInfo> list = {
      {0x227D, 0x0102, 0, "/dev/hidraw0"},  // wrong interface
      {0x227D, 0x0103, 1, "/dev/hidraw1"},  // wrong product
      {0x1234, 0x0102, 1, "/dev/hidraw2"},  // wrong vendor
      {0x227D, 0x0102, 1, "/dev/hidraw3"},  {0x227D, 0x0102, 1, "/dev/hidraw4"},
      {0x227D, 0x0104, -1, "/dev/hidraw5"},  // no interface number
  };
  EXPECT_EQ(findDevice(list, 0x227D, 0x0102, 1), 3);
  EXPECT_EQ(findDevice(list, 0x227D, 0x0102, 0), 0);
  EXPECT_EQ(findDevice(list, 0x227D, 0x0102, 2), -1);
  EXPECT_EQ(findDevice(list, 0x227D, 0x0104, 0), -1);
  EXPECT_EQ(findDevice({}, 0x227D, 0x0102, 1), -1);
  // Values wider than 16 bits never match a device.
  EXPECT_EQ(findDevice(list, 0x1227D, 0x0102, 1), -1);
}

TEST(DeviceMatch, DevicesOffUsbMatchWhateverTheInterface) {
  // hidapi gives I2C and Bluetooth devices interface -1; they have no interfaces.
  const std::vector<HidDeviceInfo> list = {
      {0x227D, 0x0102, 0, "/dev/hidraw0", kBusUsb},
      {0x227D, 0x0102, -1, "/dev/hidraw1", kBusI2c},
      {0x227D, 0x0102, -1, "/dev/hidraw2", kBusBluetooth},
      {0x227D, 0x0102, -1, "/dev/hidraw3", kBusUsb},
  };
  EXPECT_EQ(findDevice(list, 0x227D, 0x0102, 1), 1);
  EXPECT_EQ(matchingDevices(list, 0x227D, 0x0102, 1), (std::vector<size_t>{1, 2}));
  EXPECT_EQ(matchingDevices(list, 0x227D, 0x0102, 0), (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(findDevice(list, 0x227D, 0x0103, 1), -1);
  EXPECT_EQ(findDevice(list, 0, 0x0102, 1), -1);
}

TEST(DeviceMatch, ZeroVendorOrProductMatchesNothing) {
  const std::vector<HidDeviceInfo> list = {
      {0, 0, 1, "a"}, {0, 0x0102, 1, "b"}, {0x227D, 0, 1, "c"}};
  EXPECT_EQ(findDevice(list, 0, 0, 1), -1);
  EXPECT_EQ(findDevice(list, 0, 0x0102, 1), -1);
  EXPECT_EQ(findDevice(list, 0x227D, 0, 1), -1);
}

TEST(NoticePath, FormatsAndReadsBackTheIdentity) {
  EXPECT_EQ(formatNoticePath("/dev/hidraw3", {0x227D, 0x0102, 1}),
            "/dev/hidraw3#VID_227D&PID_0102&MI_01");
  EXPECT_EQ(formatNoticePath("/dev/hidraw0", {0x0A, 0xB, -1}), "/dev/hidraw0#VID_000A&PID_000B");

  const auto id = parseNoticePath("sim:/tmp/tpcsim.sock#vid_227d&pid_010a&mi_00");
  ASSERT_TRUE(id);
  EXPECT_EQ(id->vid, 0x227D);
  EXPECT_EQ(id->pid, 0x010A);
  EXPECT_EQ(id->iface, 0);
  const auto noMi = parseNoticePath("/dev/hidraw0#VID_0001&PID_0002");
  ASSERT_TRUE(noMi);
  EXPECT_EQ(noMi->iface, -1);
  EXPECT_FALSE(parseNoticePath("/dev/hidraw0#VID_227D"));
  EXPECT_FALSE(parseNoticePath("/dev/hidraw0#VID_&PID_0102"));
}

TEST(NoticePath, ReadsHidIdProperty) {
  const auto id = parseHidId("0003:0000227D:00000102");
  ASSERT_TRUE(id);
  EXPECT_EQ(id->vid, 0x227D);
  EXPECT_EQ(id->pid, 0x0102);
  EXPECT_FALSE(parseHidId(""));
  EXPECT_FALSE(parseHidId("0003:0000227D"));
  EXPECT_FALSE(parseHidId("0003:0001227D:00000102"));  // wider than 16 bits
  EXPECT_FALSE(parseHidId("0003:XYZ:00000102"));
}

}  // namespace
}  // namespace hidpipe
