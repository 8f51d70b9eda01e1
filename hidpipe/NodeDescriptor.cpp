#include "NodeDescriptor.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hidpipe {

int systemIoctl(int fd, unsigned long request, void* arg) {
  return ::ioctl(fd, request, arg);
}

std::string sysfsDescriptorPath(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return "";
  return "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
         std::to_string(minor(st.st_rdev)) + "/device/report_descriptor";
}

bool readNodeDescriptor(int fd, std::vector<uint8_t>& bytes, std::string& problem,
                        IoctlFn ioctlFn, const std::string& sysfsPath) {
  const std::string what = "cannot read the report descriptor: ";
  int size = 0;
  if (ioctlFn(fd, HIDIOCGRDESCSIZE, &size) < 0) {
    problem = what + std::strerror(errno);
    return false;
  }
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    problem = what + "size " + std::to_string(size);
    return false;
  }
  if (size == HID_MAX_DESCRIPTOR_SIZE) {
    const std::string path = sysfsPath.empty() ? sysfsDescriptorPath(fd) : sysfsPath;
    if (!readFileBytes(path, HID_MAX_DESCRIPTOR_SIZE, bytes, problem)) {
      problem = what + problem;
      return false;
    }
    return true;
  }
  hidraw_report_descriptor desc{};
  desc.size = static_cast<uint32_t>(size);
  if (ioctlFn(fd, HIDIOCGRDESC, &desc) < 0) {
    problem = what + std::strerror(errno);
    return false;
  }
  bytes.assign(desc.value, desc.value + desc.size);
  return true;
}

bool readFileBytes(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& problem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problem = path + ": " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  problem.clear();
  uint8_t chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problem = path + ": " + std::strerror(errno);
      break;
    }
    if (n == 0) break;
    if (bytes.size() + size_t(n) > maxBytes) {
      problem = path + ": larger than " + std::to_string(maxBytes) + " bytes";
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  return problem.empty();
}

std::string sysfsDescriptorOfNode(const std::string& devicePath) {
  const size_t slash = devicePath.rfind('/');
  return "/sys/class/hidraw/" + devicePath.substr(slash == std::string::npos ? 0 : slash + 1) +
         "/device/report_descriptor";
}

}  // namespace hidpipe
