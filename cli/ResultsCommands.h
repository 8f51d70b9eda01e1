// `vantrel results show|sync|pending|upgrade` and `vantrel report`: the kept test runs of a unit,
// sending the runs a server did not take, listing those still here, and the yield report.
#pragma once

#include <memory>
#include <string>

namespace CLI {
class App;
}
namespace records {
class ResultsStore;
}

// The results database opened to read kept runs (one that is not there is an error).
std::unique_ptr<records::ResultsStore> OpenKeptRuns(const std::string& url, std::string& error);

class ResultsCommands {
 public:
  // Adds the subcommands to the program.
  explicit ResultsCommands(CLI::App& app);
  // True when one of them was chosen; Run() then gives its exit code.
  bool Chosen() const;
  int Run();

 private:
  int Show();
  int Sync();
  int Pending();
  int Upgrade();
  int Report();

  CLI::App* results_ = nullptr;
  CLI::App* show_ = nullptr;
  CLI::App* sync_ = nullptr;
  CLI::App* pending_ = nullptr;
  CLI::App* upgrade_ = nullptr;
  CLI::App* report_ = nullptr;
  std::string url_, serial_, since_, station_, output_;
  bool all_ = false;
  std::string format_ = "html", shifts_, grr_;
  double target_ = -1;
  int referenceUnits_ = 20, chartUnits_ = 1000;
  std::string learned_;  // a limits file whose learning set is the charts' reference
};
