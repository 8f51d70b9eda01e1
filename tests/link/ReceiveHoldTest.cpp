// When the receive thread lets a stream gather before it waits for the next report.
#include <gtest/gtest.h>

#include "link/ReceiveHold.h"

namespace {

// Takes `reports` reports stamped `gapUs` apart, asking for a hold after each; returns how
// many holds were asked for.
int holds(ReceiveHold& hold, int64_t& nowUs, int reports, int64_t gapUs) {
  int held = 0;
  for (int i = 0; i < reports; ++i) {
    nowUs += gapUs;
    hold.OnReport(nowUs);
    if (hold.HoldUs() > 0) ++held;
  }
  return held;
}

}  // namespace

TEST(ReceiveHold, OnlyStreamsOfAboutAThousandReportsASecondAreHeld) {
  struct Case {
    int64_t gapUs;
    int held;  // of 100 reports, one a wait
  } cases[] = {
      {1000, 99},  // every report but the first is followed by one hold
      {2000, 99},
      {ReceiveHold::kSteadyGapUs + 1, 0},  // slower: handed on as they come
      {10'000, 0},  // a touch, answers
      {125, 0},     // 8000/s: the link's reader batches them
      {0, 0},       // a burst stamped alike
  };
  for (const Case& c : cases) {
    ReceiveHold hold;
    int64_t now = 1'000'000;
    EXPECT_EQ(holds(hold, now, 100, c.gapUs), c.held) << c.gapUs << " us apart";
  }
  // A stamp that went backwards (another session's clock) starts counting anew.
  ReceiveHold hold;
  int64_t now = 1'000'000;
  holds(hold, now, 10, 1000);
  EXPECT_EQ(holds(hold, now, 1, -500), 0);
  EXPECT_EQ(holds(hold, now, 2, 1000), 2);
}

TEST(ReceiveHold, ReportsThatComeSeveralAtOnceAreNotHeldAgain) {
  ReceiveHold hold;
  int64_t now = 1'000'000;
  holds(hold, now, 20, 1000);
  // The stream turns fast: held only while the running mean catches up.
  EXPECT_LT(holds(hold, now, 20, 125), 20);
  EXPECT_EQ(holds(hold, now, 20, 125), 0);
  // 8000/s read in batches of eight, a millisecond apart: no hold on top of the reader's.
  for (int batch = 0; batch < 20; ++batch) {
    now += 1000;
    for (int i = 0; i < 8; ++i) hold.OnReport(now);
    EXPECT_EQ(hold.HoldUs(), 0) << "batch " << batch;
  }
  // Several reports of a 1000/s stream in one wait (the thread was late): no hold then.
  holds(hold, now, 40, 1000);
  for (int i = 0; i < 3; ++i) hold.OnReport(now += 1000);
  EXPECT_EQ(hold.HoldUs(), 0);
  EXPECT_EQ(holds(hold, now, 10, 1000), 10);
}

TEST(ReceiveHold, AStreamThatStopsIsNotWaitedOnInHolds) {
  ReceiveHold hold;
  int64_t now = 1'000'000;
  holds(hold, now, 10, 1000);
  hold.OnReport(now += 1000);
  EXPECT_EQ(hold.HoldUs(), ReceiveHold::kHoldUs);
  // Nothing came during the hold: the thread waits for input, it does not hold again.
  EXPECT_EQ(hold.HoldUs(), 0);
  EXPECT_EQ(hold.HoldUs(), 0);
}

TEST(ReceiveHold, ReportsTheLinkDidNotStampAreNeverHeld) {
  // The serial link's time is taken where the receive thread reads it: holding would
  // move that time.
  ReceiveHold hold;
  for (int i = 0; i < 50; ++i) {
    hold.OnReport(0);
    EXPECT_EQ(hold.HoldUs(), 0);
  }
  // A stamped report after unstamped ones starts counting anew.
  hold.OnReport(5'000'000);
  EXPECT_EQ(hold.HoldUs(), 0);
  hold.OnReport(5'001'000);
  EXPECT_EQ(hold.HoldUs(), ReceiveHold::kHoldUs);
}
