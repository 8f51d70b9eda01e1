// VantrelTool's link and the vantrel program over hidpipe's hidraw backend, against a
// controller behind an emulated hidraw node, for each report layout real devices use.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "EmulatedController.h"
#include "LinkProbes.h"
#include "HidrawTestbed.h"
#include "Layouts.h"
#include "common/RunProgram.h"
#include "hidpipe/hidpipe.h"
#include "link/CSerialDeviceWatch.h"
#include "link/CTransCtrl.h"

namespace {

const char kGetVersion[] = "SEND 024C020400 ";
const char kM0Raw[] = "SEND 024E020400 ";
const char kStopStreams[] = "SEND  024E0180 ";
const std::vector<Bytes> kOpening{{0x02, 0x4C, 0x02, 0x04, 0x00},
                                  {0x02, 0x4C, 0x02, 0x05, 0x01},
                                  {0x02, 0x4C, 0x02, 0x08, 0x00},
                                  {0x02, 0x4C, 0x02, 0x06, 0x00}};

struct Case {
  Layout layout;
  bool secondInterface = false;  // a digitizer on USB interface 0, the pipe on interface 1
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.layout.name;
}

class HidrawEndToEnd : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HidrawTestbed::Preloaded()) << "run with umockdev's preload (umockdev-wrapper)";
    CTransCtrl::ClearPending();
    bed_ = std::make_unique<HidrawTestbed>();
    const Case& c = GetParam();
    HidNodeSpec spec;
    spec.bus = c.layout.bus;
    spec.descriptor = c.layout.descriptor;
    if (c.secondInterface) {
      HidNodeSpec digitizer = spec;
      digitizer.usbInterface = 0;
      digitizer.descriptor = layouts::DigitizerOnly();
      ASSERT_NE(bed_->AddHid(digitizer), "");
      spec.number = 1;
    }
    syspath_ = bed_->AddHid(spec);
    ASSERT_NE(syspath_, "");
    device_ = std::make_unique<EmulatedController>(*bed_, spec, c.layout);
    ASSERT_TRUE(device_->Attached());
    ctrl_.SetDeliverer(&deliverer_);
    ctrl_.SetIdentity(0, spec.vid, spec.pid, 2);
  }
  void TearDown() override {
    ctrl_.Close();
    CTransCtrl::ClearPending();
    if (device_) {
      EXPECT_EQ(device_->Malformed(), std::vector<std::string>{});
    }
    device_.reset();
    bed_.reset();
  }

  bool Opened() {
    return WaitUntil([&] { return !ctrl_.FirmwareVersion().empty(); }) &&
           WaitUntil([&] { return ctrl_.Panel().resolution == 64; });
  }
  int Send(const char* cmd) { return ctrl_.SendCmd(cmd, static_cast<int>(std::strlen(cmd)), 1, 1); }
  // The shell's probe after a device notice: a failed GetVersion closes the link.
  bool Probe() {
    if (ctrl_.GetLinkState() == kLinkClosed) ctrl_.Open(kLinkUsb, nullptr);
    if (ctrl_.SendCmdDirect(kGetVersion, static_cast<int>(std::strlen(kGetVersion)), 1) == -1) {
      ctrl_.SetLinkState(kLinkClosed);
      ctrl_.Close();
      return false;
    }
    return true;
  }
  // Touch reports of a digitizer sharing the node were sent and none reached the link.
  void ExpectNoTouchReportDelivered(const Receiver& r) {
    if (GetParam().layout.touchId == 0) return;
    // A loaded machine may get through the stream before the first touch report: wait for
    // one, then for an answer that left the device after it.
    ASSERT_TRUE(WaitUntil([&] { return device_->TouchReportsSent() > 0; }));
    const size_t seen = r.Frames().size();
    Send(kStopStreams);
    ASSERT_TRUE(WaitUntil([&] { return r.Has({0x02, 0x4E, 0x02, 0x80}, seen); }));
    for (const Bytes& f : r.Frames())
      EXPECT_FALSE(Contains(f, {'T', 'O', 'U', 'C', 'H'})) << "a digitizer report was delivered";
  }

  std::unique_ptr<HidrawTestbed> bed_;
  std::unique_ptr<EmulatedController> device_;
  std::string syspath_;
  CDirectDeliverer deliverer_;
  // Frames a window would receive; it outlives the link, whose receive thread delivers to it
  // until the link is closed in TearDown.
  Receiver wave_;
  CTransCtrl ctrl_;
};

