#include "CSerialDeviceWatch.h"

#include <libudev.h>

#include <cstring>

CSerialDeviceWatch::CSerialDeviceWatch(std::function<void()> onChange)
    : onChange_(std::move(onChange)), watch_("tty", [this](udev_device* dev) {
        const char* action = udev_device_get_action(dev);
        if (action != nullptr &&
            (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0))
          onChange_();
      }) {}

CSerialDeviceWatch::~CSerialDeviceWatch() {
  Stop();
}

bool CSerialDeviceWatch::Start() {
  return watch_.start();
}

void CSerialDeviceWatch::Stop() {
  watch_.stop();
}
