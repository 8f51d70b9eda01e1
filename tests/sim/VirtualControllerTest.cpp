#include <gtest/gtest.h>

#include <map>

#include "sim/VirtualController.h"

using namespace tpcsim;

namespace {

// Real frames only (garbage units are checked separately).
std::vector<Bytes> Frames(const std::vector<OutFrame>& out) {
  std::vector<Bytes> f;
  for (const auto& o : out)
    if (!o.raw) f.push_back(o.bytes);
  return f;
}

uint16_t Value(const Bytes& f, int k) {
  return f[7 + 2 * k] | (f[8 + 2 * k] << 8);
}

class ControllerTest : public ::testing::Test {
 protected:
  explicit ControllerTest(ControllerConfig cfg = {}) : c(clock, cfg) {}
  std::vector<Bytes> Send(Bytes frame) { return Frames(c.HandleHostFrame(frame)); }
  // Steps the clock in 1 ms steps, collecting everything the controller sends.
  std::vector<Bytes> Run(int ms) {
    std::vector<Bytes> all;
    for (int i = 0; i < ms; ++i) {
      clock.AdvanceMs(1);
      for (auto& f : Frames(c.Poll())) all.push_back(f);
    }
    return all;
  }
  SteppedClock clock;
  VirtualController c;
};

class SerialControllerTest : public ControllerTest {
 protected:
  static ControllerConfig Serial() {
    ControllerConfig cfg;
    cfg.link = LinkKind::Serial;
    return cfg;
  }
  SerialControllerTest() : ControllerTest(Serial()) {}
};

class DfuControllerTest : public ControllerTest {
 protected:
  static ControllerConfig Dfu() {
    ControllerConfig cfg;
    cfg.pid = 0x0104;
    cfg.iface = 0;
    return cfg;
  }
  DfuControllerTest() : ControllerTest(Dfu()) {}
};

}  // namespace

TEST_F(ControllerTest, AcknowledgesEveryCommandWithAReply) {
  // Command frame -> expected reply header (group, sub) and status 1.
  const std::vector<Bytes> commands = {
      {0x02, 0x4C, 0x02, 0x03, 0x0A},              // SetSampingRate
      {0x02, 0x4C, 0x02, 0x05, 0x01},              // ChangeCoordinatesReportTarget
      {0x02, 0x4C, 0x02, 0x08, 0x00},              // ChangeCoordinatesReportPermission
      {0x02, 0x4C, 0x04, 0x07, 0x00, 0xFA, 0x00},  // SetM0SpiFreq 250
      {0x02, 0x4C, 0x04, 0x07, 0x01, 0x00, 0x00},  // SetM1SpiFreq default
      {0x02, 0x4C, 0x02, 0x09, 0x00},              // GetSelfTestResult
      {0x02, 0x4C, 0x02, 0x0A, 0x00},              // GetDriverType
      {0x02, 0x4C, 0x03, 0x91, 0x10, 0x00},        // MsiRegisterRead
      {0x02, 0x4C, 0x04, 0x92, 0x10, 0x00, 0x55},  // MsiRegisterWrite
      {0x02, 0x4C, 0x01, 0x99},                    // GetIGTNumber
      {0x02, 0x4C, 0x01, 0xA0},
      {0x02, 0x4C, 0x02, 0xA1, 0x01},
      {0x02, 0x4C, 0x01, 0xA2},
      {0x02, 0x4C, 0x02, 0xA3, 0x00},
      {0x02, 0x4C, 0x02, 0xA4, 0x20},
      {0x02, 0x4C, 0x02, 0xB0, 0x01},
      {0x02, 0x4C, 0x01, 0xB1},
      {0x02, 0x4E, 0x02, 0x04, 0x00},
      {0x02, 0x4E, 0x02, 0x05, 0x00},
      {0x02, 0x4E, 0x02, 0x06, 0x00},
      {0x02, 0x4E, 0x02, 0x0C, 0x00},
      {0x02, 0x4E, 0x02, 0x25, 0x00},
      {0x02, 0x4E, 0x02, 0x26, 0x00},
      {0x02, 0x4E, 0x02, 0x0D, 0x00},
      {0x02, 0x4E, 0x02, 0x2D, 0x00},
      {0x02, 0x4E, 0x02, 0x2E, 0x00},
      {0x02, 0x4E, 0x02, 0x1C, 0x00},
      {0x02, 0x4E, 0x02, 0x1D, 0x00},
      {0x02, 0x4E, 0x01, 0x80},
  };
  for (const Bytes& cmd : commands) {
    auto r = Send(cmd);
    ASSERT_EQ(r.size(), 1u) << HexLine(cmd);
    const Bytes& f = r[0];
    ASSERT_GE(f.size(), 5u);
    EXPECT_EQ(f[0], 0x02);
    EXPECT_EQ(f[1], cmd[1]) << HexLine(cmd);
    EXPECT_EQ(f[2], f.size() - 3) << HexLine(cmd);
    EXPECT_EQ(f[3], cmd[3]) << HexLine(cmd);
    EXPECT_EQ(f[4], 1) << HexLine(cmd);
  }
  EXPECT_EQ(c.GetStats().naks, 0u);
}

