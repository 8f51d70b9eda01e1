// A PostgreSQL server of one test's own: a cluster made in a temporary folder by an
// unprivileged user (the server refuses to run as root), listening only on a socket in
// that folder, stopped and removed at the end.
#pragma once

#include <fcntl.h>
#include <glob.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

class PgCluster {
 public:
  PgCluster() {
    char tmpl[] = "/tmp/vt-pg-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    dir_ = made ? made : "";
    glob_t g{};
    if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &g) == 0 && g.gl_pathc > 0) {
      std::vector<std::string> found(g.gl_pathv, g.gl_pathv + g.gl_pathc);
      std::sort(found.begin(), found.end());
      bin_ = std::filesystem::path(found.back()).parent_path().string();
    }
    ::globfree(&g);
  }
  ~PgCluster() {
    Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  bool Available() const { return !bin_.empty() && !dir_.empty(); }

  // Makes the cluster (first time) and starts the server; waits until it takes connections.
  bool Start() {
    if (!Available()) return false;
    if (!made_) {
      if (::geteuid() == 0) {
        const passwd* pw = ::getpwnam("nobody");
        if (!pw || ::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) return false;
      }
      if (Run({bin_ + "/initdb", "-D", Data(), "-U", "vantrel", "--auth=trust", "-E", "UTF8",
               "--no-sync", "--no-instructions"}) != 0)
        return false;
      made_ = true;
    }
    const std::string options = "-k " + dir_ + " -c listen_addresses='' -c max_connections=40";
    running_ = Run({bin_ + "/pg_ctl", "-D", Data(), "-l", dir_ + "/server.log", "-o", options,
                    "-w", "-t", "60", "start"}) == 0;
    return running_;
  }

  bool Stop() {
    if (!running_) return true;
    running_ = false;
    return Run({bin_ + "/pg_ctl", "-D", Data(), "-m", "fast", "-w", "-t", "60", "stop"}) == 0;
  }

  // The libpq URL of the server's "postgres" database.
  std::string Url() const { return "postgresql:///postgres?host=" + dir_ + "&user=vantrel"; }
  const std::string& Dir() const { return dir_; }
  std::string Log() const { return dir_ + "/server.log"; }

 private:
  std::string Data() const { return dir_ + "/data"; }

  // Runs a server program, as nobody when we are root; its exit status.
  int Run(std::vector<std::string> args) const {
    if (::geteuid() == 0)
      args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                 "--clear-groups", "--"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string out = dir_ + "/tools.out";
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addchdir_np(&fa, dir_.c_str());
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (spawned != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_, bin_;
  bool made_ = false, running_ = false;
};
