#include "BenchSummary.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

void BenchSummary::Add(const std::string& area, const std::string& figure, const std::string& value,
                       const std::string& target, Verdict verdict) {
  const char* path = std::getenv("VT_BENCH_SUMMARY");
  if (path == nullptr || *path == '\0') return;
  std::ofstream out(path, std::ios::app);
  out << "| " << area << " | " << figure << " | " << value << " | " << target << " | "
      << VerdictText(verdict) << " |\n";
}

const char* BenchSummary::VerdictText(Verdict v) {
  switch (v) {
    case Verdict::kMet:
      return "met";
    case Verdict::kMissed:
      return "MISSED";
    case Verdict::kInfo:
      break;
  }
  return "-";
}

std::string BenchSummary::Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string BenchSummary::Rate(double perSecond) {
  if (perSecond >= 1e6) return Fixed(perSecond / 1e6, 2) + " M/s";
  if (perSecond >= 1e4) return Fixed(perSecond / 1e3, 0) + " k/s";
  return Fixed(perSecond, 0) + " /s";
}