TEST_F(ControllerTest, VersionAndPanelInformation) {
  auto v = Send({0x02, 0x4C, 0x02, 0x04, 0x00});
  ASSERT_EQ(v.size(), 1u);
  std::string text(v[0].begin() + 4, v[0].end());
  EXPECT_EQ(text, "TPCSIM 1.0.0");
  EXPECT_EQ(v[0][2], text.size() + 1);

  auto d = Send({0x02, 0x4C, 0x02, 0x06, 0x00});
  ASSERT_EQ(d.size(), 1u);
  ASSERT_EQ(d[0].size(), 17u);
  EXPECT_EQ(d[0][2], 14);
  EXPECT_EQ(d[0][4], 38);
  EXPECT_EQ(d[0][5], 22);
  EXPECT_EQ(d[0][6] | d[0][7] << 8, 64);
  EXPECT_EQ(d[0][9] | d[0][10] << 8, 38 * 64);
  EXPECT_EQ(d[0][11] | d[0][12] << 8, 22 * 64);

  c.SetDetailForm(8);
  d = Send({0x02, 0x4C, 0x02, 0x06, 0x00});
  ASSERT_EQ(d[0], (Bytes{0x02, 0x4C, 0x05, 0x06, 38, 22, 64, 0}));

  EXPECT_FALSE(c.SetVersionText(std::string(61, 'x')));  // would not fit a report
  EXPECT_TRUE(c.SetVersionText(""));
  v = Send({0x02, 0x4C, 0x02, 0x04, 0x00});
  EXPECT_EQ(v[0], (Bytes{0x02, 0x4C, 0x01, 0x04}));
}

TEST_F(ControllerTest, RejectsBadParametersAndUnknownCommands) {
  const std::vector<Bytes> bad = {
      {0x02, 0x4C, 0x02, 0x03, 0x00},              // sampling interval 0
      {0x02, 0x4C, 0x02, 0x05, 0x02},              // target 2
      {0x02, 0x4C, 0x01, 0x08},                    // permission without parameter
      {0x02, 0x4C, 0x04, 0x07, 0x00, 0x1F, 0x00},  // 31 kHz
      {0x02, 0x4C, 0x04, 0x07, 0x00, 0xF5, 0x01},  // 501 kHz
      {0x02, 0x4C, 0x02, 0x07, 0x00},              // frequency missing
      {0x02, 0x4C, 0x01, 0x55},                    // unknown control command
      {0x02, 0x4E, 0x02, 0x77, 0x00},              // unknown data code
  };
  for (const Bytes& cmd : bad) {
    auto r = Send(cmd);
    ASSERT_EQ(r.size(), 1u) << HexLine(cmd);
    EXPECT_EQ(r[0][4], 0) << HexLine(cmd);
  }
  EXPECT_EQ(c.ReportTarget(), 0);
  EXPECT_FALSE(c.StreamCode().has_value());
  // Not a command at all: no answer.
  EXPECT_TRUE(Send({0x02, 0x4C, 0x00, 0x04}).empty());
  EXPECT_TRUE(Send({0x7E, 0x01}).empty());
  EXPECT_TRUE(Send({0x02, 0x4D, 0x01, 0x00}).empty());
}

TEST_F(ControllerTest, LengthByteBeyondTheFrameIsNotReadPast) {
  // Claims 20 parameter bytes, carries one: answered from what arrived.
  Bytes f{0x02, 0x4C, 0x16, 0x05, 0x01};
  auto r = Send(f);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][4], 1);
  EXPECT_EQ(c.ReportTarget(), 1);
}

