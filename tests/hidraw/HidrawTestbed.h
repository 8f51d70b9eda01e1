// An emulated machine for the hidraw backend and the udev watches: umockdev's sysfs, /dev
// nodes and uevents, with the main context its node handlers run on (a thread of its own).
// The test process runs with umockdev's preload library (ctest sets LD_PRELOAD).
#pragma once

#include <glib.h>
#include <umockdev.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One HID interface with its hidraw node and the parents udev and hidapi look at.
struct HidNodeSpec {
  static constexpr uint16_t kBusUsb = 0x03;
  static constexpr uint16_t kBusI2c = 0x18;
  uint16_t bus = kBusUsb;
  uint16_t vid = 0x227D;
  uint16_t pid = 0x0102;
  int usbInterface = 1;  // USB only; interfaces of one device share its port
  int number = 0;        // hidrawN
  std::string usbPort = "1-1";  // USB only: the device's port path
  std::string serial = "E2E0001";  // USB iSerial and HID_UNIQ
  std::vector<uint8_t> descriptor;
};

class HidrawTestbed {
 public:
  HidrawTestbed();
  ~HidrawTestbed();
  HidrawTestbed(const HidrawTestbed&) = delete;
  HidrawTestbed& operator=(const HidrawTestbed&) = delete;

  // True when the process runs with the preload library (else nothing is emulated).
  static bool Preloaded();

  // Adds the node's records; returns the hidraw device's sysfs path ("" on failure).
  std::string AddHid(const HidNodeSpec& spec);
  // Adds a serial device (ttyUSBn under a USB interface); returns its sysfs path.
  std::string AddTty(int number);
  // Records in umockdev's text form; false on a parse error.
  bool Add(const std::string& records);
  void Remove(const std::string& syspath);
  // Sends a uevent ("add", "remove", "change") for a device of the testbed.
  void Uevent(const std::string& syspath, const char* action);

  // Runs fn on the testbed's thread (the handlers' main context) and waits for it.
  void RunOnLoop(const std::function<void()>& fn);
  UMockdevTestbed* Raw() { return bed_; }
  std::string Dir() const { return dir_; }

 private:
  UMockdevTestbed* bed_ = nullptr;
  GMainContext* ctx_ = nullptr;
  std::string dir_;
  std::atomic<bool> stop_{false};
  std::thread loop_;
  // Jobs for the loop pass through our own lock: the context's wake-up is only a signal.
  std::mutex jobsMutex_;
  std::condition_variable jobDone_;
  std::deque<const std::function<void()>*> jobs_;
  size_t jobsRun_ = 0;
};
