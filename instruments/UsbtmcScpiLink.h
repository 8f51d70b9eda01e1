// SCPI over the Linux usbtmc driver's device file (/dev/usbtmc0): each write is one
// message, each read returns the instrument's answer.
#pragma once

#include <string>

#include "instruments/ScpiLink.h"

namespace instruments {

class UsbtmcScpiLink : public ScpiLink {
 public:
  explicit UsbtmcScpiLink(std::string path) : path_(std::move(path)) {}
  ~UsbtmcScpiLink() override { Close(); }

  bool Open(std::string& error) override;
  void Close() override;
  bool Write(const std::string& message, std::string& error) override;
  bool ReadLine(std::string& line, int timeoutMs, std::string& error) override;
  std::string Address() const override { return "usbtmc:" + path_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::string pending_;
};

}  // namespace instruments
