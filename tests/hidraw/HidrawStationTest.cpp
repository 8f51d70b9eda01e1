// A station's devices on emulated hidraw nodes: two controllers of one identity, writes that
// fail or stall, a device the kernel loses without a udev event, a pipe on another interface.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "EmulatedController.h"
#include "HidrawTestbed.h"
#include "Layouts.h"
#include "LinkProbes.h"
#include "common/RunProgram.h"

namespace {

// A scratch folder with vantrel's output files.
class Outputs {
 public:
  Outputs() {
    char tmpl[] = "/tmp/vt-station-XXXXXX";
    dir_ = ::mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
  }
  ~Outputs() { std::filesystem::remove_all(dir_); }
  std::string Out() const { return dir_ + "/out"; }
  std::string Err() const { return dir_ + "/err"; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

class Station : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HidrawTestbed::Preloaded()) << "run with umockdev's preload (umockdev-wrapper)";
    CTransCtrl::ClearPending();
    bed_ = std::make_unique<HidrawTestbed>();
  }
  void TearDown() override {
    devices_.clear();
    bed_.reset();
  }

  // A controller behind hidrawN on its own USB port, with its own serial number and
  // firmware text.
  EmulatedController& Add(int number, const std::string& port, const std::string& serial,
                          int usbInterface = 1) {
    HidNodeSpec spec;
    spec.number = number;
    spec.usbPort = port;
    spec.serial = serial;
    spec.usbInterface = usbInterface;
    spec.descriptor = layouts::Unnumbered64().descriptor;
    EXPECT_NE(bed_->AddHid(spec), "");
    devices_.push_back(std::make_unique<EmulatedController>(*bed_, spec, layouts::Unnumbered64()));
    EmulatedController& d = *devices_.back();
    EXPECT_TRUE(d.Attached());
    d.WithFirmware([&](tpcsim::VirtualController& f) { f.SetVersionText("PANEL " + serial); });
    return d;
  }

  int Vantrel(std::vector<std::string> args) {
    args.insert(args.begin(), {VANTREL_PATH, "--usb", "227D:0102", "--timeout", "10"});
    return RunProgram(args, out_.Out(), out_.Err());
  }
  std::string Err() const { return Slurp(out_.Err()); }
  std::string Out() const { return Slurp(out_.Out()); }

  std::unique_ptr<HidrawTestbed> bed_;
  std::vector<std::unique_ptr<EmulatedController>> devices_;
  Outputs out_;
};

// Two fixtures on one station: never the first found in silence; --device names one by
// node, USB port or serial number, and the reports say which was measured.
TEST_F(Station, TwoControllersOfOneIdentityAreChosenNeverGuessed) {
  Add(0, "1-1", "SN-A");
  Add(1, "1-2", "SN-B");

  EXPECT_EQ(Vantrel({"info"}), 2);
  EXPECT_NE(Err().find("2 controllers match USB 227D:0102"), std::string::npos) << Err();
  EXPECT_NE(Err().find("/dev/hidraw0  USB  227D:0102  interface 1  port 1-1  serial SN-A"),
            std::string::npos)
      << Err();
  EXPECT_NE(Err().find("/dev/hidraw1"), std::string::npos) << Err();

  const struct {
    const char* choice;
    const char* node;
    const char* serial;
  } picks[] = {{"/dev/hidraw1", "/dev/hidraw1", "SN-B"},
               {"1-1", "/dev/hidraw0", "SN-A"},
               {"SN-B", "/dev/hidraw1", "SN-B"}};
  for (const auto& p : picks) {
    ASSERT_EQ(Vantrel({"--device", p.choice, "info", "--json"}), 0) << p.choice << Err();
    const auto j = nlohmann::json::parse(Out());
    EXPECT_EQ(j["firmware_version"], std::string("PANEL ") + p.serial) << p.choice;
    EXPECT_EQ(j["device"]["node"], p.node);
    EXPECT_EQ(j["device"]["serial"], p.serial);
    EXPECT_EQ(j["device"]["interface"], 1);
  }
  EXPECT_EQ(Vantrel({"--device", "SN-C", "info"}), 2);
  EXPECT_NE(Err().find("SN-C"), std::string::npos) << Err();

  // list tells them apart; both are configured controllers.
  ASSERT_EQ(Vantrel({"list"}), 0) << Err();
  EXPECT_NE(Out().find("controller  /dev/hidraw0  USB  227D:0102  interface 1  port 1-1  serial "
                       "SN-A"),
            std::string::npos)
      << Out();
  EXPECT_NE(Out().find("port 1-2  serial SN-B"), std::string::npos) << Out();
}

