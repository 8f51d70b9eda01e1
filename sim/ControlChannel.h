// Feeds control lines from standard input and from a control socket to the
// interpreter and writes each answer back where the line came from.
#pragma once

#include <list>
#include <string>

#include "sim/ControlInterpreter.h"
#include "sim/SimLoop.h"

namespace tpcsim {

class ControlChannel {
 public:
  static constexpr size_t kMaxLine = 4096;

  ControlChannel(SimLoop& loop, ControlInterpreter& interpreter)
      : loop_(loop), interpreter_(interpreter) {}
  ~ControlChannel();

  void WatchStdin();
  bool ListenSocket(const std::string& path, std::string& error);

 private:
  struct Conn {
    int inFd = -1;
    int outFd = -1;
    std::string in;
    std::string out;
    bool isStdin = false;
  };
  void Accept();
  void OnReadable(Conn& c, short revents);
  void Answer(Conn& c, const std::string& line);
  void Flush(Conn& c);
  void Drop(Conn& c);

  SimLoop& loop_;
  ControlInterpreter& interpreter_;
  std::list<Conn> conns_;
  int listenFd_ = -1;
  std::string path_;
};

}  // namespace tpcsim