TEST_F(ControllerTest, StreamSplitsRowsIntoFramesWithStartAndDirection) {
  auto ack = Send({0x02, 0x4E, 0x02, 0x04, 0x00});
  ASSERT_EQ(ack[0], (Bytes{0x02, 0x4E, 0x02, 0x04, 0x01}));
  auto frames = Run(10);  // 400 reports per second: 4 per 10 ms
  ASSERT_EQ(frames.size(), 4u);
  std::map<int, int> xCovered, yCovered;
  for (const Bytes& f : frames) {
    ASSERT_EQ(f[0], 0x02);
    ASSERT_EQ(f[1], 0x4B);
    ASSERT_EQ(f[2], f.size() - 3);
    ASSERT_LE(f.size(), 64u);
    ASSERT_EQ((f[2] - 4) % 2, 0);
    EXPECT_EQ(f[3], 0x00);  // M0 raw
    int count = (f[2] - 4) / 2;
    EXPECT_LE(count, 20);
    for (int k = 0; k < count; ++k) {
      EXPECT_NEAR(Value(f, k), 1000, 100);
      (f[6] == 1 ? xCovered[f[4] + k] : yCovered[f[5] + k])++;
    }
  }
  // Every electrode exactly once per scan.
  EXPECT_EQ(xCovered.size(), 38u);
  EXPECT_EQ(yCovered.size(), 22u);
  for (auto& [i, n] : xCovered) EXPECT_EQ(n, 1) << i;
  EXPECT_EQ(xCovered.rbegin()->first, 37);
  EXPECT_EQ(yCovered.rbegin()->first, 21);

  auto stop = Send({0x02, 0x4E, 0x01, 0x80});
  ASSERT_EQ(stop[0], (Bytes{0x02, 0x4E, 0x02, 0x80, 0x01}));
  EXPECT_TRUE(Run(50).empty());
  EXPECT_EQ(c.NextWakeUs(), VirtualController::kNever);
}

TEST_F(ControllerTest, ChannelStreamsCarryTheirDataCodeAndAxis) {
  Send({0x02, 0x4E, 0x02, 0x0C, 0x00});  // M1 X raw
  for (const Bytes& f : Run(20)) {
    EXPECT_EQ(f[3], 0x08);
    EXPECT_EQ(f[6], 1);
  }
  Send({0x02, 0x4E, 0x02, 0x2D, 0x00});  // M1 Y offset
  for (const Bytes& f : Run(20)) {
    EXPECT_EQ(f[3], 0x2D);
    EXPECT_EQ(f[6], 0);
  }
  c.SetOpenFault(true);
  Send({0x02, 0x4E, 0x02, 0x1C, 0x00});  // open/short X
  bool sawOpen = false;
  for (const Bytes& f : Run(20)) {
    EXPECT_EQ(f[3], 0x1C);
    for (int k = 0; k < (f[2] - 4) / 2; ++k)
      if (f[4] + k == 3) sawOpen = Value(f, k) == 0;
  }
  EXPECT_TRUE(sawOpen);
}

TEST_F(ControllerTest, StreamRateFollowsAbsoluteScheduleWithoutDrift) {
  c.SetStreamRate(8000);
  Send({0x02, 0x4E, 0x02, 0x05, 0x00});
  // Uneven steps (3 ms, then 0.7 ms...) must still give exactly 8 frames per ms.
  size_t n = 0;
  for (int i = 0; i < 300; ++i) {
    clock.AdvanceUs(i % 2 ? 700 : 2300);
    n += Frames(c.Poll(1000)).size();
  }
  EXPECT_EQ(n, 8u * 450);  // 300 steps = 450 ms, plus none ahead of time
  EXPECT_GT(c.NextWakeUs(), clock.NowUs());

  c.SetStreamRate(0);  // max: due at once, limited by the batch
  EXPECT_LE(c.NextWakeUs(), clock.NowUs());
  EXPECT_EQ(Frames(c.Poll(17)).size(), 17u);
}

TEST_F(ControllerTest, StreamSequenceNumbersAndTimeStamps) {
  c.SetStreamSeq(true);
  c.SetStreamRate(1000);
  Send({0x02, 0x4E, 0x02, 0x06, 0x00});
  auto frames = Run(100);
  ASSERT_EQ(frames.size(), 100u);
  for (size_t i = 0; i < frames.size(); ++i) {
    uint32_t seq = Value(frames[i], 0) | (Value(frames[i], 1) << 16);
    uint32_t stamp = Value(frames[i], 2) | (Value(frames[i], 3) << 16);
    EXPECT_EQ(seq, i);
    EXPECT_EQ(stamp, static_cast<uint32_t>(1'000'000 + (i + 1) * 1000));
  }
}

