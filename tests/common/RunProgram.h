// A program run to its end with its output in files, and a file read whole.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Starts args[0] (a path) with this process's environment, its standard output written to
// out and its standard error to err (one file when they are the same). Its process id; -1
// when it could not be started.
inline pid_t StartProgram(std::vector<std::string> args, const std::string& out,
                          const std::string& err) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (err == out)
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
  else
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const bool spawned = ::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&fa);
  return spawned ? pid : -1;
}

// The exit code of a program StartProgram started; -1 when it did not exit.
inline int WaitProgram(pid_t pid) {
  if (pid < 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the program to its end (see StartProgram); its exit code, -1 when it could not be
// started or did not exit.
inline int RunProgram(std::vector<std::string> args, const std::string& out,
                      const std::string& err) {
  return WaitProgram(StartProgram(std::move(args), out, err));
}
