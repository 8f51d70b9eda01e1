// The report queue, the notice hub, and the library without a device.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SimPeer.h"
#include "hidpipe/HidPipe.h"
#include "hidpipe/NoticeHub.h"
#include "hidpipe/ReportQueue.h"
#include "hidpipe/ReportWriter.h"

namespace hidpipe {
namespace {

ReportQueue::Report numbered(uint32_t n) {
  ReportQueue::Report r{};
  std::memcpy(r.data(), &n, sizeof n);
  return r;
}

uint32_t number(const uint8_t* r) {
  uint32_t n;
  std::memcpy(&n, r, sizeof n);
  return n;
}

TEST(ReportQueue, FullQueueDropsOldestAndCountsIt) {
  ReportQueue q(4);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(q.push(numbered(i).data()));
  EXPECT_FALSE(q.push(numbered(4).data()));
  EXPECT_FALSE(q.push(numbered(5).data()));
  EXPECT_EQ(q.dropped(), 2u);
  uint8_t out[64];
  for (uint32_t i = 2; i < 6; ++i) {
    ASSERT_EQ(q.pop(out, 0), 1);
    EXPECT_EQ(number(out), i);
  }
  EXPECT_EQ(q.pop(out, 0), 0);
  EXPECT_EQ(q.pop(out, 5), 0);
  q.reset();
  EXPECT_EQ(q.dropped(), 0u);
}

TEST(ReportQueue, ClosedQueueHandsOutTheRestThenEnds) {
  ReportQueue q(8);
  q.push(numbered(1).data());
  q.close();
  q.push(numbered(2).data());  // ignored once closed
  uint8_t out[64];
  ASSERT_EQ(q.pop(out, -1), 1);
  EXPECT_EQ(number(out), 1u);
  EXPECT_EQ(q.pop(out, -1), -1);
  q.reset();
  EXPECT_EQ(q.pop(out, 0), 0);
}

TEST(ReportQueue, WaitingReaderWakesForReportInterruptAndClose) {
  ReportQueue q(8);
  uint8_t out[64];
  std::thread pusher([&] { q.push(numbered(9).data()); });
  ASSERT_EQ(q.pop(out, -1), 1);
  EXPECT_EQ(number(out), 9u);
  pusher.join();

  std::thread interrupter([&] { q.interrupt(); });
  EXPECT_EQ(q.pop(out, -1), 0);
  interrupter.join();
  EXPECT_EQ(q.pop(out, -1), 0);  // stays interrupted until cleared
  q.clearInterrupt();

  std::thread closer([&] { q.close(); });
  EXPECT_EQ(q.pop(out, -1), -1);
  closer.join();
}

// A reader waiting without limit is ended by one wake, given now or before it waits; a pop
// that does not wait leaves the wake for the next one that does, and a report still comes
// first.
TEST(ReportQueue, OneWakeEndsOneWaitWithoutLimit) {
  ReportQueue q(8);
  uint8_t out[64];
  std::thread waker([&] { q.wake(); });
  EXPECT_EQ(q.pop(out, -1), 0);
  waker.join();

  q.wake();
  EXPECT_EQ(q.pop(out, 0), 0);
  EXPECT_EQ(q.pop(out, -1), 0);
  std::thread pusher([&] { q.push(numbered(4).data()); });
  ASSERT_EQ(q.pop(out, -1), 1);  // the wake was spent: this one waits for the report
  EXPECT_EQ(number(out), 4u);
  pusher.join();

  q.push(numbered(5).data());
  q.wake();
  ASSERT_EQ(q.pop(out, -1), 1);
  EXPECT_EQ(number(out), 5u);
  EXPECT_EQ(q.pop(out, -1), 0);
  q.wake();
  q.reset();  // a new device: no wake left over from the last one
  std::thread late([&] { q.push(numbered(6).data()); });
  ASSERT_EQ(q.pop(out, -1), 1);
  late.join();
}

TEST(ReportQueue, WriterGivenTimeWaitsForRoomInsteadOfDropping) {
  ReportQueue q(2);
  q.push(numbered(0).data());
  q.push(numbered(1).data());
  std::atomic<bool> pushed{false};
  std::thread writer([&] {
    q.push(numbered(2).data(), 60000);
    pushed = true;
  });
  uint8_t out[64];
  ASSERT_EQ(q.pop(out, 0), 1);
  writer.join();
  EXPECT_TRUE(pushed);
  EXPECT_EQ(q.dropped(), 0u);
  ASSERT_EQ(q.pop(out, 0), 1);
  EXPECT_EQ(number(out), 1u);
  ASSERT_EQ(q.pop(out, 0), 1);
  EXPECT_EQ(number(out), 2u);
}

std::atomic<bool> gRemoved{false};
std::atomic<int> gLate{0};
std::atomic<int> gSeen{0};
void slowCallback(int, const char*, void*) {
  ++gSeen;
  for (int i = 0; i < 100; ++i) std::this_thread::yield();
  if (gRemoved) ++gLate;
}

TEST(NoticeHub, CallbackNeverRunsAfterRemovalReturned) {
  NoticeHub hub;
  hub.setCallback(&slowCallback, nullptr);
  std::atomic<bool> stop{false};
  std::thread poster([&] {
    for (int i = 0; i < 100000 && !stop; ++i) {
      hub.post(HIDPIPE_ARRIVAL, "/dev/hidraw0");
      std::this_thread::yield();
    }
  });
  // A few callbacks show them flowing; a loaded machine gives few yields a second.
  const bool flowing = waitUntil([] { return gSeen >= 3; });
  hub.setCallback(nullptr, nullptr);
  gRemoved = true;
  const int seen = gSeen;
  stop = true;
  poster.join();
  hub.post(HIDPIPE_REMOVAL, "/dev/hidraw0");
  ASSERT_TRUE(flowing);
  EXPECT_EQ(gLate, 0);
  EXPECT_EQ(gSeen, seen);
}

TEST(NoticeHub, KeepsAtMostABoundedBacklog) {
  NoticeHub hub;
  std::mutex gate;
  std::unique_lock hold(gate);
  struct Ctx {
    std::mutex* gate;
    std::atomic<int> calls{0};
  } ctx{&gate};
  hub.setCallback(
      [](int, const char*, void* user) {
        auto* c = static_cast<Ctx*>(user);
        ++c->calls;
        std::lock_guard wait(*c->gate);  // the first delivery blocks until released
      },
      &ctx);
  hub.post(HIDPIPE_ARRIVAL, "first");
  ASSERT_TRUE(waitUntil([&] { return ctx.calls == 1; }));
  for (size_t i = 0; i < 3 * NoticeHub::kMaxPending; ++i) hub.post(HIDPIPE_ARRIVAL, "more");
  hold.unlock();
  ASSERT_TRUE(waitUntil([&] { return ctx.calls == 1 + static_cast<int>(NoticeHub::kMaxPending); }));
  hub.setCallback(nullptr, nullptr);
  EXPECT_EQ(ctx.calls, 1 + static_cast<int>(NoticeHub::kMaxPending));
}

// A removal the library found itself is announced once: udev's removal of the same device
// that may follow is not a second one, but a later one after the device was opened again is.
TEST(NoticeHub, RemovalFoundByTheLibraryIsAnnouncedOnce) {
  NoticeHub hub;
  struct Log {
    std::mutex m;
    std::vector<std::pair<int, std::string>> events;
  } log;
  hub.setCallback(
      [](int event, const char* path, void* user) {
        auto* l = static_cast<Log*>(user);
        std::lock_guard lk(l->m);
        l->events.emplace_back(event, path);
      },
      &log);
  const std::string a = "/dev/hidraw0#VID_227D&PID_0102&MI_01";
  hub.postGone(a);
  hub.post(HIDPIPE_REMOVAL, a);  // udev's, late: already announced
  hub.post(HIDPIPE_ARRIVAL, a);
  hub.forget(a);  // opened again
  hub.postGone(a);
  hub.forget(a);
  hub.post(HIDPIPE_REMOVAL, a);  // after an open: news
  const std::vector<std::pair<int, std::string>> want = {
      {HIDPIPE_REMOVAL, a}, {HIDPIPE_ARRIVAL, a}, {HIDPIPE_REMOVAL, a}, {HIDPIPE_REMOVAL, a}};
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard lk(log.m);
    return log.events.size() >= want.size();
  }));
  hub.setCallback(nullptr, nullptr);
  EXPECT_EQ(log.events, want);
}