TEST_F(ControllerTest, TouchesOnlyWithTargetHostAndPermissionOn) {
  FingerPath tap;
  tap.x0 = 500;
  tap.y0 = 300;
  tap.durationUs = 50'000;
  c.StartTouch(0, tap);
  EXPECT_TRUE(Run(100).empty());  // target is the cursor after power-up

  Send({0x02, 0x4C, 0x02, 0x05, 0x01});
  Send({0x02, 0x4C, 0x02, 0x08, 0x01});  // reports stopped
  c.StartTouch(0, tap);
  EXPECT_TRUE(Run(100).empty());

  Send({0x02, 0x4C, 0x02, 0x08, 0x00});
  c.StartTouch(0, tap);
  auto r = Run(100);
  ASSERT_GE(r.size(), 3u);
  // 100 Hz for 50 ms: reports with status 7, then one 4 (lift), then one 0.
  for (size_t i = 0; i + 2 < r.size(); ++i) {
    EXPECT_EQ(r[i], (Bytes{0x02, 0x4D, 0x07, 0x01, 7, 0, 0xF4, 0x01, 0x2C, 0x01}));
  }
  EXPECT_EQ(r[r.size() - 2][4], 4);
  EXPECT_EQ(r.back()[4], 0);
  EXPECT_EQ(r.size(), 5u + 2u);
  EXPECT_EQ(c.NextWakeUs(), VirtualController::kNever);  // idle once the fingers are gone
}

TEST_F(ControllerTest, MultiTouchReportCarriesAllFingers) {
  Send({0x02, 0x4C, 0x02, 0x05, 0x01});
  FingerPath line;
  line.kind = FingerPath::Kind::Line;
  line.x0 = 0;
  line.y0 = 0;
  line.x1 = 1000;
  line.y1 = 500;
  line.durationUs = 100'000;
  for (int f = 0; f < 10; ++f) c.StartTouch(f, line);
  auto r = Run(1);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].size(), 64u);
  EXPECT_EQ(r[0][3], 10);
  r = Run(49);
  ASSERT_FALSE(r.empty());
  const Bytes& mid = r.back();  // at 50 ms the fingers are half-way
  EXPECT_EQ(mid[6] | mid[7] << 8, 500);
  EXPECT_EQ(mid[8] | mid[9] << 8, 250);
  // Sampling interval 20 ms: 50 reports per second.
  Send({0x02, 0x4C, 0x02, 0x03, 20});
  EXPECT_EQ(Run(39).size(), 2u);  // at once, then 20 ms later
}

TEST_F(SerialControllerTest, SingleTouchReportsWithPenBit) {
  // A serial controller reports to the host from power-up.
  FingerPath hold;
  hold.kind = FingerPath::Kind::Hold;
  hold.x0 = 38 * 64 / 2;
  hold.y0 = 22 * 64 / 4;
  c.StartTouch(1, hold);
  auto r = Run(1);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], (Bytes{0x01, 0x05, 0x00, 0x02, 0x00, 0x01, 200, 0}));
  c.LiftTouch(1);
  r = Run(30);
  ASSERT_EQ(r.size(), 1u);  // one lift report, no "clear" report on serial
  EXPECT_EQ(r[0][1], 0x04);
  EXPECT_EQ(r[0][6], 0);
}

TEST_F(ControllerTest, CalibrationDelayFailureAndSilence) {
  EXPECT_TRUE(Send({0x02, 0x4C, 0x01, 0x01}).empty());
  EXPECT_TRUE(Run(1999).empty());
  auto r = Run(1);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], (Bytes{0x02, 0x4C, 0x02, 0x01, 0x01}));

  c.SetCalibrateResult(CalibrateResult::Fail);
  c.SetCalibrateDelayMs(10);
  Send({0x02, 0x4C, 0x01, 0x01});
  r = Run(10);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][4], 0);

  c.SetCalibrateResult(CalibrateResult::Never);
  Send({0x02, 0x4C, 0x01, 0x01});
  EXPECT_TRUE(c.CalibrationPending());
  EXPECT_TRUE(Run(5000).empty());
}