// A single-interface controller: the pipe on interface 0, not the default 1.
TEST_F(Station, APipeOnAnotherInterfaceIsNamedWithTheSetting) {
  Add(0, "1-1", "SN-A", 0);
  EXPECT_EQ(Vantrel({"info"}), 2);
  EXPECT_NE(Err().find("227D:0102 has its pipe on interface 0, not 1: set Interface1=0 or use "
                       "--interface 0"),
            std::string::npos)
      << Err();
  EXPECT_EQ(Vantrel({"list"}), 1);
  EXPECT_NE(Out().find("vendor pipe, not configured  /dev/hidraw0"), std::string::npos) << Out();
  ASSERT_EQ(Vantrel({"--interface", "0", "info", "--json"}), 0) << Err();
  EXPECT_EQ(nlohmann::json::parse(Out())["device"]["interface"], 0);
}

// One EPIPE on the opening query: it goes again and the link opens. Every write failing:
// the run ends naming the command and the reason, and nothing is written again and again.
TEST_F(Station, AFailedWriteIsTriedOnceMoreThenReportedWithItsReason) {
  EmulatedController& d = Add(0, "1-1", "SN-A");
  d.FailWrites(EPIPE, 1);
  ASSERT_EQ(Vantrel({"info"}), 0) << Err();
  EXPECT_NE(Out().find("firmware:   PANEL SN-A"), std::string::npos) << Out();

  d.FailWrites(EPIPE, -1);
  const size_t before = d.WritesStarted();
  EXPECT_EQ(Vantrel({"info"}), 2);
  EXPECT_NE(Err().find("could not send GetVersion: Broken pipe"), std::string::npos) << Err();
  // GetVersion twice, then only the hand-back of the cursor on the way out.
  EXPECT_LE(d.WritesStarted() - before, 3u);
}

// Writes the device takes only after 300 ms (three times the library's wait), as on a busy
// host: late is not stalled, and the controller opens.
TEST_F(Station, AWriteTakenLateIsNoStall) {
  EmulatedController& d = Add(0, "1-1", "SN-A");
  d.SlowWrites(300);
  ASSERT_EQ(Vantrel({"info"}), 0) << Err();
  EXPECT_NE(Out().find("firmware:   PANEL SN-A"), std::string::npos) << Out();
  // Every command of a run, not just the opening: the stream's start and stop and the
  // hand-back went out late, so the scans are measured and nothing is said to be lost.
  // (The emulated node serves one call at a time, so nothing is read while a write is
  // pending: a slow stream keeps its 64 queued reports from overflowing meanwhile.)
  d.WithFirmware([](tpcsim::VirtualController& f) { f.SetStreamRate(50); });
  ASSERT_EQ(Vantrel({"capture", "m0-raw", "--scans", "3"}), 0) << Err();
  EXPECT_EQ(Err().find("could not send"), std::string::npos) << Err();
  EXPECT_EQ(Err().find("takes no commands"), std::string::npos) << Err();
}

// Answers the kernel dropped (its queue full while a busy host did not read): the opening's
// query and the stream's start are asked again, so the run does not fail for an answer
// that will never come.
TEST_F(Station, AnAnswerLostOnTheWayIsAskedForAgain) {
  EmulatedController& d = Add(0, "1-1", "SN-A");
  d.LoseAnswer(0x4C, 0x04);  // the version
  d.LoseAnswer(0x4E, 0x04);  // the acknowledgement of the stream's start
  ASSERT_EQ(Vantrel({"capture", "m0-raw", "--scans", "3"}), 0) << Err();
  const auto asked = [&](uint8_t group, uint8_t sub) {
    const auto frames = d.HostFrames();
    return std::count_if(frames.begin(), frames.end(), [&](const Bytes& f) {
      return f.size() >= 4 && f[1] == group && f[3] == sub;
    });
  };
  // A host slow enough to take over a second for an answer asks once more again.
  EXPECT_GE(asked(0x4C, 0x04), 2) << "the version asked once more";
  EXPECT_GE(asked(0x4E, 0x04), 2) << "the stream started once more";
}

