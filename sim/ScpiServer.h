// The simulated generator's SCPI socket: raw SCPI text over TCP, on the loopback address
// only (nothing listens on a network). One message a line, answers a line each.
#pragma once

#include <functional>
#include <list>
#include <string>

#include "sim/SimGenerator.h"
#include "sim/SimLoop.h"

namespace tpcsim {

class ScpiServer {
 public:
  static constexpr size_t kMaxLine = 4096;

  // changed: called after every message (the generator may have changed).
  ScpiServer(SimLoop& loop, SimGenerator& generator, std::function<void()> changed)
      : loop_(loop), generator_(generator), changed_(std::move(changed)) {}
  ~ScpiServer();

  // Listens on 127.0.0.1:port (0: a free port). False with the reason.
  bool Listen(int port, std::string& error);
  int Port() const { return port_; }
  // Closes every connection (a cable pulled); the generator keeps its state.
  void DropAll();
  size_t Connections() const { return conns_.size(); }

 private:
  struct Conn {
    int fd = -1;
    std::string in, out;
  };
  void Accept();
  void OnReadable(Conn& c, short revents);
  void Flush(Conn& c);
  void Drop(Conn& c);

  SimLoop& loop_;
  SimGenerator& generator_;
  std::function<void()> changed_;
  std::list<Conn> conns_;
  int listenFd_ = -1;
  int port_ = 0;
};

}  // namespace tpcsim
