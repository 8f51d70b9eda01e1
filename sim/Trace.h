// Frame trace: a capture file (docs/CAPTURE.md) of every frame in and out, flushed line
// by line so that a reader sees each frame at once.
#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "capture/CaptureFormat.h"
#include "capture/CaptureSink.h"
#include "sim/SimClock.h"

namespace tpcsim {

class Trace {
 public:
  explicit Trace(const SimClock& clock) : clock_(clock), startUs_(clock.NowUs()) {}
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  // Creates the file (".zst": compressed) and writes the header.
  bool Open(const std::string& path, capture::Header header, std::string& error);
  bool IsOpen() const { return sink_.IsOpen(); }

  void HostToDevice(std::span<const uint8_t> bytes) {
    Write(capture::Direction::kHostToDevice, bytes);
  }
  void DeviceToHost(std::span<const uint8_t> bytes) {
    Write(capture::Direction::kDeviceToHost, bytes);
  }

 private:
  void Write(capture::Direction dir, std::span<const uint8_t> bytes);

  const SimClock& clock_;
  int64_t startUs_;
  capture::LinkKind link_ = capture::LinkKind::kUnknown;
  capture::CaptureSink sink_;
  std::string line_;
};

}  // namespace tpcsim
