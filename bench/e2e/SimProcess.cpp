#include "SimProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

int ConnectUnix(const std::string& path) {
  sockaddr_un a{};
  if (path.size() >= sizeof a.sun_path) return -1;
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

}  // namespace

SimProcess::~SimProcess() {
  Stop();
}

bool SimProcess::Start(const std::string& program, const std::vector<std::string>& extraArgs,
                       std::string& error) {
  char tmpl[] = "/tmp/vt-bench-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) {
    error = "cannot create a private folder in /tmp";
    return false;
  }
  dir_ = tmpl;
  socket_ = dir_ + "/sim.sock";
  control_ = dir_ + "/ctl";
  std::vector<std::string> args = {program,     "--usb",  "--socket",   socket_,
                                   "--control", control_, "--no-stdin", "--stream-seq"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    error = "cannot start " + program;
    return false;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (Control("status").rfind("ok", 0) == 0) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = program + " ended at start";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  error = program + " did not answer on its control socket";
  Stop();
  return false;
}

void SimProcess::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  if (!dir_.empty()) {
    ::unlink(socket_.c_str());
    ::unlink(control_.c_str());
    ::rmdir(dir_.c_str());
    dir_.clear();
  }
}

std::string SimProcess::Control(const std::string& line) const {
  int fd = ConnectUnix(control_);
  if (fd < 0) return "";
  std::string cmd = line + "\n", answer;
  if (::write(fd, cmd.data(), cmd.size()) != static_cast<ssize_t>(cmd.size())) {
    ::close(fd);
    return "";
  }
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') answer.push_back(c);
  ::close(fd);
  return answer;
}

long long SimProcess::DataReports() const {
  const std::string s = Control("stats");
  const auto at = s.find(" data=");
  if (at == std::string::npos) return -1;
  return std::atoll(s.c_str() + at + 6);
}
