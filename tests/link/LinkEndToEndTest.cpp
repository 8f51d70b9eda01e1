// The real transfer controller against tpcsim: over the hidpipe simulator socket (USB) and
// over a pseudo-terminal (serial), with a direct deliverer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/SimProcess.h"
#include "hidpipe/hidpipe.h"
#include "link/CTransCtrl.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kWait{10000};

const char kGetVersion[] = "SEND 024C020400 ";
const char kM0Raw[] = "SEND 024E020400 ";
const char kStopStreams[] = "SEND  024E0180 ";

const Bytes kGetVersionFrame{0x02, 0x4C, 0x02, 0x04, 0x00};
const Bytes kTargetHostFrame{0x02, 0x4C, 0x02, 0x05, 0x01};
const Bytes kPermissionOnFrame{0x02, 0x4C, 0x02, 0x08, 0x00};
const Bytes kFirmwareDetailFrame{0x02, 0x4C, 0x02, 0x06, 0x00};
const Bytes kStopFrame{0x02, 0x4E, 0x01, 0x80};

// Polls pred until it holds or the deadline passes.
template <class Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = kWait) {
  const auto deadline = Clock::now() + limit;
  while (!pred()) {
    if (Clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

using TracedFrame = SimProcess::TracedFrame;

std::vector<Bytes> HostFrames(const std::vector<TracedFrame>& trace, size_t from = 0) {
  std::vector<Bytes> out;
  for (size_t i = from; i < trace.size(); ++i)
    if (trace[i].toDevice) out.push_back(trace[i].bytes);
  return out;
}

// True when want appears in frames in this order (other frames may lie between).
bool InOrder(const std::vector<Bytes>& frames, const std::vector<Bytes>& want) {
  size_t k = 0;
  for (const Bytes& f : frames)
    if (k < want.size() && f == want[k]) ++k;
  return k == want.size();
}

bool StartsWith(const Bytes& b, const Bytes& prefix) {
  return b.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), b.begin());
}

// A frame as a window receives it, with the data record the controller decoded for it.
struct Delivered {
  Bytes bytes;
  DataRecord record;
  std::vector<int32_t> values;
};

class Recorder : public ITransListener {
 public:
  explicit Recorder(CTransCtrl& ctrl) : ctrl_(ctrl) {}
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* bytes = frame.bytes;
    Delivered d;
    d.bytes.assign(bytes, bytes + len);
    d.record = ctrl_.GetDataRecord();
    if (d.record.values != nullptr)
      d.values.assign(d.record.values, d.record.values + d.record.count);
    d.record.values = nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(std::move(d));
    return 0;
  }
  std::vector<Delivered> Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  // Index of the first frame at or after from that starts with prefix, or -1.
  int Find(const Bytes& prefix, size_t from = 0) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = from; i < frames_.size(); ++i)
      if (StartsWith(frames_[i].bytes, prefix)) return static_cast<int>(i);
    return -1;
  }
  size_t DataFrames(size_t from = 0) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (size_t i = from; i < frames_.size(); ++i) n += IsData(frames_[i].bytes);
    return n;
  }
  static bool IsData(const Bytes& b) { return b.size() >= 8 && b[0] == 0x02 && b[1] == 0x4B; }

 private:
  CTransCtrl& ctrl_;
  mutable std::mutex mutex_;
  std::vector<Delivered> frames_;
};

// Device notices as the shell hears them.
class Notices {
 public:
  Notices() { registered_ = hidSetNoticeCallback(&Notices::Callback, this) != 0; }
  ~Notices() { hidSetNoticeCallback(nullptr, nullptr); }
  Notices(const Notices&) = delete;
  Notices& operator=(const Notices&) = delete;
  bool Registered() const { return registered_; }

  static void Callback(int event, const char* /*path*/, void* user) {
    auto* self = static_cast<Notices*>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->events_.push_back(event);
  }
  size_t Count(int event) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count(events_.begin(), events_.end(), event));
  }

 private:
  bool registered_ = false;
  mutable std::mutex mutex_;
  std::vector<int> events_;
};

int Send(CTransCtrl& ctrl, const char* cmd) {
  return ctrl.SendCmd(cmd, static_cast<int>(std::strlen(cmd)), 1, 1);
}

int SendDirect(CTransCtrl& ctrl, const char* cmd) {
  return ctrl.SendCmdDirect(cmd, static_cast<int>(std::strlen(cmd)), 1);
}

