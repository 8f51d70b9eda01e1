#include "SerialPortMap.h"

#include <sys/stat.h>

#include <cstdlib>

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string ComDevicePath(int n) {
  if (n <= 0) return "";
  if (const char* dir = std::getenv("VANTREL_COM_DIR"); dir != nullptr && *dir != '\0') {
    std::string path = std::string(dir) + "/COM" + std::to_string(n);
    if (Exists(path)) return path;
  }
  if (n <= 8) return "/dev/ttyUSB" + std::to_string(n - 1);
  if (n <= 16) return "/dev/ttyACM" + std::to_string(n - 9);
  if (n <= 20) return "/dev/ttyS" + std::to_string(n - 17);
  return "";
}

std::string ComDevicePath(const SerialLineSettings& settings) {
  if (!settings.devicePath.empty()) return settings.devicePath;
  return ComDevicePath(settings.portNum);
}
