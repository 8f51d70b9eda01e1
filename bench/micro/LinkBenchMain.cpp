#include "bench/common/TargetReporter.h"

int main(int argc, char** argv) {
  TargetReporter reporter("link");
  reporter.AddInfo("BM_CommandToUsbFrame",
                   {"command string to USB frame", "items_per_second", 0, 0, "cmds"});
  reporter.AddInfo("BM_CommandToSerialPacket",
                   {"command string to serial packet", "items_per_second", 0, 0, "cmds"});
  reporter.AddTarget("BM_SerialReassembly/16",
                     {"serial reassembly, reads of 1-16 bytes", "bytes_per_second", 200e6, 0, ""});
  reporter.AddTarget("BM_SerialReassembly/256",
                     {"serial reassembly, reads of 1-256 bytes", "bytes_per_second", 200e6, 0, ""});
  reporter.AddTarget("BM_SerialReassembly/4096", {"serial reassembly, reads of 1-4096 bytes",
                                                  "bytes_per_second", 200e6, 0, ""});
  reporter.AddTarget("BM_DecodeAndRoute", {"decode and route, data reports (receive thread CPU)",
                                           "frames_per_core_s", 1e6, 0, "frames"});
  reporter.AddTarget("BM_DecodeAndRouteTouch",
                     {"decode and route, touch reports (receive thread CPU)", "frames_per_core_s",
                      1e6, 0, "frames"});
  return RunBenchmarks(argc, argv, reporter);
}
