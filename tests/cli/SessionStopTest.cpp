// A person's command and a stop signal that comes just before its wait begins.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "common/SimProcess.h"

// The stop came while the command was being written (a busy host, a slow write): the
// wait for an answer that never comes must end at once, not when the command's own
// time-out runs out (calibrate's is up to an hour).
TEST(SessionStop, AStopBeforeTheWaitEndsAPersonsCommandAtOnce) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--calibrate-result", "never"}));
  ::setenv("HIDPIPE_SIM", sim.Socket().c_str(), 1);
  InstallInterruptHandlers();
  GlobalOptions g;
  g.link.usbVid = 0x227D;
  g.link.usbPid = 0x0102;
  int code = 0;
  auto s = Connect(g, code);
  ASSERT_TRUE(s) << code;
  Interrupt(SIGTERM);
  EXPECT_EQ(s->Command("SEND 024C0101 ", 30000), ControllerSession::Result::kInterrupted);
  EXPECT_EQ(s->Error(), "interrupted");
}
