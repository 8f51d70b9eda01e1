// Frame trace: one line per frame, "<ms since start> H>D|D>H <bytes in hex>",
// flushed line by line.
#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "sim/SimClock.h"

namespace tpcsim {

class Trace {
 public:
  explicit Trace(const SimClock& clock) : clock_(clock), startUs_(clock.NowUs()) {}
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return file_ != nullptr; }

  void HostToDevice(std::span<const uint8_t> bytes) { Write("H>D", bytes); }
  void DeviceToHost(std::span<const uint8_t> bytes) { Write("D>H", bytes); }

 private:
  void Write(const char* dir, std::span<const uint8_t> bytes);

  const SimClock& clock_;
  int64_t startUs_;
  std::FILE* file_ = nullptr;
};

}  // namespace tpcsim
