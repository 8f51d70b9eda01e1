// The real transfer controller against tpcsim: over the hidpipe simulator socket (USB) and
// over a pseudo-terminal (serial), with a direct deliverer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "hidpipe/hidpipe.h"
#include "link/CTransCtrl.h"

extern char** environ;

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

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vt-le2e-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// hidpipe reads HIDPIPE_SIM once, at its first call: every test serves the same path.
const std::string& SimSocket() {
  static ScratchDir dir;
  static const std::string path = [] {
    std::string p = dir.File("sim.sock");
    ::setenv("HIDPIPE_SIM", p.c_str(), 1);
    return p;
  }();
  return path;
}

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), TPCSIM_PATH);
    args.push_back("--no-stdin");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&pid_, TPCSIM_PATH, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~SimProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  bool Started() const { return pid_ > 0; }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

 private:
  pid_t pid_ = -1;
};

// One line to the simulator's control socket; its one-line answer.
std::string Control(const std::string& path, const std::string& line) {
  int fd = -1;
  WaitUntil([&] {
    fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
    ::close(fd);
    fd = -1;
    return false;
  });
  if (fd < 0) return "no control socket";
  const std::string cmd = line + "\n";
  std::string answer;
  if (::write(fd, cmd.data(), cmd.size()) == static_cast<ssize_t>(cmd.size())) {
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') answer.push_back(c);
  }
  ::close(fd);
  return answer;
}

struct TracedFrame {
  bool toDevice = false;
  Bytes bytes;
};

// tpcsim's trace file, a capture: "#" header lines, then "us H>D|D>H count hex" a frame.
std::vector<TracedFrame> ReadTrace(const std::string& path) {
  std::vector<TracedFrame> frames;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string us, dir, hex;
    size_t count = 0;
    if (!(words >> us >> dir >> count >> hex) || hex.size() != 2 * count) continue;
    TracedFrame f;
    f.toDevice = dir == "H>D";
    for (size_t i = 0; i < hex.size(); i += 2)
      f.bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    frames.push_back(std::move(f));
  }
  return frames;
}

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
  int OnTransCallback(int len, const uint8_t* bytes) override {
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
  void SetUp() override {
    CTransCtrl::ClearPending();
    trace_ = dir_.File("trace.log");
    control_ = dir_.File("ctl");
    std::vector<std::string> args = {"--trace", trace_, "--control", control_};
    if (Usb()) {
      args.insert(args.end(), {"--usb", "--socket", SimSocket()});
    } else {
      args.insert(args.end(), {"--serial", "--link", dir_.File("tty")});
    }
    sim_ = std::make_unique<SimProcess>(args);
    ASSERT_TRUE(sim_->Started());
    ASSERT_EQ(Control(control_, "status").rfind("ok", 0), 0u);
    if (!Usb()) {
      ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir_.File("tty")); }));
    }
    ctrl_.SetDeliverer(&deliverer_);
    ctrl_.SetIdentity(0, 0x227D, 0x0102, 2);
    line_.devicePath = dir_.File("tty");
  }
  void TearDown() override {
    ctrl_.Close();
    CTransCtrl::ClearPending();
  }

  bool Usb() const { return GetParam() == kLinkUsb; }
  int Open() { return ctrl_.Open(GetParam(), Usb() ? nullptr : &line_); }
  std::vector<TracedFrame> Trace() const { return ReadTrace(trace_); }
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

  ScratchDir dir_;
  std::string trace_;
  std::string control_;
  std::unique_ptr<SimProcess> sim_;
  CDirectDeliverer deliverer_;
  CTransCtrl ctrl_;
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
  Recorder wave(ctrl_);
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
  Recorder wave(ctrl_);
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