class LinkEndToEnd : public ::testing::TestWithParam<int> {
 protected:
  // hidpipe reads HIDPIPE_SIM once per process: one simulator path for every test of
  // every fixture.
  static void SetUpTestSuite() {
    static SimProcess shared;
    sim_ = &shared;
    ::setenv("HIDPIPE_SIM", sim_->Socket().c_str(), 1);
  }
  void SetUp() override {
    CTransCtrl::ClearPending();
    ASSERT_TRUE(sim_->Start({Usb() ? "--usb" : "--serial"}));
    ctrl_.SetDeliverer(&deliverer_);
    ctrl_.SetIdentity(0, 0x227D, 0x0102, 2);
    line_.devicePath = sim_->Link();
  }
  void TearDown() override {
    ctrl_.Close();
    CTransCtrl::ClearPending();
    sim_->Stop();
  }
  static std::string Control(const std::string&, const std::string& line) {
    return sim_->Command(line);
  }

  bool Usb() const { return GetParam() == kLinkUsb; }
  int Open() { return ctrl_.Open(GetParam(), Usb() ? nullptr : &line_); }
  std::vector<TracedFrame> Trace() const { return sim_->Trace(); }
  // The opening exchange is over once the panel information (resolution 64) is decoded.
  bool Opened() {
    return WaitUntil([&] { return !ctrl_.FirmwareVersion().empty(); }) &&
           WaitUntil([&] { return ctrl_.Panel().resolution == 64; });
  }
  std::vector<Bytes> OpeningFrames() const {
    if (Usb())
      return {kGetVersionFrame, kTargetHostFrame, kPermissionOnFrame, kFirmwareDetailFrame};
    return {kGetVersionFrame, kFirmwareDetailFrame};
  }

  static SimProcess* sim_;
  const std::string control_;  // the harness knows the control socket
  CDirectDeliverer deliverer_;
  CTransCtrl ctrl_;
  // What a window would receive; it lives until TearDown has closed the link, so the receive
  // thread never delivers to a listener that is gone.
  Recorder wave_{ctrl_};
  SerialLineSettings line_;
};

TEST_P(LinkEndToEnd, OpensWithItsCommandsAndDecodesVersionAndPanel) {
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(ctrl_.GetLinkType(), GetParam());
  ASSERT_TRUE(Opened());
  EXPECT_EQ(ctrl_.FirmwareVersion(), "TPCSIM 1.0.0");
  const PanelInfo p = ctrl_.Panel();
  EXPECT_EQ(std::tie(p.xCount, p.yCount, p.resolution, p.xRange, p.yRange),
            std::make_tuple(38, 22, 64, 38 * 64, 22 * 64));

  const std::vector<Bytes> want = OpeningFrames();
  ASSERT_TRUE(WaitUntil([&] { return HostFrames(Trace()).size() >= want.size(); }));
  EXPECT_EQ(HostFrames(Trace()), want);  // nothing more, nothing twice
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);
  if (Usb()) {
    EXPECT_EQ(ctrl_.ReportTarget(), 1);
    EXPECT_EQ(ctrl_.ReportPermission(), 0);
  }
  // The replies came in and the line falls quiet.
  EXPECT_TRUE(WaitUntil([&] { return !ctrl_.IsReceiving(); }));
}

TEST_P(LinkEndToEnd, StreamIsDecodedForTheWaveSlotUntilStopped) {
  Recorder& wave = wave_;
  ctrl_.RegisterListener(3, 2, &wave);
  ASSERT_EQ(Open(), 1);
  ASSERT_TRUE(Opened());

  Send(ctrl_, kM0Raw);  // written or queued behind the panel reply
  ASSERT_TRUE(WaitUntil([&] { return wave.DataFrames() >= 12; }));
  EXPECT_TRUE(ctrl_.IsReceiving());

  // Every data frame carries the record decoded from exactly its bytes.
  std::set<std::tuple<int, int, int>> rows;  // direction, start, count
  for (const Delivered& d : wave.Frames()) {
    if (!Recorder::IsData(d.bytes)) continue;
    const Bytes& b = d.bytes;
    ASSERT_EQ(b.size(), size_t(b[2]) + 3);
    EXPECT_EQ(d.record.kind, 2);
    EXPECT_EQ(d.record.group, 0x4B);
    EXPECT_EQ(d.record.code, 0x00);
    EXPECT_EQ(d.record.startX, b[4]);
    EXPECT_EQ(d.record.startY, b[5]);
    EXPECT_EQ(d.record.direction, b[6]);
    ASSERT_EQ(d.record.count, (b[2] - 4) / 2);
    ASSERT_EQ(d.values.size(), d.record.count);
    for (size_t i = 0; i < d.values.size(); ++i) {
      EXPECT_EQ(d.values[i], b[7 + 2 * i] | (b[8 + 2 * i] << 8));
      EXPECT_NEAR(d.values[i], 1000, 100);
    }
    rows.emplace(b[6], b[6] == 1 ? b[4] : b[5], d.record.count);
  }
  // 38 X electrodes and 22 Y electrodes, at most 20 values a frame.
  EXPECT_TRUE(WaitUntil([&] {
    for (const Delivered& d : wave.Frames())
      if (Recorder::IsData(d.bytes))
        rows.emplace(d.bytes[6], d.bytes[6] == 1 ? d.bytes[4] : d.bytes[5], d.record.count);
    return rows.size() >= 4;
  }));
  EXPECT_EQ(rows, (std::set<std::tuple<int, int, int>>{
                      {1, 0, 19}, {1, 19, 19}, {0, 0, 11}, {0, 11, 11}}));

  Send(ctrl_, kStopStreams);
  int ack = -1;
  ASSERT_TRUE(WaitUntil([&] { return (ack = wave.Find({0x02, 0x4E, 0x02, 0x80, 0x01})) >= 0; }));
  EXPECT_TRUE(WaitUntil([&] { return !ctrl_.IsReceiving(); }));
  // A later reply marks a point after the quiet spell: still no data frame since the stop.
  const size_t quiet = wave.Frames().size();
  Send(ctrl_, kGetVersion);
  ASSERT_TRUE(WaitUntil([&] { return wave.Find({0x02, 0x4C, 0x0D, 0x04}, quiet) >= 0; }));
  EXPECT_EQ(wave.DataFrames(size_t(ack) + 1), 0u);

  // The controller sent none after it took the stop either.
  const auto trace = Trace();
  bool stopped = false;
  size_t after = 0;
  for (const TracedFrame& f : trace) {
    if (f.toDevice && f.bytes == kStopFrame) stopped = true;
    if (stopped && !f.toDevice) after += Recorder::IsData(f.bytes);
  }
  EXPECT_TRUE(stopped);
  EXPECT_EQ(after, 0u);
}

