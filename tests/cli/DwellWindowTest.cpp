// A dwell window of the noise sweep taken by the frames' times of arrival, with a reader
// that runs behind: the frames are handed over long after they arrived.
#include <gtest/gtest.h>

#include <deque>

#include "cli/DwellWindow.h"

namespace {

using Received = ControllerSession::Received;

// Frames handed over as a late reader gets them: nothing at first (the receive thread has
// not queued them yet), then the queued frames with their old arrival times.
class LateSource : public DwellSource {
 public:
  std::optional<Received> Next(int timeoutMs) override {
    timeouts.push_back(timeoutMs);
    if (emptyPolls > 0) {
      --emptyPolls;
      return std::nullopt;
    }
    if (queued.empty()) return std::nullopt;
    Received r = std::move(queued.front());
    queued.pop_front();
    return r;
  }
  bool Lost(std::string& why) override {
    if (!lost || !queued.empty()) return false;
    why = "gone";
    return true;
  }
  void Queue(int64_t arrivedUs) {
    Received r;
    r.arrivedUs = arrivedUs;
    queued.push_back(std::move(r));
  }

  int emptyPolls = 0;
  bool lost = false;
  std::deque<Received> queued;
  std::vector<int> timeouts;
};

}  // namespace

// The whole window is a second in the past when its frames are handed over; the window
// still holds every frame that arrived in it and ends with the first from after it.
TEST(DwellWindow, FramesHandedOverLongAfterTheWindowAreMeasured) {
  const int64_t from = ControllerSession::NowUs() - 1'000'000, end = from + 50'000;
  LateSource source;
  source.emptyPolls = 3;
  source.Queue(from - 10);  // the settling
  for (int64_t at : {from, from + 20'000, end - 1}) source.Queue(at);
  source.Queue(end);      // ends the window
  source.Queue(end + 5);  // the next window's
  std::vector<int64_t> taken;
  std::string why;
  EXPECT_TRUE(CollectDwell(
      {from, end, 600'000}, source, [&](const Received& f) { taken.push_back(f.arrivedUs); }, why));
  EXPECT_EQ(taken, (std::vector<int64_t>{from, from + 20'000, end - 1}));
  ASSERT_EQ(source.queued.size(), 1u);
  // Past the window's end the reader still waits for the late frames.
  ASSERT_GE(source.timeouts.size(), 3u);
  EXPECT_GT(source.timeouts.front(), 50'000);
}

// No frame from after the window: a controller silent past the allowance ends the window
// with what came; one that went away stops the sweep.
TEST(DwellWindow, SilentOrLostControllerEndsTheWindow) {
  const int64_t from = ControllerSession::NowUs() - 1'000'000, end = from + 50'000;
  LateSource silent;
  silent.Queue(from + 1);
  int taken = 0;
  std::string why;
  EXPECT_TRUE(CollectDwell(
      {from, end, 0}, silent, [&](const Received&) { ++taken; }, why));
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(why, "");

  LateSource lost;
  lost.Queue(from + 1);
  lost.lost = true;
  taken = 0;
  EXPECT_FALSE(CollectDwell(
      {from, end, 60'000}, lost, [&](const Received&) { ++taken; }, why));
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(why, "gone");
}
