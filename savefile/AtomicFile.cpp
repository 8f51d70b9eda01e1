#include "savefile/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace savefile {

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

std::string Message(const std::string& path, const std::string& why) {
  return path.empty() ? why : "cannot write " + path + ": " + why;
}

// Why a file could not be saved at path; empty when it could.
std::string WhyNotWritable(const std::string& path) {
  if (path.empty()) return "no file name given";
  const std::string target = ResolveTarget(path);
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    if (::access(target.c_str(), W_OK) != 0) return std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "";  // a pipe or a device is written into, not beside
  }
  if (::access(DirOf(target).c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return "";
}

}  // namespace

AtomicFile::~AtomicFile() {
  Discard();
}

bool AtomicFile::Fail(const std::string& path, const std::string& why, std::string& error) {
  cause_ = why;
  error = Message(path, why);
  return false;
}

bool AtomicFile::CanWrite(const std::string& path, std::string& error) {
  const std::string why = WhyNotWritable(path);
  if (why.empty()) return true;
  error = Message(path, why);
  return false;
}

bool AtomicFile::Open(const std::string& path, std::string& error) {
  static std::atomic<unsigned> counter{0};
  Discard();
  cause_.clear();
  if (const std::string why = WhyNotWritable(path); !why.empty()) return Fail(path, why, error);
  // A pipe or a device (/dev/stdout, /dev/null) is written into: renaming over it would
  // put a plain file in its place.
  if (struct stat st {}; ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    out_.open(path, std::ios::binary);
    if (!out_) return Fail(path, std::strerror(errno), error);
    target_ = path;
    direct_ = true;
    return true;
  }
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
  if (fd < 0) return Fail(path, std::strerror(errno), error);
  // An existing file keeps its permissions (best effort).
  struct stat old {};
  if (::stat(target_.c_str(), &old) == 0) (void)::fchmod(fd, old.st_mode & 07777);
  ::close(fd);
  out_.open(tmp, std::ios::binary | std::ios::trunc);
  tmp_ = tmp;
  if (!out_) {
    const int err = errno;
    Discard();
    return Fail(path, std::strerror(err), error);
  }
  return true;
}

bool AtomicFile::Commit(std::string& error) {
  if (!IsOpen()) return Fail("", "nothing to save", error);
  out_.flush();
  bool ok = static_cast<bool>(out_);
  int err = ok ? 0 : (errno ? errno : EIO);
  out_.close();
  if (ok && !out_) {  // the last of the data failed on close
    ok = false;
    err = errno ? errno : EIO;
  }
  if (direct_) {
    direct_ = false;
    return ok || Fail(target_, std::strerror(err), error);
  }
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
    Discard();
    return Fail(target_, std::strerror(err), error);
  }
  tmp_.clear();
  // The new name on the disk too: else a power cut can bring the old file back.
  const std::string folder = std::filesystem::path(target_).parent_path().string();
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void AtomicFile::Discard() {
  if (out_.is_open()) out_.close();
  direct_ = false;
  if (!tmp_.empty()) ::unlink(tmp_.c_str());
  tmp_.clear();
}

bool AtomicFile::Write(const std::string& path, const std::string& content, std::string& error,
                       std::string* cause) {
  AtomicFile f;
  bool ok = f.Open(path, error);
  if (ok) {
    f.Stream() << content;
    ok = f.Commit(error);
  }
  if (!ok && cause) *cause = f.Cause();
  return ok;
}

}  // namespace savefile
