// CTransUSB over a fake hidpipe.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "link/CTransUSB.h"

namespace {

// State of the fake library (one test at a time).
struct FakeHid {
  int openCalls = 0;
  void* openHost = reinterpret_cast<void*>(1);
  std::vector<std::vector<uint32_t>> openDeviceCalls;
  std::pair<uint32_t, uint32_t> present{0xFFFF, 0xFFFF};
  std::vector<int> enableCalls;
  std::deque<std::vector<uint8_t>> reports;  // each as long as what arrived of it
  std::vector<int> recvTimeouts;
  std::vector<std::vector<uint8_t>> sent;
  int sendResult = 1;
  int closeMyDeviceResult = 1;
  int closeResult = 1;
  int closeCalls = 0;
  std::map<uint32_t, const char*> refusals;  // by vendor: why the library refused it
  const char* lastError = "";
};
FakeHid* g = nullptr;

const HidPipeApi kFakeApi{
    [](void* host) {
      ++g->openCalls;
      g->openHost = host;
      return 1;
    },
    [](uint32_t vid, uint32_t pid, uint32_t iface) {
      g->openDeviceCalls.push_back({vid, pid, iface});
      const auto refused = g->refusals.find(vid);
      g->lastError = refused != g->refusals.end() ? refused->second : "";
      return vid == g->present.first && pid == g->present.second ? 1 : 0;
    },
    [](int on) {
      g->enableCalls.push_back(on);
      return 1;
    },
    [](uint8_t* buf, int timeoutMs) {
      g->recvTimeouts.push_back(timeoutMs);
      if (g->reports.empty()) return 0;
      const std::vector<uint8_t> r = g->reports.front();
      g->reports.pop_front();
      std::memset(buf, 0, 64);
      std::memcpy(buf, r.data(), r.size());
      return int(r.size());
    },
    [](const uint8_t* buf) {
      g->sent.emplace_back(buf, buf + 128);
      return g->sendResult;
    },
    [] { return g->closeMyDeviceResult; },
    [] {
      ++g->closeCalls;
      return g->closeResult;
    },
    [] { return g->lastError; },
    nullptr,  // the send errno, the device choice, the device used, a gone device: not faked
    nullptr,
    nullptr,
    nullptr,
};

class UsbLink : public ::testing::Test {
 protected:
  void SetUp() override { g = &fake; }
  void TearDown() override { g = nullptr; }

  void Configure(CTransUSB& link) {
    const uint16_t vids[] = {0x1111, 0x2222, 0x2222};
    const uint16_t pids[] = {0x0001, 0x0002, 0x0002};
    const uint16_t types[] = {1, 2, 2};
    link.SetVendorIds(vids);
    link.SetProductIds(pids);
    link.SetOSTypes(types);
  }

  // A report starting with head, of which `received` bytes arrive.
  void AddReport(std::initializer_list<int> head, size_t received = 64) {
    std::vector<uint8_t> r(received, 0x77);
    std::copy(head.begin(), head.end(), r.begin());
    fake.reports.push_back(r);
  }

