// vantrel run as a program against a tpcsim: its exit code, its output and the files it
// writes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/RunProgram.h"
#include "common/SimProcess.h"

struct Outcome {
  int code = -1;  // exit code, 128 + signal when killed
  std::string out, err;
};

class Vantrel {
 public:
  explicit Vantrel(const SimProcess& sim) : sim_(sim) {}

  // Starts vantrel with the simulator's socket; the link options come first (none with
  // NoLinkOptions()). pipeOut: standard output goes to a pipe whose reading end this
  // returns there, instead of to the output file. pipeIn: standard input comes from a
  // pipe whose writing end this returns there.
  pid_t Start(const std::vector<std::string>& args, int* pipeOut = nullptr, int* pipeIn = nullptr) {
    std::vector<std::string> argv{VANTREL_PATH};
    if (!noLink_ && !serial_)
      argv.insert(argv.end(), {"--usb", "227D:0102", "--timeout", "2"});
    else if (!noLink_)
      argv.insert(argv.end(), {"--serial", sim_.Link(), "--timeout", "2"});
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    // Test records go to the simulator's folder, not the user's.
    std::vector<std::string> env{"HIDPIPE_SIM=" + sim_.Socket(), "PATH=/usr/bin:/bin",
                                 "XDG_DATA_HOME=" + sim_.Dir()};
    std::vector<char*> cenv;
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    int fds[2] = {-1, -1};
    if (pipeOut && ::pipe2(fds, O_CLOEXEC) == 0) {
      posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
      *pipeOut = fds[0];
    } else {
      posix_spawn_file_actions_addopen(&fa, 1, Out().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&fa, 2, Err().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in[2] = {-1, -1};
    if (pipeIn && ::pipe2(in, O_CLOEXEC) == 0) {
      posix_spawn_file_actions_adddup2(&fa, in[0], 0);
      *pipeIn = in[1];
    }
    pid_t pid = -1;
    if (::posix_spawn(&pid, VANTREL_PATH, &fa, nullptr, cargv.data(), cenv.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    if (fds[1] >= 0) ::close(fds[1]);
    if (in[0] >= 0) ::close(in[0]);
    return pid;
  }

  // Waits for the program; kills it when it has not ended within ms (a hang).
  Outcome Finish(pid_t pid, int ms = 20000) {
    Outcome r;
    int status = 0;
    const bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, ms);
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!ended) r.code = -2;
    r.out = Slurp(Out());
    r.err = Slurp(Err());
    return r;
  }

  Outcome operator()(const std::vector<std::string>& args, int ms = 20000) {
    return Finish(Start(args), ms);
  }

  std::string File(const std::string& name) const { return sim_.Dir() + "/" + name; }
  void UseSerial() { serial_ = true; }
  void NoLinkOptions() { noLink_ = true; }

 private:
  std::string Out() const { return File("out.txt"); }
  std::string Err() const { return File("err.txt"); }
  const SimProcess& sim_;
  bool serial_ = false;
  bool noLink_ = false;
};

// The controller as vantrel must leave it: no stream, coordinates to the cursor.
inline void ExpectLeftAsFound(const SimProcess& sim) {
  const std::string status = sim.Command("status");
  EXPECT_NE(status.find("stream=none"), std::string::npos) << status;
  EXPECT_NE(status.find("target=0"), std::string::npos) << status;
}
