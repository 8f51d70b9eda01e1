// When the simulator socket's reads are held back to take reports in batches.
#include <gtest/gtest.h>

#include "hidpipe/ReadPace.h"

using hidpipe::ReadPace;

namespace {

// Feeds reads of `reports` each, `gapUs` apart; returns how many of them asked for a hold.
int holds(ReadPace& pace, int64_t& nowUs, int reads, int64_t gapUs, size_t reports = 1) {
  int held = 0;
  for (int i = 0; i < reads; ++i) {
    nowUs += gapUs;
    if (pace.afterRead(nowUs, reports) > 0) ++held;
  }
  return held;
}

}  // namespace

TEST(ReadPace, StreamsOfAThousandReportsASecondAreNeverHeld) {
  ReadPace pace;
  int64_t now = 1'000'000;
  EXPECT_EQ(holds(pace, now, 1000, 1000), 0);
  for (int i = 0; i < 100; ++i) {
    // A late wake-up that finds several reports queued is no faster stream.
    EXPECT_EQ(holds(pace, now, 1, 5000, 5), 0);
    EXPECT_EQ(holds(pace, now, 1, 300), 0);
    // Nor is a late sender's catch-up: its reports read one by one, back to back.
    EXPECT_EQ(holds(pace, now, 10, 20), 0);
    EXPECT_EQ(holds(pace, now, 1, 700), 0);
  }
  // Notices and answers between reports change nothing.
  EXPECT_EQ(holds(pace, now, 10, 10, 0), 0);
}

TEST(ReadPace, AFastStreamIsHeldUntilItSlowsDown) {
  ReadPace pace;
  int64_t now = 1'000'000;
  // 8000 reports/s, one a read: held once it has been fast for kFastForUs.
  const int untilFast = int(ReadPace::kFastForUs / 125);
  EXPECT_EQ(holds(pace, now, untilFast, 125), 0);
  EXPECT_EQ(holds(pace, now, 10, 125), 10);
  // Held reads take the reports that gathered: still fast, still held.
  EXPECT_EQ(holds(pace, now, 100, 1100, 9), 100);
  // Down to 2000 reports/s: the first read at that pace ends the hold.
  EXPECT_EQ(holds(pace, now, 1, 1100, 2), 0);
  EXPECT_EQ(holds(pace, now, 100, 500), 0);
  // Fast again, counted from the last slow read; a new connection starts counting anew.
  EXPECT_EQ(holds(pace, now, untilFast - 1, 125), 0);
  EXPECT_EQ(holds(pace, now, 10, 125), 10);
  pace.reset();
  EXPECT_EQ(holds(pace, now, untilFast, 125), 0);
}