SimProcess* LinkEndToEnd::sim_ = nullptr;

INSTANTIATE_TEST_SUITE_P(Links, LinkEndToEnd, ::testing::Values(kLinkUsb, kLinkCom),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == kLinkUsb ? "Usb" : "Serial");
                         });

class UsbReplug : public LinkEndToEnd {};

// The shell's connection probe after a device notice: a failed GetVersion closes the link,
// an arrival opens it again.
bool Probe(CTransCtrl& ctrl) {
  if (ctrl.GetLinkState() == kLinkClosed) ctrl.Open(kLinkUsb, nullptr);
  if (SendDirect(ctrl, kGetVersion) == -1) {
    ctrl.SetLinkState(kLinkClosed);
    ctrl.Close();
    return false;
  }
  return true;
}

TEST_P(UsbReplug, UnplugClosesThroughTheProbeAndReplugReopens) {
  Notices notices;
  ASSERT_TRUE(notices.Registered());
  Recorder& wave = wave_;
  ctrl_.RegisterListener(3, 2, &wave);
  ASSERT_EQ(Open(), 1);
  ASSERT_TRUE(Opened());

  ASSERT_EQ(Control(control_, "unplug"), "ok");
  ASSERT_TRUE(WaitUntil([&] { return notices.Count(HIDPIPE_REMOVAL) >= 1; }));
  EXPECT_FALSE(Probe(ctrl_));
  EXPECT_EQ(ctrl_.GetLinkState(), kLinkClosed);
  EXPECT_EQ(ctrl_.GetLinkType(), kLinkNone);
  // Nothing to open while the device is away; sends are refused, not queued.
  EXPECT_FALSE(Probe(ctrl_));
  EXPECT_EQ(ctrl_.GetLinkState(), kLinkClosed);
  EXPECT_EQ(Send(ctrl_, kM0Raw), -1);
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);

  ASSERT_EQ(Control(control_, "version-text TPCSIM 2.0.0"), "ok");
  const size_t mark = Trace().size();
  ASSERT_EQ(Control(control_, "plug"), "ok");
  ASSERT_TRUE(WaitUntil([&] { return notices.Count(HIDPIPE_ARRIVAL) >= 1; }));
  EXPECT_TRUE(Probe(ctrl_));
  EXPECT_EQ(ctrl_.GetLinkType(), kLinkUsb);
  EXPECT_TRUE(WaitUntil([&] { return ctrl_.FirmwareVersion() == "TPCSIM 2.0.0"; }));

  const std::vector<Bytes> want = OpeningFrames();
  ASSERT_TRUE(WaitUntil([&] { return InOrder(HostFrames(Trace(), mark), want); }));
  EXPECT_EQ(HostFrames(Trace(), mark).front(), kGetVersionFrame);

  // And the receive path is alive again.
  const size_t seen = wave.Frames().size();
  Send(ctrl_, kM0Raw);
  EXPECT_TRUE(WaitUntil([&] { return wave.DataFrames(seen) >= 1; }));
  Send(ctrl_, kStopStreams);
  EXPECT_TRUE(WaitUntil([&] { return wave.Find({0x02, 0x4E, 0x02, 0x80, 0x01}, seen) >= 0; }));
}

INSTANTIATE_TEST_SUITE_P(Links, UsbReplug, ::testing::Values(kLinkUsb),
                         [](const ::testing::TestParamInfo<int>&) { return std::string("Usb"); });

}  // namespace
