// The tpcsim program as a subprocess: on a pseudo-terminal link and on the
// hidpipe simulator socket, driven by small raw clients.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "common/SimProcess.h"
#include "sim/SerialFrameDecoder.h"
#include "sim/SimHex.h"

using namespace tpcsim;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

// Polls a condition until it holds or the deadline passes.
bool WaitFor(const std::function<bool()>& cond) {
  auto end = Clock::now() + kDeadline;
  while (Clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return cond();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Reads with poll() until `done` says the collected bytes suffice.
bool ReadUntil(int fd, std::string& buf, const std::function<bool(const std::string&)>& done) {
  auto end = Clock::now() + kDeadline;
  while (!done(buf)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char tmp[4096];
    ssize_t n = read(fd, tmp, sizeof tmp);
    if (n <= 0) return false;
    buf.append(tmp, static_cast<size_t>(n));
  }
  return true;
}

// --------------------------------------------------------------------- serial

class SerialClient {
 public:
  explicit SerialClient(const std::string& link) {
    fd_ = open(link.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ >= 0) {
      termios t{};
      tcgetattr(fd_, &t);
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~SerialClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void Write(const std::string& s) { ASSERT_EQ(write(fd_, s.data(), s.size()), ssize_t(s.size())); }
  // Next decoded frame that satisfies `want`.
  std::optional<Bytes> Next(const std::function<bool(const Bytes&)>& want) {
    std::optional<Bytes> found;
    auto take = [&](const std::string&) {
      while (!found && !pending_.empty()) {
        if (want(pending_.front())) found = pending_.front();
        pending_.erase(pending_.begin());
      }
      return found.has_value();
    };
    std::string raw;
    auto done = [&](const std::string& b) {
      if (b.size() > used_) {
        decoder_.Feed(std::string_view(b).substr(used_),
                      [&](const Bytes& f) { pending_.push_back(f); });
        used_ = b.size();
      }
      return take(b);
    };
    used_ = 0;
    ReadUntil(fd_, raw, done);
    return found;
  }

 private:
  int fd_ = -1;
  SerialFrameDecoder decoder_;
  std::vector<Bytes> pending_;
  size_t used_ = 0;
};

// A port nobody reads fills up and the simulator drops what it cannot queue: the trace
// shows only what went on the line, so that a test comparing it with what a program
// received never expects a frame the device never sent.
TEST(SimSerialEndToEnd, TheTraceHoldsOnlyWhatWentOnTheLine) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--serial"}));
  ASSERT_TRUE(WaitFor([&] { return Exists(sim.Link()); }));
  SerialClient port(sim.Link());
  ASSERT_TRUE(port.ok());
  ASSERT_TRUE(sim.Ok("rate 8000"));
  port.Write(
      "\x02"
      "024E020600\r");
  auto count = [&](const char* key) {
    const std::string st = sim.Command("stats");
    const size_t at = st.find(key);
    return at == std::string::npos ? -1L : std::atol(st.c_str() + at + std::strlen(key));
  };
  ASSERT_TRUE(WaitFor([&] { return count(" dropped=") > 100; })) << sim.Command("stats");
  ASSERT_TRUE(sim.Ok("stream off"));
  const long sent = count(" sent=");
  ASSERT_TRUE(WaitFor([&] { return long(sim.TraceFrames("D>H").size()) >= sent; }));
  EXPECT_EQ(long(sim.TraceFrames("D>H").size()), sent) << sim.Command("stats");
}

TEST(SimSerialEndToEnd, VersionReplyStreamAndTrace) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--serial"}));
  const std::string link = sim.Link(), trace = sim.TracePath(), control = sim.ControlPath();
  ASSERT_TRUE(WaitFor([&] { return Exists(link) && Exists(control); }));
  SerialClient port(link);
  ASSERT_TRUE(port.ok());

  port.Write(
      "\x02"
      "024C020400\r");
  auto v = port.Next([](const Bytes& f) { return f.size() >= 4 && f[1] == 0x4C && f[3] == 0x04; });
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(std::string(v->begin() + 4, v->end()), "TPCSIM 1.0.0");
  EXPECT_EQ((*v)[2], v->size() - 3);

  // The trace is a capture holding both frames, one line each: microseconds, direction,
  // byte count, upper-case hex.
  ASSERT_TRUE(WaitFor([&] {
    std::string t = ReadFile(trace);
    return t.rfind("# vantrel-capture 1\n", 0) == 0 &&
           t.find("# link: serial pty path=" + link + "\n") != std::string::npos &&
           t.find(" H>D 5 024C020400\n") != std::string::npos &&
           t.find(" D>H 16 024C0D0454504353") != std::string::npos;
  }));

  // A data stream starts and stops (lower-case hex is accepted).
  port.Write(
      "\x02"
      "024e020600\r");
  auto data = port.Next([](const Bytes& f) { return f.size() > 7 && f[1] == 0x4B; });
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ((*data)[3], 0x02);
  port.Write(
      "\x02"
      "024E0180\r");
  auto stop =
      port.Next([](const Bytes& f) { return f.size() >= 5 && f[1] == 0x4E && f[3] == 0x80; });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ((*stop)[4], 1);

  // Serial reports coordinates from power-up as single-touch frames.
  int c = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, control.c_str(), sizeof a.sun_path - 1);
  ASSERT_EQ(connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  std::string cmd = "touch tap 1 1216 704 30\n", answer;
  ASSERT_EQ(write(c, cmd.data(), cmd.size()), ssize_t(cmd.size()));
  ASSERT_TRUE(ReadUntil(c, answer, [](const std::string& b) { return b.find('\n') != b.npos; }));
  EXPECT_EQ(answer, "ok\n");
  close(c);
  auto touch = port.Next([](const Bytes& f) { return f.size() == 8 && f[0] == 0x01; });
  ASSERT_TRUE(touch.has_value());
  EXPECT_EQ((*touch)[1], 0x05);  // touching, pen bit
  EXPECT_EQ((*touch)[2] | (*touch)[3] << 8, 512);
  EXPECT_EQ((*touch)[4] | (*touch)[5] << 8, 512);

  EXPECT_TRUE(sim.Stop());
  EXPECT_FALSE(Exists(link));
  EXPECT_FALSE(Exists(control));
}

// --------------------------------------------------------------------- socket

class SocketClient {
 public:
  explicit SocketClient(const std::string& path) {
    WaitFor([&] {
      fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
      if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
      close(fd_);
      fd_ = -1;
      return false;
    });
  }
  ~SocketClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Message(uint8_t type, const std::string& payload) {
    std::string m{static_cast<char>(type), static_cast<char>(payload.size() & 0xFF),
                  static_cast<char>(payload.size() >> 8)};
    m += payload;
    ASSERT_EQ(write(fd_, m.data(), m.size()), ssize_t(m.size()));
  }
  void Output(const Bytes& frame) {
    std::string r(64, '\0');
    std::memcpy(r.data(), frame.data(), frame.size());
    Message(0x04, r);
  }
  void Open(uint16_t vid, uint16_t pid, uint8_t iface) {
    Message(0x02, std::string{char(vid & 0xFF), char(vid >> 8), char(pid & 0xFF), char(pid >> 8),
                              char(iface)});
  }
  // Next message of `type` whose payload satisfies `want`; others are skipped.
  std::optional<std::string> Next(uint8_t type,
                                  const std::function<bool(const std::string&)>& want = {}) {
    std::optional<std::string> found;
    ReadUntil(fd_, buf_, [&](const std::string& b) {
      while (!found && b.size() >= 3) {
        size_t len = uint8_t(b[1]) | uint8_t(b[2]) << 8;
        if (b.size() < 3 + len) return false;
        std::string payload = b.substr(3, len);
        bool match = uint8_t(b[0]) == type && (!want || want(payload));
        buf_.erase(0, 3 + len);
        if (match) found = payload;
      }
      return found.has_value();
    });
    return found;
  }

 private:
  int fd_ = -1;
  std::string buf_;
};

std::string Control(const std::string& path, const std::string& line) {
  SocketClient c(path);
  std::string cmd = line + "\n", answer;
  EXPECT_EQ(write(c.fd(), cmd.data(), cmd.size()), ssize_t(cmd.size()));
  ReadUntil(c.fd(), answer, [](const std::string& b) { return b.find('\n') != b.npos; });
  return answer;
}

bool IsReply(const std::string& p, uint8_t group, uint8_t sub) {
  return p.size() == 64 && p[0] == 0x02 && uint8_t(p[1]) == group && uint8_t(p[3]) == sub;
}

TEST(SimSocketEndToEnd, NoticesOpenCommandsTouchesAndUnplug) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  const std::string sock = sim.Socket(), control = sim.ControlPath();
  SocketClient cl(sock);
  ASSERT_TRUE(cl.ok());

  cl.Message(0x01, "");
  auto notice = cl.Next(0x81);
  ASSERT_TRUE(notice.has_value());
  EXPECT_EQ(*notice,
            "\x02"  // present
            "sim:" +
                sock + "#VID_227D&PID_0102&MI_01");

  cl.Open(0x227D, 0x0103, 1);
  EXPECT_EQ(cl.Next(0x83), std::optional<std::string>(std::string(1, '\0')));
  cl.Open(0x227D, 0x0102, 1);
  EXPECT_EQ(cl.Next(0x83), std::optional<std::string>(std::string(1, '\1')));

  cl.Output({0x02, 0x4C, 0x02, 0x04, 0x00});
  auto v = cl.Next(0x85, [](const std::string& p) { return IsReply(p, 0x4C, 0x04); });
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->substr(4, 12), "TPCSIM 1.0.0");
  EXPECT_EQ(v->at(16), '\0');  // zero-filled report

  // Stream started and stopped.
  cl.Output({0x02, 0x4E, 0x02, 0x0C, 0x00});
  ASSERT_TRUE(cl.Next(0x85, [](const std::string& p) { return IsReply(p, 0x4E, 0x0C); }));
  ASSERT_TRUE(cl.Next(0x85, [](const std::string& p) { return IsReply(p, 0x4B, 0x08); }));
  cl.Output({0x02, 0x4E, 0x01, 0x80});
  auto stop = cl.Next(0x85, [](const std::string& p) { return IsReply(p, 0x4E, 0x80); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->at(4), 1);

  // Touches arrive once target and permission allow them.
  cl.Output({0x02, 0x4C, 0x02, 0x05, 0x01});
  ASSERT_TRUE(cl.Next(0x85, [](const std::string& p) { return IsReply(p, 0x4C, 0x05); }));
  EXPECT_EQ(Control(control, "touch tap 0 100 200 50"), "ok\n");
  auto t = cl.Next(0x85, [](const std::string& p) { return p[0] == 0x02 && p[1] == 0x4D; });
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->substr(0, 10),
            (std::string{0x02, 0x4D, 0x07, 0x01, 0x07, 0x00, 100, 0, char(200), 0}));

  // Negative acknowledgement switched on and off while running.
  EXPECT_EQ(Control(control, "nak 04"), "ok\n");
  cl.Output({0x02, 0x4C, 0x02, 0x04, 0x00});
  auto nak = cl.Next(0x85, [](const std::string& p) { return IsReply(p, 0x4C, 0x04); });
  ASSERT_TRUE(nak.has_value());
  EXPECT_EQ(nak->substr(0, 5), (std::string{0x02, 0x4C, 0x02, 0x04, 0x00}));
  EXPECT_EQ(Control(control, "nak off"), "ok\n");

  // Unplug: removal notice, output no longer taken; plug: arrival again.
  EXPECT_EQ(Control(control, "unplug"), "ok\n");
  auto removal = cl.Next(0x81);
  ASSERT_TRUE(removal.has_value());
  EXPECT_EQ(removal->at(0), '\0');
  EXPECT_NE(removal->find("#VID_227D&PID_0102&MI_01"), std::string::npos);
  cl.Open(0x227D, 0x0102, 1);
  EXPECT_EQ(cl.Next(0x83), std::optional<std::string>(std::string(1, '\0')));
  EXPECT_NE(Control(control, "status").find("plugged=0"), std::string::npos);
  EXPECT_EQ(Control(control, "plug"), "ok\n");
  auto arrival = cl.Next(0x81);
  ASSERT_TRUE(arrival.has_value());
  EXPECT_EQ(arrival->at(0), '\1');

  EXPECT_TRUE(sim.Stop());
  EXPECT_FALSE(Exists(sock));
}

