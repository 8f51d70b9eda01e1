// A JUnit report checked against the schema CI servers read (JUNIT_XSD_PATH).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/VantrelRun.h"

// xmllint's verdict on a report against the JUnit schema CI servers read: "" when valid.
inline std::string JUnitProblems(const std::string& path) {
  const std::string lint = path + ".lint";
  std::vector<std::string> args{"/usr/bin/xmllint", "--noout", "--schema", JUNIT_XSD_PATH, path};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, lint.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (spawned != 0) return "xmllint cannot be started";
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  return "invalid: " + Slurp(lint);
}
