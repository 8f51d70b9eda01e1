#include "CSettingsLocation.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "control/CSettingsRecord.h"

#ifndef VT_INSTALL_BINDIR
#define VT_INSTALL_BINDIR ""
#endif

namespace fs = std::filesystem;

namespace {

bool SameFolder(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

}  // namespace

std::string CSettingsLocation::Resolve(const std::string& configOption) {
  return Resolve(configOption, ProgramDir(), VT_INSTALL_BINDIR);
}

std::string CSettingsLocation::Resolve(const std::string& configOption,
                                       const std::string& programDir,
                                       const std::string& installedDir) {
  if (!configOption.empty()) return configOption;
  // An installed copy never writes beside itself, even where it could (root, ~/.local).
  if (!SameFolder(programDir, installedDir) && TakesNewFiles(programDir)) {
    return programDir + "/" + CSettingsRecord::kFileName;
  }
  return UserFile();
}

std::string CSettingsLocation::UserFile() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr && home[0] == '/' ? home : "") + "/.config";
  }
  return base + "/vantrel/" + CSettingsRecord::kFileName;
}

std::string CSettingsLocation::ProgramDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  const std::string exe(buf, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

bool CSettingsLocation::TakesNewFiles(const std::string& dir) {
  const std::string probe = dir + "/.ZUZIvor.ini.probe." + std::to_string(::getpid());
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST;  // left by an earlier run of this pid: it was created
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}