// A controller whose OUT transfers stall: no call waits for the device, the run ends at once
// with the reason, and Ctrl+C ends a capture long before the stalled write gives up. The
// stalls outlast every step here by far, even under a sanitizer on a busy host, and the test
// ends them itself: a step that waited for one would show as a stall ended meanwhile.
TEST_F(Station, StalledWritesHoldNoThreadAndNoExit) {
  constexpr unsigned kStallMs = 60000;
  EmulatedController& d = Add(0, "1-1", "SN-A");
  d.StallWrites(kStallMs);
  {
    CDirectDeliverer deliverer;
    CTransCtrl ctrl;
    ctrl.SetDeliverer(&deliverer);
    ctrl.SetIdentity(0, 0x227D, 0x0102, 2);
    ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
    // The opening write stalls in the device, not on the caller's (user-interface) thread.
    EXPECT_EQ(d.StallsEnded(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return !ctrl.OpeningFailure().empty(); }));
    EXPECT_NE(ctrl.OpeningFailure().find("could not send GetVersion: the device took no report"),
              std::string::npos)
        << ctrl.OpeningFailure();
    EXPECT_TRUE(ctrl.WritesStalled());
    EXPECT_EQ(ctrl.GetLinkState(), kLinkIdle);  // nothing went out, so nothing is awaited
    ctrl.Close();
    EXPECT_EQ(d.StallsEnded(), 0u);
  }
  EXPECT_EQ(RunProgram({VANTREL_PATH, "--usb", "227D:0102", "--timeout", "1", "info"},
                       out_.Out(), out_.Err()),
            2);
  EXPECT_NE(Err().find("could not send GetVersion"), std::string::npos) << Err();
  EXPECT_EQ(d.StallsEnded(), 0u) << "vantrel waited for the stalled write";

  d.StallWrites(0);
  d.EndStalls();
  const pid_t pid = StartProgram({VANTREL_PATH, "--usb", "227D:0102", "capture", "m0-raw",
                                  "--scans", "10000000", "--csv", out_.Path("scans.csv")},
                                 out_.Out(), out_.Err());
  ASSERT_TRUE(WaitUntil([&] {
    const auto frames = d.DeviceFrames();
    return std::count_if(frames.begin(), frames.end(), IsData) > 10;
  }));
  d.StallWrites(kStallMs);
  const size_t ended = d.StallsEnded();
  ::kill(pid, SIGINT);
  EXPECT_EQ(WaitProgram(pid), 130) << Err();
  EXPECT_EQ(d.StallsEnded(), ended) << "Ctrl+C waited for a stalled write";
  EXPECT_NE(Err().find("the controller takes no commands"), std::string::npos) << Err();
  d.EndStalls();
}

// Ctrl+C before the stream's start was answered, as writes begin to stall: the stop on the
// way out cannot be sent, and the user is told the controller may be left streaming.
TEST_F(Station, AStopThatCouldNotBeSentIsSaid) {
  EmulatedController& d = Add(0, "1-1", "SN-A");
  d.LoseAnswer(0x4E, 0x04);  // the start's acknowledgement: vantrel is still waiting for it
  const pid_t pid = StartProgram({VANTREL_PATH, "--usb", "227D:0102", "capture", "m0-raw",
                                  "--scans", "10000000"},
                                 out_.Out(), out_.Err());
  ASSERT_TRUE(WaitUntil([&] {
    const auto frames = d.DeviceFrames();
    return std::count_if(frames.begin(), frames.end(), IsData) > 10;
  }));
  d.StallWrites(2000);
  ::kill(pid, SIGINT);
  EXPECT_EQ(WaitProgram(pid), 130) << Err();
  EXPECT_NE(Err().find("the controller takes no commands"), std::string::npos) << Err();
  EXPECT_NE(Err().find("it may be left streaming"), std::string::npos) << Err();
  ASSERT_TRUE(WaitUntil([&] { return d.StallsEnded() == d.StallsStarted(); }, 30000));
}

// Host that counts what the link reports as lost.
class LostCounter : public ITransHost {
 public:
  void ApplyPanelInfo(const PanelInfo&) override {}
  void ShowPanelInfoFailure() override {}
  void OnLinkLost() override { ++lost; }
  std::atomic<int> lost{0};
};

// Reads fail with EIO and no udev event comes: a removal all the same, in the link, to the
// notice callback, and in vantrel.
TEST_F(Station, AnIoErrorWithoutUdevIsARemoval) {
  EmulatedController& d = Add(0, "1-1", "SN-A");
  {
    Notices notices;
    ASSERT_TRUE(notices.Registered());
    CDirectDeliverer deliverer;
    LostCounter host;
    CTransCtrl ctrl;
    ctrl.SetDeliverer(&deliverer);
    ctrl.SetHost(&host);
    ctrl.SetIdentity(0, 0x227D, 0x0102, 2);
    ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
    ASSERT_TRUE(WaitUntil([&] { return !ctrl.FirmwareVersion().empty(); }));
    d.FailReads(EIO);
    ASSERT_TRUE(WaitUntil([&] { return !notices.Paths(HIDPIPE_REMOVAL).empty(); }));
    EXPECT_EQ(notices.Paths(HIDPIPE_REMOVAL)[0], "/dev/hidraw0#VID_227D&PID_0102&MI_01");
    EXPECT_TRUE(WaitUntil([&] { return host.lost > 0; }));
    EXPECT_EQ(ctrl.GetLinkState(), kLinkClosed);
    ctrl.Close();
    d.FailReads(0);
  }
  const pid_t pid = StartProgram({VANTREL_PATH, "--usb", "227D:0102", "--timeout", "60",
                                  "capture", "m0-raw", "--scans", "10000000", "--csv",
                                  out_.Path("scans.csv")},
                                 out_.Out(), out_.Err());
  ASSERT_TRUE(WaitUntil([&] {
    const auto frames = d.DeviceFrames();
    return std::count_if(frames.begin(), frames.end(), IsData) > 10;
  }));
  d.FailReads(EIO);
  EXPECT_EQ(WaitProgram(pid), 2);
  EXPECT_NE(Err().find("the controller went away"), std::string::npos) << Err();
}

}  // namespace
