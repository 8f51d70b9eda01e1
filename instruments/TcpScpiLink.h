// SCPI over a raw TCP socket (the instrument's port 5025).
#pragma once

#include <string>

#include "instruments/ScpiLink.h"

namespace instruments {

class TcpScpiLink : public ScpiLink {
 public:
  static constexpr int kDefaultPort = 5025;
  TcpScpiLink(std::string host, int port) : host_(std::move(host)), port_(port) {}
  ~TcpScpiLink() override { Close(); }

  bool Open(std::string& error) override;
  void Close() override;
  bool Write(const std::string& message, std::string& error) override;
  bool ReadLine(std::string& line, int timeoutMs, std::string& error) override;
  std::string Address() const override;

 private:
  bool Fail(const std::string& what, std::string& error);

  std::string host_;
  int port_;
  int fd_ = -1;
  std::string pending_;  // bytes read past the last line
};

}  // namespace instruments