TEST(SimSocketEndToEnd, OversizedMessageClosesOnlyThatClient) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  const std::string sock = sim.Socket();
  SocketClient bad(sock);
  ASSERT_TRUE(bad.ok());
  std::string hdr{0x04, char(0x01), char(0x08)};  // payload length 2049
  ASSERT_EQ(write(bad.fd(), hdr.data(), hdr.size()), 3);
  std::string rest;
  EXPECT_FALSE(ReadUntil(bad.fd(), rest, [](const std::string&) { return false; }));

  SocketClient good(sock);
  good.Message(0x7F, "unknown type is skipped");
  good.Message(0x01, "");
  EXPECT_TRUE(good.Next(0x81).has_value());
}

TEST(SimProgram, RejectsBadOptions) {
  for (auto args : std::vector<std::vector<std::string>>{
           {"--pid", "0x1FFFF"}, {"--serial"}, {"--frobnicate"}, {"--rate", "fast"}}) {
    const int status = SimProcess::Run(args);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2) << args[0];
  }
}

// A capture with a header and no frame has nothing to serve: refused at the start.
TEST(SimProgram, RefusesToReplayACaptureWithoutFrames) {
  char tmpl[] = "/tmp/vt-replay-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  const std::string capture = dir + "/header.capture";
  std::ofstream(capture) << "# vantrel-capture 1\n# link: usb vid=227D pid=0102\n";
  const int status = SimProcess::Run(
      {"--usb", "--socket", dir + "/sock", "--no-stdin", "--replay", capture});
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