TEST_P(HidrawEndToEnd, LinkOpensStreamsAndStopsOverTheNode) {
  Receiver& wave = wave_;
  ctrl_.RegisterListener(3, 2, &wave);
  ASSERT_EQ(ctrl_.Open(kLinkUsb, nullptr), 1) << hidLastError();
  ASSERT_TRUE(Opened());
  EXPECT_EQ(ctrl_.FirmwareVersion(), "TPCSIM 1.0.0");
  EXPECT_EQ(ctrl_.Panel().xCount, 38);
  EXPECT_EQ(ctrl_.Panel().yCount, 22);
  ASSERT_TRUE(WaitUntil([&] { return device_->HostFrames().size() >= kOpening.size(); }));
  EXPECT_EQ(device_->HostFrames(), kOpening);

  Send(kM0Raw);
  ASSERT_TRUE(WaitUntil([&] { return wave.DataFrames() >= 12; }));
  // Every data frame arrived as the device sent it, in order, nothing lost or added.
  std::vector<Bytes> sent, got;
  for (const Bytes& f : wave.Frames())  // first: the device has sent at least these since
    if (IsData(f)) got.push_back(f);
  for (const Bytes& f : device_->DeviceFrames())
    if (IsData(f)) sent.push_back(f);
  ASSERT_LE(got.size(), sent.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin()));

  Send(kStopStreams);
  ASSERT_TRUE(WaitUntil([&] { return wave.Has({0x02, 0x4E, 0x02, 0x80, 0x01}); }));
  ExpectNoTouchReportDelivered(wave);
}

// Reports the device cut short arrive as short reads; the link drops them and counts them,
// and every data frame it delivers is one the device sent whole.
TEST_P(HidrawEndToEnd, ReportsCutShortAreNeverDeliveredAsData) {
  Receiver& wave = wave_;
  ctrl_.RegisterListener(3, 2, &wave);
  ASSERT_EQ(ctrl_.Open(kLinkUsb, nullptr), 1) << hidLastError();
  ASSERT_TRUE(Opened());
  device_->WithFirmware([](tpcsim::VirtualController& f) { f.Faults().SetTruncateEvery(3); });
  Send(kM0Raw);
  ASSERT_TRUE(WaitUntil([&] { return wave.DataFrames() >= 12; }));
  Send(kStopStreams);
  device_->WithFirmware([](tpcsim::VirtualController& f) { f.Faults().SetTruncateEvery(0); });

  const auto sent = device_->DeviceFrames();
  const auto cut = std::count_if(sent.begin(), sent.end(), [](const Bytes& f) {
    return IsData(f) && f.size() < size_t(f[2]) + 3;
  });
  EXPECT_GT(cut, 0);
  for (const Bytes& f : wave.Frames()) {
    if (IsData(f)) {
      EXPECT_NE(std::find(sent.begin(), sent.end(), f), sent.end()) << "a cut frame was delivered";
    }
  }
  EXPECT_GT(ctrl_.TruncatedFrames(), 0u);
}

