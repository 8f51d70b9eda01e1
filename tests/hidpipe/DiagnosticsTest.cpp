// The public diagnostics calls: the analysis a program gets holds what the parser and the
// chooser found, refusals carry their reason, and a listed device is matched and chosen
// by the open's own rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "hidpipe/hidpipe_diag.h"

namespace {

using Analysis = std::unique_ptr<const HidDescriptorAnalysis, decltype(&hidFreeDescriptorAnalysis)>;

Analysis Analyse(const std::vector<uint8_t>& bytes) {
  return Analysis(hidAnalyseDescriptor(bytes.data(), bytes.size()), &hidFreeDescriptorAnalysis);
}

// A touch report (id 1), then a vendor pipe of report id 5 with 63 bytes each way.
const std::vector<uint8_t> kTouchAndPipe = {
    0x05, 0x0d, 0x09, 0x04, 0xa1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08,
    0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0xc0, 0x06, 0x00, 0xff, 0x09, 0x01, 0xa1, 0x01, 0x85,
    0x05, 0x95, 0x3f, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xc0};

TEST(HidDiagnostics, AnalysisCarriesCollectionsReportsAndThePipeOrWhyNot) {
  const Analysis pipe = Analyse(kTouchAndPipe);
  ASSERT_TRUE(pipe);
  EXPECT_EQ(pipe->size, kTouchAndPipe.size());
  EXPECT_TRUE(pipe->parsed && pipe->usable && pipe->numbered);
  EXPECT_STREQ(pipe->reason, "");
  ASSERT_EQ(pipe->collectionCount, 2u);
  EXPECT_EQ(pipe->collections[0].usagePage, 0x0D);
  EXPECT_FALSE(pipe->collections[0].vendor);
  EXPECT_TRUE(pipe->collections[1].vendor);
  ASSERT_EQ(pipe->reportCount, 2u);
  EXPECT_EQ(pipe->reports[0].id, 1);
  EXPECT_EQ(pipe->reports[0].collection, 0);
  EXPECT_EQ(pipe->reports[1].id, 5);
  EXPECT_EQ(pipe->reports[1].collection, 1);
  EXPECT_EQ(pipe->reports[1].outputBytes, 63u);
  EXPECT_STREQ(pipe->pipe.framing, "numbered-pipe");
  EXPECT_EQ(pipe->pipe.inputId, 5);
  EXPECT_EQ(pipe->pipe.outputBytes, 63u);

  // The touch collection alone: understood, refused, with the reason.
  const Analysis touch = Analyse({kTouchAndPipe.begin(), kTouchAndPipe.begin() + 22});
  EXPECT_TRUE(touch->parsed);
  EXPECT_FALSE(touch->usable);
  EXPECT_STRNE(touch->reason, "");
  // Cut inside an item: not understood, and nothing read past the bytes.
  const Analysis cut = Analyse({kTouchAndPipe.begin(), kTouchAndPipe.begin() + 12});
  EXPECT_FALSE(cut->parsed || cut->usable);
  EXPECT_EQ(std::string(cut->reason).rfind("report descriptor not understood: ", 0), 0u)
      << cut->reason;
}

TEST(HidDiagnostics, ListedDevicesAreMatchedAndChosenAsTheOpenDoes) {
  HidDeviceDesc usb{};
  std::snprintf(usb.path, sizeof usb.path, "/dev/hidraw3");
  std::snprintf(usb.port, sizeof usb.port, "1-2.3");
  std::snprintf(usb.serial, sizeof usb.serial, "SN-A");
  usb.vid = 0x227D;
  usb.pid = 0x0102;
  usb.iface = 1;
  usb.bus = 1;
  EXPECT_TRUE(hidDeviceMatches(&usb, 0x227D, 0x0102, 1));
  EXPECT_FALSE(hidDeviceMatches(&usb, 0x227D, 0x0102, 0));
  HidDeviceDesc i2c = usb;
  i2c.bus = 3;
  i2c.iface = -1;
  EXPECT_TRUE(hidDeviceMatches(&i2c, 0x227D, 0x0102, 0));
  EXPECT_STREQ(hidBusName(i2c.bus), "I2C");
  for (const char* choice :
       std::initializer_list<const char*>{"hidraw3", "/dev/hidraw3", "1-2.3", "SN-A", "", nullptr})
    EXPECT_TRUE(hidDeviceChosen(&usb, choice)) << (choice ? choice : "NULL");
  EXPECT_FALSE(hidDeviceChosen(&usb, "hidraw4"));

  // A node with no sysfs record: refused with the path it looked at.
  uint8_t buf[4096];
  EXPECT_EQ(hidDeviceDescriptor("/dev/hidraw-none", buf, sizeof buf), -1);
  EXPECT_NE(std::string(hidLastError()).find("/sys/class/hidraw/hidraw-none/"), std::string::npos)
      << hidLastError();
}

}  // namespace
