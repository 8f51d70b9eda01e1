// A tpcsim child process on a private socket, with its control channel.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts `program` as a USB controller with stream stamps; waits until its control
  // socket answers. False with `error` filled when it did not come up.
  bool Start(const std::string& program, const std::vector<std::string>& extraArgs,
             std::string& error);
  void Stop();

  const std::string& SocketPath() const { return socket_; }
  pid_t Pid() const { return pid_; }
  // One control line; returns the answer line ("ok ...", "error: ..."), or "" when the
  // control socket did not answer.
  std::string Control(const std::string& line) const;
  // The data report count of the "stats" answer, -1 when absent.
  long long DataReports() const;

 private:
  pid_t pid_ = -1;
  std::string dir_;
  std::string socket_;
  std::string control_;
};
