// A tpcsim process for one drill: started with a control socket and a trace in a private
// folder, driven by control commands, ended with SIGTERM.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

// Polls cond every millisecond until it holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& cond, int ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class SimProcess {
 public:
  SimProcess() {
    char tmpl[] = "/tmp/vt-e2e-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    dir_ = made ? made : "";
    socket_ = dir_ + "/tpcsim.sock";
    control_ = dir_ + "/control.sock";
    trace_ = dir_ + "/trace.log";
    link_ = dir_ + "/tty";
  }
  ~SimProcess() {
    Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // extra: transport and other options ("--usb" or "--serial" with paths in the private
  // folder, "--usb=default" for the default socket path, others as they are). Waits until
  // the control socket answers.
  bool Start(std::vector<std::string> extra) {
    std::vector<std::string> args = {TPCSIM_PATH, "--control", control_,
                                     "--trace",   trace_,      "--no-stdin"};
    for (auto& e : extra) {
      if (e == "--usb")
        args.insert(args.end(), {"--usb", "--socket", socket_});
      else if (e == "--usb=default")
        args.push_back("--usb");  // the default socket path
      else if (e == "--serial")
        args.insert(args.end(), {"--serial", "--link", link_});
      else
        args.push_back(e);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its output goes to a file of its own: a simulator outliving a test that was killed
    // must not hold the test runner's pipe open.
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string out = dir_ + "/tpcsim.out";
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    const int spawned = ::posix_spawn(&pid_, TPCSIM_PATH, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (spawned != 0) return false;
    return WaitUntil([&] { return Command("status").rfind("ok", 0) == 0; });
  }

  // Ends the simulator; true when it ended cleanly.
  bool Stop() {
    if (pid_ <= 0) return true;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // One control command; the answer line without its end.
  std::string Command(const std::string& line) const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, control_.c_str(), sizeof a.sun_path - 1);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      const std::string text = line + "\n";
      if (::write(fd, text.data(), text.size()) == ssize_t(text.size())) {
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n') answer.push_back(c);
      }
    }
    ::close(fd);
    return answer;
  }
  bool Ok(const std::string& line) const { return Command(line).rfind("ok", 0) == 0; }

  struct TracedFrame {
    bool toDevice = false;
    std::vector<uint8_t> bytes;
  };
  // The trace, a capture: "#" header lines, then "us H>D|D>H count hex" a frame.
  std::vector<TracedFrame> Trace() const {
    std::vector<TracedFrame> out;
    std::ifstream in(trace_);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream words(line);
      std::string us, d, hex;
      size_t count = 0;
      if (!(words >> us >> d >> count >> hex) || hex.size() != 2 * count) continue;
      TracedFrame f;
      f.toDevice = d == "H>D";
      for (size_t i = 0; i < hex.size(); i += 2) {
        f.bytes.push_back(uint8_t(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
      }
      out.push_back(std::move(f));
    }
    return out;
  }

  // Frames of the trace in one direction ("H>D" or "D>H").
  std::vector<std::vector<uint8_t>> TraceFrames(const std::string& dir) const {
    std::vector<std::vector<uint8_t>> out;
    for (TracedFrame& f : Trace())
      if (f.toDevice == (dir == "H>D")) out.push_back(std::move(f.bytes));
    return out;
  }

  // The last lines of the trace, for failure messages.
  std::string TraceTail(size_t lines = 12) const {
    std::ifstream in(trace_);
    std::vector<std::string> all;
    std::string line;
    while (std::getline(in, line)) all.push_back(line);
    std::string out;
    for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i) {
      out += all[i] + "\n";
    }
    return out;
  }

  // Runs tpcsim with exactly these arguments (its own option handling) until it ends by
  // itself; the wait status.
  static int Run(std::vector<std::string> args) {
    args.insert(args.begin(), TPCSIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, TPCSIM_PATH, nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }

  pid_t Pid() const { return pid_; }
  const std::string& ControlPath() const { return control_; }
  const std::string& TracePath() const { return trace_; }
  const std::string& Socket() const { return socket_; }
  const std::string& Link() const { return link_; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_, socket_, control_, trace_, link_;
  pid_t pid_ = -1;
};