TEST_P(HidrawEndToEnd, VantrelInfoAndCaptureOverTheNode) {
  char tmpl[] = "/tmp/vt-hidraw-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl, out = dir + "/out", err = dir + "/err", csv = dir + "/scans.csv";
  // The environment carries the preload and the testbed's folder to the program.
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {VANTREL_PATH, "--usb", "227D:0102", "--timeout", "10"});
    return RunProgram(args, out, err);
  };

  ASSERT_EQ(run({"info", "--json"}), 0) << Slurp(err);
  const auto j = nlohmann::json::parse(Slurp(out));
  EXPECT_EQ(j["firmware_version"], "TPCSIM 1.0.0");
  EXPECT_EQ(j["panel"]["x_count"], 38);

  const size_t before = device_->DeviceFrames().size();
  ASSERT_EQ(run({"capture", "m0-raw", "--scans", "3", "--csv", csv}), 0) << Slurp(err);
  // The scans written are the device's first scans after the start, four reports each.
  std::vector<std::string> rows;
  std::vector<int> scan(60);
  int reports = 0;
  const auto frames = device_->DeviceFrames();
  for (size_t i = before; i < frames.size() && rows.size() < 3; ++i) {
    const Bytes& f = frames[i];
    if (!IsData(f) || f[3] != 0x00) continue;
    const int start = f[6] == 1 ? f[4] : 38 + f[5];
    for (size_t k = 7; k + 1 < f.size(); k += 2) scan[start + (k - 7) / 2] = f[k] | f[k + 1] << 8;
    if (++reports % 4 != 0) continue;
    std::string row = std::to_string(rows.size() + 1);
    for (int v : scan) row += "," + std::to_string(v);
    rows.push_back(row + "\r");
  }
  std::istringstream lines(Slurp(csv));
  std::string line;
  std::getline(lines, line);  // header
  for (const std::string& row : rows) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, row);
  }
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_FALSE(std::getline(lines, line));
  std::filesystem::remove_all(dir);
}

std::vector<Case> Cases() {
  return {{layouts::Unnumbered64(), false},
          {[] {
             Layout l = layouts::Unnumbered64();
             l.name = "VendorOnSecondInterface";
             return l;
           }(),
           true},
          {layouts::DigitizerAndVendor(), false},
          {layouts::DigitizerAndVendorPipe63(), false},
          {layouts::IdIsFrameType(), false},
          {layouts::I2cDigitizerAndVendorPipe63(), false}};
}

INSTANTIATE_TEST_SUITE_P(Layouts, HidrawEndToEnd, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.layout.name;
                         });

class HidrawReplug : public HidrawEndToEnd {};

// Pulled out: udev's removal closes the link through the probe; plugged back: the arrival
// opens it again and the firmware that restarted answers.
TEST_P(HidrawReplug, UnplugAndReplugReconnect) {
  Notices notices;
  ASSERT_TRUE(notices.Registered());
  Receiver& wave = wave_;
  ctrl_.RegisterListener(3, 2, &wave);
  ASSERT_EQ(ctrl_.Open(kLinkUsb, nullptr), 1) << hidLastError();
  ASSERT_TRUE(Opened());

  device_->SetPresent(false);
  bed_->Uevent(syspath_, "remove");
  ASSERT_TRUE(WaitUntil([&] { return !notices.Paths(HIDPIPE_REMOVAL).empty(); }));
  EXPECT_EQ(notices.Paths(HIDPIPE_REMOVAL)[0], "/dev/hidraw0#VID_227D&PID_0102&MI_01");
  EXPECT_FALSE(Probe());
  EXPECT_EQ(ctrl_.GetLinkState(), kLinkClosed);
  EXPECT_FALSE(Probe());  // nothing to open while it is away
  EXPECT_EQ(Send(kM0Raw), -1);

  device_->WithFirmware([](tpcsim::VirtualController& f) { f.SetVersionText("TPCSIM 2.0.0"); });
  const size_t mark = device_->HostFrames().size();
  device_->SetPresent(true);
  bed_->Uevent(syspath_, "add");
  ASSERT_TRUE(WaitUntil([&] { return !notices.Paths(HIDPIPE_ARRIVAL).empty(); }));
  EXPECT_EQ(notices.Paths(HIDPIPE_ARRIVAL)[0], "/dev/hidraw0#VID_227D&PID_0102&MI_01");
  EXPECT_TRUE(Probe());
  EXPECT_TRUE(WaitUntil([&] { return ctrl_.FirmwareVersion() == "TPCSIM 2.0.0"; }));
  ASSERT_GT(device_->HostFrames().size(), mark);
  EXPECT_EQ(device_->HostFrames()[mark], kOpening[0]);

  const size_t seen = wave.Frames().size();
  Send(kM0Raw);
  EXPECT_TRUE(WaitUntil([&] { return wave.DataFrames(seen) >= 1; }));
  Send(kStopStreams);
  EXPECT_TRUE(WaitUntil([&] { return wave.Has({0x02, 0x4E, 0x02, 0x80, 0x01}, seen); }));
}

