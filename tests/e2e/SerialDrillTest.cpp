// The bad-frame drill over the serial link: frames reassembled from a pseudo-terminal
// while one in ten is spoilt.
#include <gtest/gtest.h>

#include "DrillRecorder.h"
#include "common/SimProcess.h"
#include "link/CTransCtrl.h"

namespace {

TEST(SerialDrill, EveryValidFrameArrivesThroughThirtySecondsOfBadFrames) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--serial", "--rate", "400"}));
  CTransCtrl ctrl;
  Recorder rec(ctrl);
  ctrl.RegisterListener(3, 2, &rec);
  ctrl.RegisterListener(7, 2, &rec);
  SerialLineSettings line;
  line.baudRate = 115200;
  line.devicePath = sim.Link();
  ASSERT_EQ(ctrl.Open(kLinkCom, &line), 1);
  ASSERT_TRUE(WaitUntil([&] { return rec.versions > 0; }));

  auto [valid, bad] = RunBadFrameDrill(sim, ctrl, rec, 30);
  EXPECT_GT(valid, 5000u);
  EXPECT_GT(bad, valid / 20);
  ctrl.Close();
  CTransCtrl::ClearPending();
  EXPECT_TRUE(sim.Stop());
}

}  // namespace