// Two threads' writes meet: the second waits for the first rather than taking it for a
// stall. A write that outlasts its time is a stall: nothing is started on top of it.
TEST(ReportWriter, ASecondWriteWaitsAndAStuckOneIsNeverDoubled) {
  using hidpipe::ReportWriter;
  ReportWriter w;
  std::atomic<bool> release{false};
  std::atomic<int> ran{0};
  const auto held = [&] {
    while (!release) std::this_thread::yield();
    ++ran;
    return 0;
  };
  std::thread first([&] { EXPECT_EQ(w.run(held, 60000), 0); });
  ASSERT_TRUE(waitUntil([&] { return w.busy(); }));
  std::thread second([&] { EXPECT_EQ(w.run([&] { ++ran; return EPIPE; }, 60000), EPIPE); });
  release = true;
  first.join();
  second.join();
  EXPECT_EQ(ran, 2);

  release = false;
  EXPECT_EQ(w.run(held, 10), ReportWriter::kStillWriting);
  // Refused, never begun: told apart from one that may still go out.
  EXPECT_EQ(w.run([&] { ++ran; return 0; }, 10), ReportWriter::kRefused);
  EXPECT_EQ(w.late(), ReportWriter::kStillWriting) << "the account is the held one's";
  release = true;
  ASSERT_TRUE(waitUntil([&] { return !w.busy(); }));
  EXPECT_EQ(ran, 3);  // the held one ended; the one refused never ran
  EXPECT_EQ(w.run([] { return 0; }, 60000), 0);
}