INSTANTIATE_TEST_SUITE_P(Layouts, HidrawReplug,
                         ::testing::Values(Case{layouts::Unnumbered64(), false}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.layout.name;
                         });

// Boot loader frames travel in the ids of their types: F1 out in 8 bytes and its F3 answer,
// F2 out in 64 and its F4 answer, through the C API as the firmware updater uses it.
TEST(HidrawIdIsFrameType, BootLoaderFramesTravelInTheirOwnIds) {
  ASSERT_TRUE(HidrawTestbed::Preloaded()) << "run with umockdev's preload (umockdev-wrapper)";
  HidrawTestbed bed;
  HidNodeSpec spec;
  spec.pid = 0x0104;  // the boot loader's product
  spec.descriptor = layouts::IdIsFrameType().descriptor;
  ASSERT_NE(bed.AddHid(spec), "");
  EmulatedController device(bed, spec, layouts::IdIsFrameType());
  ASSERT_TRUE(device.Attached());
  ASSERT_EQ(hidOpen(nullptr), 1);
  ASSERT_EQ(hidOpenMyDevice(0x227D, 0x0104, 1), 1) << hidLastError();
  hidEnableRecv(1);
  uint8_t report[HIDPIPE_REPORT_SIZE] = {};

  const uint8_t getBootSelect[8] = {0xF1, 0x01};
  ASSERT_EQ(hidSend(getBootSelect), 1);
  ASSERT_EQ(hidRecv(report, 5000), 1);
  EXPECT_EQ(Bytes(report, report + 4), (Bytes{0xF3, 0x01, 0x00, 0x01}));

  uint8_t readBlock[64] = {0xF2, 0x06};
  ASSERT_EQ(hidSend(readBlock), 1);
  ASSERT_EQ(hidRecv(report, 5000), 1);
  EXPECT_EQ(Bytes(report, report + 2), (Bytes{0xF4, 0x06}));
  EXPECT_EQ(report[63], 0xFF);

  EXPECT_EQ(device.HostFrames(), (std::vector<Bytes>{Bytes(getBootSelect, getBootSelect + 8),
                                                     Bytes(readBlock, readBlock + 64)}));
  EXPECT_EQ(device.Malformed(), std::vector<std::string>{});
  hidCloseMyDevice();
}

// Serial adapters coming and going are heard from udev; other subsystems are not.
TEST(SerialDeviceWatch, HearsTtyAddAndRemoveOnly) {
  ASSERT_TRUE(HidrawTestbed::Preloaded()) << "run with umockdev's preload (umockdev-wrapper)";
  HidrawTestbed bed;
  HidNodeSpec hid;
  hid.descriptor = layouts::Unnumbered64().descriptor;
  const std::string hidraw = bed.AddHid(hid);
  const std::string tty = bed.AddTty(0);
  ASSERT_NE(tty, "");
  std::atomic<int> changes{0};
  CSerialDeviceWatch watch([&] { ++changes; });
  ASSERT_TRUE(watch.Start());

  bed.Uevent(tty, "add");
  ASSERT_TRUE(WaitUntil([&] { return changes == 1; }));
  bed.Uevent(hidraw, "add");  // not a tty
  bed.Uevent(tty, "change");  // neither added nor removed
  bed.Uevent(tty, "remove");
  ASSERT_TRUE(WaitUntil([&] { return changes >= 2; }));
  EXPECT_EQ(changes, 2);  // the events before the removal were passed over

  watch.Stop();
  bed.Uevent(tty, "add");
  bed.Uevent(tty, "remove");
  watch.Start();
  bed.Uevent(tty, "add");
  ASSERT_TRUE(WaitUntil([&] { return changes >= 3; }));
  EXPECT_EQ(changes, 3);  // nothing was heard while stopped
}

}  // namespace
