// The closing table of a benchmark run: one markdown row per figure, appended to the
// file named by VT_BENCH_SUMMARY (bench/run-all prints it at the end).
#pragma once

#include <string>

class BenchSummary {
 public:
  enum class Verdict { kMet, kMissed, kInfo };

  // area: what was measured ("link", "views", "e2e"); figure: its name; value and target
  // as shown.
  static void Add(const std::string& area, const std::string& figure, const std::string& value,
                  const std::string& target, Verdict verdict);
  static const char* VerdictText(Verdict v);

  // Numbers as the tables show them.
  static std::string Fixed(double v, int decimals);
  static std::string Rate(double perSecond);  // "1.23 M/s", "812 k/s", "950 /s"
};
