// vantrel started as a program with an environment of the test's choosing (simulator
// socket, data folder), its output in files of a folder.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/SimProcess.h"

class VantrelProcess {
 public:
  struct Outcome {
    int code = -1;  // exit code; -2 when it hung and was killed
    std::string out, err;
  };

  // dir: where the output files go (name.out, name.err) and the data folder
  // ($XDG_DATA_HOME) is.
  VantrelProcess(std::string dir, std::string name) : dir_(std::move(dir)), name_(std::move(name)) {}

  bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv{VANTREL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment{"PATH=/usr/bin:/bin", "XDG_DATA_HOME=" + dir_ + "/data",
                                         "HOME=" + dir_};
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& e : environment) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!input_.empty()) posix_spawn_file_actions_addopen(&fa, 0, input_.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, Path(".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&fa, 2, Path(".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    const bool ok = ::posix_spawn(&pid_, VANTREL_PATH, &fa, nullptr, cargv.data(), cenv.data()) == 0;
    posix_spawn_file_actions_destroy(&fa);
    if (!ok) pid_ = -1;
    return ok;
  }

  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return false;
  }

  Outcome Finish(int ms = 60000) {
    Outcome r;
    if (pid_ > 0 && !WaitUntil([&] { return !Running(); }, ms)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      code_ = -2;
    }
    r.code = code_;
    r.out = Read(Path(".out"));
    r.err = Read(Path(".err"));
    return r;
  }

  Outcome operator()(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     int ms = 60000) {
    if (!Start(args, env)) return {};
    return Finish(ms);
  }

  // Standard input of the next runs from this file ("" the test's own).
  void Input(std::string path) { input_ = std::move(path); }

  // The station's own database in the data folder.
  std::string LocalDb() const { return dir_ + "/data/vantrel/results.db"; }

 private:
  std::string Path(const char* ext) const { return dir_ + "/" + name_ + ext; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string dir_, name_, input_;
  pid_t pid_ = -1;
  int code_ = -1;
};
