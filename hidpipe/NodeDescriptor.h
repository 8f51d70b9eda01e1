// Reading the report descriptor of an open hidraw node.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hidpipe {

// The ioctl call, replaceable in tests.
using IoctlFn = int (*)(int fd, unsigned long request, void* arg);
int systemIoctl(int fd, unsigned long request, void* arg);

// The node's report_descriptor file in sysfs, from its device number; empty when fd is not
// a character device.
std::string sysfsDescriptorPath(int fd);

// "/dev/hidraw3" -> its report_descriptor in sysfs (readable without access to the node).
std::string sysfsDescriptorOfNode(const std::string& devicePath);

// Reads the descriptor with HIDIOCGRDESCSIZE and HIDIOCGRDESC. The driver takes at most
// HID_MAX_DESCRIPTOR_SIZE - 1 bytes through HIDIOCGRDESC although it keeps descriptors of
// HID_MAX_DESCRIPTOR_SIZE: one of that size is read from sysfsPath instead. problem says
// why it could not be read.
bool readNodeDescriptor(int fd, std::vector<uint8_t>& bytes, std::string& problem,
                        IoctlFn ioctlFn = systemIoctl, const std::string& sysfsPath = {});

// Reads at most maxBytes of a file (a larger file is refused).
bool readFileBytes(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& problem);

}  // namespace hidpipe