  FakeHid fake;
};

TEST_F(UsbLink, ConstructionStartsTheLibraryAndOpensEntriesInOrder) {
  CTransUSB link(kFakeApi);
  EXPECT_EQ(fake.openCalls, 1);
  EXPECT_EQ(fake.openHost, nullptr);
  EXPECT_EQ(link.GetState(), kLinkClosed);
  Configure(link);
  fake.present = {0x2222, 0x0002};  // entry 0 absent, entry 1 present

  EXPECT_EQ(link.Open(nullptr), 1);
  ASSERT_EQ(fake.openDeviceCalls.size(), 2u);
  EXPECT_EQ(fake.openDeviceCalls[0], (std::vector<uint32_t>{0x1111, 0x0001, 1}));
  EXPECT_EQ(fake.openDeviceCalls[1], (std::vector<uint32_t>{0x2222, 0x0002, 1}));
  EXPECT_EQ(fake.enableCalls, std::vector<int>{1});
  EXPECT_EQ(link.GetState(), kLinkIdle);
  EXPECT_EQ(link.GetOSType(), 2);
}

TEST_F(UsbLink, NoEntryOpens) {
  CTransUSB link(kFakeApi);  // identity keys missing: all entries 0/0
  EXPECT_EQ(link.Open(nullptr), 0);
  EXPECT_EQ(fake.openDeviceCalls.size(), 3u);
  for (const auto& call : fake.openDeviceCalls) {
    EXPECT_EQ(call, (std::vector<uint32_t>{0, 0, 1}));
  }
  EXPECT_TRUE(fake.enableCalls.empty());
  EXPECT_EQ(link.GetState(), kLinkClosed);
  EXPECT_EQ(link.GetOSType(), 0);
}

TEST_F(UsbLink, DevicesRefusedByTheLibraryAreListedOnceAndForgottenOnSuccess) {
  CTransUSB link(kFakeApi);
  Configure(link);
  fake.refusals = {{0x1111, "/dev/hidraw3: no output report"},
                   {0x2222, "/dev/hidraw4: cannot open: Permission denied"}};
  EXPECT_EQ(link.Open(nullptr), 0);
  // Entries 1 and 2 name the same device: its line comes once.
  EXPECT_EQ(link.OpenFailureText(),
            "/dev/hidraw3: no output report\n/dev/hidraw4: cannot open: Permission denied\n");

  fake.refusals.erase(0x2222);
  fake.present = {0x2222, 0x0002};
  EXPECT_EQ(link.Open(nullptr), 1);
  EXPECT_EQ(link.OpenFailureText(), "");
}

TEST_F(UsbLink, ReadLengthsNeverExceedTheReport) {
  CTransUSB link(kFakeApi);
  uint8_t buf[4096];
  EXPECT_EQ(link.Read(buf), 0);  // nothing waiting
  EXPECT_EQ(fake.recvTimeouts.back(), 0);

  AddReport({0x02, 0x4C, 5, 6});
  AddReport({0xF5, 0x00, 3});
  AddReport({0x02, 0x4B, 200});  // lying length byte
  std::memset(buf, 0xEE, sizeof(buf));
  EXPECT_EQ(link.Read(buf), 8);
  EXPECT_EQ(buf[3], 6);
  EXPECT_EQ(buf[8], 0xEE);  // nothing beyond the frame was copied
  EXPECT_EQ(link.Read(buf), 64);
  EXPECT_EQ(buf[0], 0xF5);
  std::memset(buf, 0xEE, sizeof(buf));
  EXPECT_EQ(link.Read(buf), 64);
  EXPECT_EQ(buf[63], 0x77);
  EXPECT_EQ(buf[64], 0xEE);
}

TEST_F(UsbLink, FramesCutShortAreDroppedAndCounted) {
  CTransUSB link(kFakeApi);
  uint8_t buf[4096];
  AddReport({0x02, 0x4B, 44}, 23);  // a data report of 47 bytes, cut on the way
  AddReport({0x02, 0x4C, 5, 6});
  AddReport({0x02, 0x4B, 44}, 47);  // all it announces
  EXPECT_EQ(link.Read(buf), 8);
  EXPECT_EQ(link.TruncatedFrames(), 1u);
  EXPECT_EQ(link.Read(buf), 47);
  EXPECT_EQ(buf[46], 0x77);
  AddReport({0x02, 0x4D}, 2);  // not even its length byte arrived
  EXPECT_FALSE(link.WaitForInput(0));
  EXPECT_EQ(link.Read(buf), 0);
  EXPECT_EQ(link.TruncatedFrames(), 2u);
}

TEST_F(UsbLink, WaitForInputKeepsTheReportForTheNextRead) {
  CTransUSB link(kFakeApi);
  uint8_t buf[4096];
  EXPECT_TRUE(link.CanWaitForInput());
  EXPECT_FALSE(link.WaitForInput(10));
  EXPECT_EQ(fake.recvTimeouts.back(), 10);
  AddReport({0x02, 0x4E, 2, 4, 1});
  EXPECT_TRUE(link.WaitForInput(10));
  EXPECT_TRUE(link.WaitForInput(10));  // already holding one: no second take
  size_t calls = fake.recvTimeouts.size();
  EXPECT_EQ(link.Read(buf), 5);
  EXPECT_EQ(fake.recvTimeouts.size(), calls);
  EXPECT_EQ(buf[4], 1);
  EXPECT_EQ(link.Read(buf), 0);
}

TEST_F(UsbLink, WriteHandsAZeroFilledBufferAndMapsFailure) {
  CTransUSB link(kFakeApi);
  const uint8_t frame[] = {2, 0x4C, 2, 4, 0};
  fake.sendResult = 64;
  EXPECT_EQ(link.Write(frame, 5), 64);
  ASSERT_EQ(fake.sent.size(), 1u);
  EXPECT_EQ(std::memcmp(fake.sent[0].data(), frame, 5), 0);
  for (size_t i = 5; i < 128; ++i) ASSERT_EQ(fake.sent[0][i], 0);
  fake.sendResult = 0;
  EXPECT_EQ(link.Write(frame, 5), -1);
}

TEST_F(UsbLink, CloseNeedsBothCallsToSucceed) {
  CTransUSB link(kFakeApi);
  fake.present = {0, 0};
  link.SetState(kLinkIdle);

  fake.closeMyDeviceResult = 0;
  link.Close();
  EXPECT_EQ(fake.closeCalls, 0);  // library not released after a failed device close
  EXPECT_EQ(link.GetState(), kLinkIdle);

  fake.closeMyDeviceResult = 1;
  fake.closeResult = 0;
  link.Close();
  EXPECT_EQ(fake.closeCalls, 1);
  EXPECT_EQ(link.GetState(), kLinkIdle);

  fake.closeResult = 1;
  link.Close();
  EXPECT_EQ(link.GetState(), kLinkClosed);
  EXPECT_EQ(link.ReservedQuery1(), 1);
  EXPECT_EQ(link.ReservedQuery2(), 1);
}

}  // namespace
