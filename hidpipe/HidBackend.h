// What the library needs from a device backend (hidraw or the simulator socket).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "DeviceMatch.h"
#include "ReportQueue.h"

namespace hidpipe {

class NoticeHub;

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // Makes the backend usable (connects lazily where it can). False when it cannot work.
  virtual bool start() = 0;
  // Opens the device with this identity (and, when choice is not empty, the one it names:
  // see deviceChosen); a device open before is already closed.
  virtual bool open(uint32_t vid, uint32_t pid, uint32_t iface, const std::string& choice) = 0;
  // The open device as found (node, bus, identity, serial number, port).
  virtual HidDeviceInfo opened() const = 0;
  // Closes the open device, if any.
  virtual void close() = 0;
  // Sends one 64-byte output report: 0 when it went out, else the errno of the failure
  // (a write that may block runs on the library's writer thread, never the caller's).
  virtual int write(const uint8_t* report) = 0;
  // Reads one 64-byte input report from the device's own queue, waiting up to timeoutMs
  // (negative: until a report, an interrupt or the device's end); received is set to the
  // number of its bytes that came from the device (the rest are zeros). Returns 1 for a
  // report, 0 for none (timeout or interrupt), -1 when no device is open or it is gone.
  virtual int read(uint8_t* report, int timeoutMs, size_t& received) = 0;
  // Why the open device cannot carry this 64-byte report ("" when it can).
  virtual std::string refusal(const uint8_t* /*report*/) const { return {}; }
  // The open device failed as a pulled one does (read or write error, hang-up).
  virtual bool gone() const { return false; }
  // When the report the last read gave arrived (steady clock, microseconds); 0 when it
  // arrived with the read itself.
  virtual int64_t lastArrivalUs() const { return 0; }
  // Makes waiting reads return 0 until clearInterrupt().
  virtual void interrupt() = 0;
  // Waits ms milliseconds for reports to gather, ended early by interrupt().
  virtual void hold(int /*ms*/) {}
  virtual void clearInterrupt() = 0;
  // True when the drain thread is taking reports; lets the backend ease bursts.
  virtual void setDraining(bool on) = 0;
  // A backend that reads on a thread of its own puts its reports straight into ring
  // (null: into its own queue again), what its queue held first; false when it has no
  // such thread and the library's drain thread must take them.
  virtual bool feedRing(ReportQueue* /*ring*/) { return false; }
  // Starts (true) or stops device notices into the hub; false when they cannot start.
  virtual bool setNotices(bool on) = 0;
};

}  // namespace hidpipe
