#include <gtest/gtest.h>

#include "sim/ControlInterpreter.h"

using namespace tpcsim;

namespace {

class FakeDevice : public SimDevice {
 public:
  explicit FakeDevice(const SimClock& clock) : c(clock, ControllerConfig{}) {}
  VirtualController& Controller() override { return c; }
  void Send(const std::vector<OutFrame>& frames) override {
    sent.insert(sent.end(), frames.begin(), frames.end());
  }
  bool Plug(std::string&) override { return plugged = true; }
  void Unplug() override { plugged = false; }
  bool Plugged() const override { return plugged; }
  std::string Name() const override { return "usb"; }
  uint64_t SentCount() const override { return sent.size(); }
  uint64_t DroppedCount() const override { return 0; }

  VirtualController c;
  std::vector<OutFrame> sent;
  bool plugged = true;
};

class InterpreterTest : public ::testing::Test {
 protected:
  SteppedClock clock;
  FakeDevice dev{clock};
  ControlInterpreter ci{{&dev}};
};

}  // namespace

TEST_F(InterpreterTest, FaultCommandsSwitchOnAndOff) {
  EXPECT_EQ(ci.Execute("nak 0x04"), "ok");
  EXPECT_EQ(dev.c.Faults().Nak(), std::optional<uint8_t>(0x04));
  EXPECT_EQ(ci.Execute("nak A0"), "ok");
  EXPECT_EQ(dev.c.Faults().Nak(), std::optional<uint8_t>(0xA0));
  EXPECT_EQ(ci.Execute("nak off"), "ok");
  EXPECT_FALSE(dev.c.Faults().Nak().has_value());

  EXPECT_EQ(ci.Execute("silence on"), "ok");
  EXPECT_TRUE(dev.c.Faults().Silence());
  EXPECT_EQ(ci.Execute("silence off"), "ok");
  EXPECT_FALSE(dev.c.Faults().Silence());

  EXPECT_EQ(ci.Execute("garbage 5"), "ok");
  EXPECT_EQ(dev.c.Faults().GarbageEvery(), 5);
  EXPECT_EQ(ci.Execute("truncate on"), "ok");
  EXPECT_EQ(dev.c.Faults().TruncateEvery(), 1);
  EXPECT_EQ(ci.Execute("badlen on"), "ok");
  EXPECT_EQ(ci.Execute("badlen off"), "ok");
  EXPECT_EQ(dev.c.Faults().BadLenEvery(), 0);

  EXPECT_EQ(ci.Execute("garbage"), "ok");  // one burst now
  ASSERT_EQ(dev.sent.size(), 1u);
  EXPECT_TRUE(dev.sent[0].raw);
  EXPECT_EQ(ci.Execute("devtext hello world"), "ok");
  ASSERT_EQ(dev.sent.size(), 2u);
  EXPECT_EQ(std::string(dev.sent[1].bytes.begin() + 1, dev.sent[1].bytes.begin() + 12),
            "hello world");
}

TEST_F(InterpreterTest, BadCommandsAreRefusedWithoutSideEffects) {
  for (const char* bad :
       {"nak 1FF", "nak", "silence maybe", "garbage 0", "rate -5", "rate", "touch tap 10 1 1",
        "touch tap 0 1", "touch line 0 1 2 x 4", "calibrate-delay soon", "calibrate-result later",
        "detail 9", "stream 100", "frobnicate", "   "}) {
    std::string r = ci.Execute(bad);
    EXPECT_EQ(r.rfind("error: ", 0), 0u) << bad << " -> " << r;
  }
  EXPECT_FALSE(dev.c.Faults().Nak().has_value());
  EXPECT_EQ(dev.c.Faults().GarbageEvery(), 0);
  EXPECT_EQ(ci.Execute("version-text " + std::string(61, 'v')).rfind("error: ", 0), 0u);
}

TEST_F(InterpreterTest, PlugStreamsTouchesAndStatus) {
  EXPECT_EQ(ci.Execute("unplug"), "ok");
  EXPECT_FALSE(dev.plugged);
  EXPECT_NE(ci.Execute("status").find("plugged=0"), std::string::npos);
  EXPECT_EQ(ci.Execute("replug"), "ok");
  EXPECT_TRUE(dev.plugged);

  EXPECT_EQ(ci.Execute("stream 1c"), "ok");
  EXPECT_EQ(dev.c.StreamCode(), std::optional<uint8_t>(0x1C));
  EXPECT_NE(ci.Execute("status").find("stream=1C"), std::string::npos);
  EXPECT_EQ(ci.Execute("stream off"), "ok");
  EXPECT_FALSE(dev.c.StreamCode().has_value());

  EXPECT_EQ(ci.Execute("rate max"), "ok");
  EXPECT_TRUE(dev.c.Config().streamRateMax);
  EXPECT_EQ(ci.Execute("rate 8000"), "ok");
  EXPECT_FALSE(dev.c.Config().streamRateMax);
  EXPECT_EQ(dev.c.Config().streamRateHz, 8000);

  EXPECT_EQ(ci.Execute("calibrate-delay 250"), "ok");
  EXPECT_EQ(dev.c.Config().calibrateDelayMs, 250);
  EXPECT_EQ(ci.Execute("calibrate-result never"), "ok");
  EXPECT_EQ(dev.c.Config().calibrateResult, CalibrateResult::Never);
  EXPECT_EQ(ci.Execute("version-text FW 2.0 beta"), "ok");
  EXPECT_EQ(dev.c.Config().versionText, "FW 2.0 beta");

  EXPECT_EQ(ci.Execute("touch circle 3 600 600 100 200 2"), "ok");
  EXPECT_NE(dev.c.NextWakeUs(), VirtualController::kNever);
  EXPECT_EQ(ci.Execute("touch up all"), "ok");

  EXPECT_NE(ci.Execute("stats").find("usb: host=0"), std::string::npos);
  EXPECT_FALSE(ci.QuitRequested());
  EXPECT_EQ(ci.Execute("quit"), "ok");
  EXPECT_TRUE(ci.QuitRequested());
}

TEST_F(InterpreterTest, ElectrodeFaultsReplaceEachOtherAndClear) {
  EXPECT_EQ(ci.Execute("electrode x 5 noisy 40"), "ok");
  EXPECT_EQ(ci.Execute("electrode x 5 open"), "ok");  // replaces the noise
  EXPECT_EQ(ci.Execute("electrode y 5 noisy 9"), "ok");
  ASSERT_EQ(dev.c.ElectrodeFaults().size(), 2u);
  EXPECT_TRUE(dev.c.ElectrodeFaults()[0].open);
  EXPECT_EQ(dev.c.ElectrodeFaults()[1].amplitude, 9);
  EXPECT_EQ(ci.Execute("electrode y 5 ok"), "ok");
  EXPECT_EQ(dev.c.ElectrodeFaults().size(), 1u);
  EXPECT_EQ(ci.Execute("electrode off"), "ok");
  EXPECT_TRUE(dev.c.ElectrodeFaults().empty());
  EXPECT_EQ(ci.Execute("electrode x 37 short"), "ok");
  ASSERT_EQ(dev.c.ElectrodeFaults().size(), 1u);
  EXPECT_TRUE(dev.c.ElectrodeFaults()[0].shorted);
  for (const char* bad : {"electrode z 1 open", "electrode x 1 noisy 0", "electrode x -1 open",
                          "electrode x 1 noisy", "electrode x 1 loud", "electrode x 38 open",
                          "electrode y 22 short"}) {
    EXPECT_EQ(ci.Execute(bad).rfind("error:", 0), 0u) << bad;
  }
}
