#include "analysis/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace analysis {

namespace {

// A symbolic link's target, so that the link survives the rename.
std::string ResolveTarget(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out(real);
  std::free(real);
  return out;
}

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Fail(const std::string& path, int err) {
  return "cannot write " + path + ": " + std::strerror(err);
}

}  // namespace

AtomicFile::~AtomicFile() {
  Discard();
}

bool AtomicFile::CanWrite(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "no file name given";
    return false;
  }
  const std::string target = ResolveTarget(path);
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = "cannot write " + path + ": it is a folder";
      return false;
    }
    if (::access(target.c_str(), W_OK) != 0) {
      error = Fail(path, errno);
      return false;
    }
  }
  const std::string dir = DirOf(target);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    error = Fail(path, errno);
    return false;
  }
  return true;
}

bool AtomicFile::Open(const std::string& path, std::string& error) {
  static std::atomic<unsigned> counter{0};
  Discard();
  if (!CanWrite(path, error)) return false;
  target_ = ResolveTarget(path);
  const size_t slash = target_.rfind('/');
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  int fd = -1;
  std::string tmp;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    tmp = DirOf(target_) + "/." + base + "." + std::to_string(::getpid()) + "." +
          std::to_string(counter.fetch_add(1)) + ".tmp";
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = Fail(path, errno);
    return false;
  }
  // An existing file keeps its permissions (best effort).
  struct stat old {};
  if (::stat(target_.c_str(), &old) == 0) (void)::fchmod(fd, old.st_mode & 07777);
  ::close(fd);
  out_.open(tmp, std::ios::binary | std::ios::trunc);
  tmp_ = tmp;
  if (!out_) {
    error = Fail(path, errno);
    Discard();
    return false;
  }
  return true;
}

bool AtomicFile::Commit(std::string& error) {
  if (tmp_.empty()) {
    error = "nothing to save";
    return false;
  }
  out_.flush();
  bool ok = static_cast<bool>(out_);
  int err = ok ? 0 : (errno ? errno : EIO);
  out_.close();
  if (ok) {
    // The data on the disk before the name points at it.
    const int fd = ::open(tmp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
      ok = false;
      err = errno;
    }
    if (fd >= 0) ::close(fd);
  }
  if (ok && ::rename(tmp_.c_str(), target_.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    error = Fail(target_, err);
    Discard();
    return false;
  }
  tmp_.clear();
  return true;
}

void AtomicFile::Discard() {
  if (out_.is_open()) out_.close();
  if (!tmp_.empty()) ::unlink(tmp_.c_str());
  tmp_.clear();
}

bool AtomicFile::Write(const std::string& path, const std::string& content, std::string& error) {
  AtomicFile f;
  if (!f.Open(path, error)) return false;
  f.Stream() << content;
  return f.Commit(error);
}

}  // namespace analysis
