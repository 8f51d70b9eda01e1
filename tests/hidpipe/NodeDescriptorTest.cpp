// Reading a node's report descriptor as the hidraw driver hands it over.
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hidpipe/NodeDescriptor.h"

namespace hidpipe {
namespace {

std::vector<uint8_t> gDescriptor;

// The driver's two ioctls: HIDIOCGRDESC refuses a length above HID_MAX_DESCRIPTOR_SIZE - 1.
int driverIoctl(int, unsigned long request, void* arg) {
  if (request == HIDIOCGRDESCSIZE) {
    *static_cast<int*>(arg) = static_cast<int>(gDescriptor.size());
    return 0;
  }
  if (request == HIDIOCGRDESC) {
    auto* d = static_cast<hidraw_report_descriptor*>(arg);
    if (d->size > HID_MAX_DESCRIPTOR_SIZE - 1) {
      errno = EINVAL;
      return -1;
    }
    std::memcpy(d->value, gDescriptor.data(), std::min<size_t>(d->size, gDescriptor.size()));
    return 0;
  }
  errno = ENOTTY;
  return -1;
}

TEST(NodeDescriptor, DescriptorsUpToTheKernelsLimitAreRead) {
  char path[] = "/tmp/hidpipe-rdesc-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  for (size_t size : {size_t(5), size_t(HID_MAX_DESCRIPTOR_SIZE - 1), size_t(HID_MAX_DESCRIPTOR_SIZE)}) {
    gDescriptor.assign(size, 0);
    for (size_t i = 0; i < size; ++i) gDescriptor[i] = uint8_t(i * 7);
    // What sysfs's report_descriptor gives.
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ASSERT_EQ(::pwrite(fd, gDescriptor.data(), size, 0), ssize_t(size));
    std::vector<uint8_t> got;
    std::string problem;
    EXPECT_TRUE(readNodeDescriptor(fd, got, problem, driverIoctl, path)) << size << ": " << problem;
    EXPECT_EQ(got, gDescriptor) << size;
  }
  gDescriptor.assign(HID_MAX_DESCRIPTOR_SIZE + 1, 0);
  std::vector<uint8_t> got;
  std::string problem;
  EXPECT_FALSE(readNodeDescriptor(fd, got, problem, driverIoctl, path));
  EXPECT_EQ(problem, "cannot read the report descriptor: size 4097");
  ::close(fd);
  ::unlink(path);

  EXPECT_FALSE(readFileBytes("/nonexistent/report_descriptor", 4096, got, problem));
  EXPECT_EQ(problem, "/nonexistent/report_descriptor: No such file or directory");
}

}  // namespace
}  // namespace hidpipe