// A write its caller stopped waiting for is followed to its end: under way, then what it
// ended with (it may well have gone out after all).
TEST(ReportWriter, AWriteOutlastingItsWaitTellsHowItEnded) {
  using hidpipe::ReportWriter;
  ReportWriter w;
  EXPECT_EQ(w.late(), 0);
  for (const int ending : {0, EPIPE}) {
    std::atomic<bool> release{false};
    EXPECT_EQ(w.run([&] { while (!release) std::this_thread::yield(); return ending; }, 10),
              ReportWriter::kStillWriting);
    EXPECT_EQ(w.late(), ReportWriter::kStillWriting);
    release = true;
    ASSERT_TRUE(waitUntil([&] { return !w.busy(); }));
    EXPECT_EQ(w.late(), ending);
    EXPECT_EQ(w.run([] { return 0; }, 60000), 0);  // one in time leaves the account as it is
    EXPECT_EQ(w.late(), ending);
  }
}

struct SelfRemover {
  NoticeHub* hub;
  std::atomic<int> calls{0};
  static void callback(int, const char*, void* user) {
    auto* self = static_cast<SelfRemover*>(user);
    ++self->calls;
    self->hub->setCallback(nullptr, nullptr);  // must not wait for itself
  }
};

TEST(NoticeHub, CallbackMayRemoveItselfAndPathArrivesIntact) {
  NoticeHub hub;
  SelfRemover remover{&hub};
  hub.setCallback(&SelfRemover::callback, &remover);
  hub.post(HIDPIPE_ARRIVAL, "one");
  hub.post(HIDPIPE_ARRIVAL, "two");
  ASSERT_TRUE(waitUntil([&] { return remover.calls >= 1; }));
  // The hub is usable again afterwards.
  struct Got {
    std::mutex m;
    int event = 0;
    std::string path;
  } got;
  hub.setCallback(
      [](int event, const char* path, void* user) {
        auto* g = static_cast<Got*>(user);
        std::lock_guard lk(g->m);
        g->event = event;
        g->path = path;
      },
      &got);
  hub.post(HIDPIPE_REMOVAL, "/dev/hidraw7#VID_227D&PID_0102&MI_01");
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard lk(got.m);
    return got.event != 0;
  }));
  hub.setCallback(nullptr, nullptr);
  EXPECT_EQ(remover.calls, 1);
  EXPECT_EQ(got.event, HIDPIPE_REMOVAL);
  EXPECT_EQ(got.path, "/dev/hidraw7#VID_227D&PID_0102&MI_01");
}

TEST(HidPipeWithoutDevice, CallsFailOrSucceedAsCallersRelyOn) {
  HidPipe lib("");  // hidraw backend; no controller is attached to a test machine
  uint8_t buf[64];
  const uint8_t frame[5] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  EXPECT_EQ(lib.closeDevice(), 1);
  EXPECT_EQ(lib.openDevice(0, 0x0102, 1), 0);
  EXPECT_EQ(lib.openDevice(0x227D, 0, 1), 0);
  EXPECT_EQ(lib.send(frame), 0);
  EXPECT_EQ(lib.recv(buf, 0), 0);
  EXPECT_EQ(lib.recv(nullptr, 0), 0);
  EXPECT_EQ(lib.setDrainRing(0), 1);
  EXPECT_EQ(lib.recv(buf, 1), 0);
  EXPECT_EQ(lib.close(), 1);
}

}  // namespace
}  // namespace hidpipe
