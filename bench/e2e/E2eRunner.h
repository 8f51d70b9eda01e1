// The end-to-end receive run: tpcsim streams stamped data reports through the hidpipe
// simulator backend into a real CTransCtrl; one row per stream rate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SimProcess;

class E2eRunner {
 public:
  struct Config {
    bool plain = false;  // the plain poll loop, drain ring off
    bool ui = false;     // Qt deliverer with a busy UI thread, else the direct deliverer
    double scale = 1.0;  // multiplies every phase's length (--quick)
  };

  struct Row {
    std::string config;  // "ours/direct", "plain/ui" ...
    std::string rate;    // "idle", "250", "1000", "8000", "max"
    double seconds = 0;
    int64_t sent = 0;       // data reports tpcsim sent
    int64_t delivered = 0;  // stamped reports that reached the listener
    int64_t lost = 0;       // sent - delivered
    double perSecond = 0;   // delivered per second of the phase
    double medianMs = 0;
    double p99Ms = 0;
    double maxMs = 0;
    double rxCpuPct = -1;    // receive thread, % of one core
    double otherCpuPct = 0;  // threads other than the receive and main threads
    double mainCpuPct = 0;   // the main (UI) thread
  };

  explicit E2eRunner(SimProcess& sim) : sim_(sim) {}

  // Runs idle, 250, 1000, 8000 and max for one configuration. False with `error` when the
  // link did not open.
  bool Run(const Config& c, std::vector<Row>& rows, std::string& error);

  static std::string Name(const Config& c);

 private:
  SimProcess& sim_;
};
