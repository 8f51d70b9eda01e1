// Headless Chromium for the HTML page tests: a page's DOM after it loaded, or a
// screenshot, with a fresh profile in the test's folder.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "common/SimProcess.h"

// Runs headless Chromium with args, its output into out; false when it did not end well.
inline bool Chromium(const std::string& dir, std::vector<std::string> args, const std::string& out) {
  std::vector<std::string> argv{"/usr/bin/chromium", "--headless", "--no-sandbox",
                                "--disable-gpu", "--disable-quic", "--no-first-run",
                                "--disable-background-networking",
                                "--disable-component-update", "--disable-sync",
                                "--user-data-dir=" + dir + "/profile"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env{"HOME=" + dir, "PATH=/usr/bin:/bin"};
  std::vector<char*> cargv, cenv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  for (auto& e : env) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::string err = dir + "/chromium.err";
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  pid_t pid = -1;
  const bool spawned = ::posix_spawn(&pid, argv[0].c_str(), &fa, nullptr, cargv.data(), cenv.data()) == 0;
  posix_spawn_file_actions_destroy(&fa);
  if (!spawned) return false;
  int status = 0;
  if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 120000)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