TEST_F(ControllerTest, FaultsSwitchOnAndOff) {
  const Bytes version{0x02, 0x4C, 0x02, 0x04, 0x00};
  c.Faults().SetNak(0x04);
  EXPECT_EQ(Send(version)[0], (Bytes{0x02, 0x4C, 0x02, 0x04, 0x00}));
  EXPECT_EQ(Send({0x02, 0x4E, 0x02, 0x04, 0x00})[0][4], 0);  // any group's 0x04
  EXPECT_FALSE(c.StreamCode().has_value());
  c.Faults().SetNak(std::nullopt);
  EXPECT_GT(Send(version)[0].size(), 5u);

  c.Faults().SetSilence(true);
  EXPECT_TRUE(c.HandleHostFrame(version).empty());
  EXPECT_TRUE(c.DeviceText("hello").empty());
  c.Faults().SetSilence(false);
  EXPECT_EQ(Send(version).size(), 1u);

  c.Faults().SetGarbageEvery(2);
  auto out = c.HandleHostFrame(version);
  EXPECT_EQ(out.size(), 1u);
  out = c.HandleHostFrame(version);  // second frame: garbage first
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].raw);
  EXPECT_NE(out[0].bytes[0], 0x02);
  for (uint8_t b : out[0].bytes) EXPECT_TRUE(b != 0x02 && b != 0x0D);
  c.Faults().SetGarbageEvery(0);

  c.Faults().SetTruncateEvery(1);
  auto t = Send({0x02, 0x4C, 0x02, 0x05, 0x01});
  EXPECT_EQ(t[0], (Bytes{0x02, 0x4C}));
  c.Faults().SetTruncateEvery(0);

  c.Faults().SetBadLenEvery(1);
  t = Send({0x02, 0x4C, 0x02, 0x05, 0x01});
  EXPECT_EQ(t[0], (Bytes{0x02, 0x4C, 0x07, 0x05, 0x01}));
  c.Faults().SetBadLenEvery(0);
  EXPECT_EQ(Send({0x02, 0x4C, 0x02, 0x05, 0x01})[0], (Bytes{0x02, 0x4C, 0x02, 0x05, 0x01}));

  auto dt = c.DeviceText("boot ok");
  ASSERT_EQ(dt.size(), 1u);
  EXPECT_EQ(dt[0].bytes.size(), 64u);
  EXPECT_EQ(dt[0].bytes[0], 0xF5);
  EXPECT_EQ(std::string(dt[0].bytes.begin() + 1, dt[0].bytes.begin() + 8), "boot ok");
  EXPECT_EQ(dt[0].bytes[8], 0);
}

TEST_F(ControllerTest, PowerCycleForgetsHostSettings) {
  Send({0x02, 0x4C, 0x02, 0x05, 0x01});
  Send({0x02, 0x4E, 0x02, 0x04, 0x00});
  Send({0x02, 0x4C, 0x01, 0x01});
  c.PowerCycle();
  EXPECT_EQ(c.ReportTarget(), 0);
  EXPECT_FALSE(c.StreamCode().has_value());
  EXPECT_FALSE(c.CalibrationPending());
  EXPECT_TRUE(Run(3000).empty());
}

TEST_F(ControllerTest, ApplicationAnswersBootSelectAsApplication) {
  auto r = Send({0xF1, 0x01, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], (Bytes{0xF3, 0x01, 0, 0, 0, 0, 0, 0}));
  // Asked to restart in the loader: no answer, re-enumerates as the loader.
  EXPECT_TRUE(Send({0xF1, 0x02, 0x01, 0, 0, 0, 0, 0}).empty());
  EXPECT_TRUE(c.TakeReenumerateRequest());
  EXPECT_FALSE(c.TakeReenumerateRequest());
  EXPECT_EQ(c.Config().pid, 0x0104);
  EXPECT_TRUE(c.Config().IsDfu());
}

TEST_F(DfuControllerTest, LoaderAnswersOnlyBootLoaderFrames) {
  auto r = Send({0xF1, 0x01, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].size(), 8u);
  EXPECT_EQ(r[0][0], 0xF3);
  EXPECT_EQ(r[0][1], 0x01);
  EXPECT_EQ(r[0][3], 1);                                // boot select: loader
  EXPECT_EQ(r[0][4], 1);                                // loader state 1
  EXPECT_EQ((r[0][4] | r[0][5] << 8) & 0xFF0F, 0x101);  // MCU id

  EXPECT_TRUE(Send({0x02, 0x4C, 0x02, 0x04, 0x00}).empty());
  EXPECT_TRUE(Send({0x02, 0x4E, 0x02, 0x04, 0x00}).empty());
  EXPECT_EQ(c.GetStats().ignored, 2u);

  auto read = Send({0xF1, 0x06, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].size(), 64u);
  EXPECT_EQ(read[0][0], 0xF4);
  EXPECT_EQ(Send({0xF1, 0x07, 1, 0, 0, 0, 0, 0})[0][2], 1);
}
