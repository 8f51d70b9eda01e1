// A small stand-in for the simulator's socket side, for tests of the library's client.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

class SimPeer {
 public:
  using Report = std::array<uint8_t, 64>;

  static constexpr uint16_t kVid = 0x227D;
  static constexpr uint16_t kPid = 0x0102;
  static constexpr uint8_t kIface = 1;

  explicit SimPeer(std::string socketPath);
  ~SimPeer();

  std::string devicePath() const;

  // Messages to the connected client (dropped when none is connected).
  void sendRaw(std::span<const uint8_t> bytes);
  void send(uint8_t type, std::span<const uint8_t> payload);
  void sendInput(uint32_t seq);
  void notice(bool arrival, const std::string& path);
  void unplug();
  void plug();

  void setEcho(bool on);
  bool waitForClient(std::chrono::milliseconds timeout);
  bool waitForOutputs(size_t count, std::chrono::milliseconds timeout);
  bool waitForCloses(size_t count, std::chrono::milliseconds timeout);
  std::vector<Report> outputs();

 private:
  void run();
  void handle(uint8_t type, const std::vector<uint8_t>& payload);

  const std::string path_;
  int listenFd_ = -1;
  int wake_[2] = {-1, -1};
  std::mutex sendMutex_;
  std::mutex m_;
  std::condition_variable cv_;
  int client_ = -1;
  bool plugged_ = true;
  bool echo_ = false;
  size_t clients_ = 0;
  size_t closes_ = 0;
  std::vector<Report> outputs_;
  std::thread thread_;
};

// Polls cond until it holds or timeout passes.
template <class Cond>
bool waitUntil(Cond cond, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}
