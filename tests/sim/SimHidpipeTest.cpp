// tpcsim's USB personality through the hidpipe library's simulator backend, as the
// programs use it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/SimProcess.h"
#include "hidpipe/hidpipe.h"

namespace {

struct Notices {
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::pair<int, std::string>> seen;

  static void Fn(int event, const char* path, void* user) {
    auto* n = static_cast<Notices*>(user);
    std::lock_guard lk(n->m);
    n->seen.emplace_back(event, path);
    n->cv.notify_all();
  }
  bool WaitFor(int event, size_t count) {
    std::unique_lock lk(m);
    return cv.wait_for(lk, std::chrono::seconds(10), [&] {
      size_t n = 0;
      for (auto& s : seen) n += s.first == event;
      return n >= count;
    });
  }
};

// Sends one line on the control socket and reads the answer (retrying the connect
// until the simulator listens).
// Receives until a report satisfies `want` (hidRecv waits on the device).
bool RecvUntil(uint8_t* buf, bool (*want)(const uint8_t*)) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end)
    if (hidRecv(buf, 100) && want(buf)) return true;
  return false;
}

}  // namespace

TEST(SimThroughHidpipe, VersionStreamAndRemoval) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  ASSERT_EQ(sim.Command("status").rfind("ok usb: plugged=1", 0), 0u);

  setenv("HIDPIPE_SIM", sim.Socket().c_str(), 1);
  Notices notices;
  ASSERT_NE(hidOpen(nullptr), 0);
  hidSetNoticeCallback(&Notices::Fn, &notices);
  ASSERT_NE(hidOpenMyDevice(0x227D, 0x0102, 1), 0);
  hidEnableRecv(1);

  uint8_t out[128] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  ASSERT_NE(hidSend(out), 0);
  uint8_t in[64];
  ASSERT_TRUE(RecvUntil(in, [](const uint8_t* r) { return r[1] == 0x4C && r[3] == 0x04; }));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(in) + 4, in[2] - 1), "TPCSIM 1.0.0");

  const uint8_t start[128] = {0x02, 0x4E, 0x02, 0x04, 0x00};
  ASSERT_NE(hidSend(start), 0);
  ASSERT_TRUE(RecvUntil(in, [](const uint8_t* r) { return r[1] == 0x4B && r[3] == 0x00; }));
  EXPECT_EQ(in[2] % 2, 0);
  const uint8_t stop[128] = {0x02, 0x4E, 0x01, 0x80};
  ASSERT_NE(hidSend(stop), 0);
  ASSERT_TRUE(RecvUntil(in, [](const uint8_t* r) { return r[1] == 0x4E && r[3] == 0x80; }));

  EXPECT_EQ(sim.Command("unplug"), "ok");
  ASSERT_TRUE(notices.WaitFor(HIDPIPE_REMOVAL, 1));
  {
    std::lock_guard lk(notices.m);
    EXPECT_NE(notices.seen.back().second.find("VID_227D&PID_0102&MI_01"), std::string::npos);
  }
  EXPECT_EQ(sim.Command("plug"), "ok");
  ASSERT_TRUE(notices.WaitFor(HIDPIPE_ARRIVAL, 1));

  hidSetNoticeCallback(nullptr, nullptr);
  hidCloseMyDevice();
  hidClose();
  EXPECT_TRUE(sim.Stop());
}
