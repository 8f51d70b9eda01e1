// What the command-line program writes: statistics tables (text, CSV, JSON), the checks
// of a self test (text, CSV, JUnit XML) and captured scans (CSV).
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "analysis/ElectrodeStats.h"
#include "analysis/LimitsCheck.h"

// CSV: one header line, CR LF line ends.
void WriteScanHeader(std::ostream& out, const analysis::ScanLayout& layout);
void WriteScanRow(std::ostream& out, long scan, std::span<const int32_t> values);

void WriteStatsTable(std::ostream& out, const analysis::ElectrodeStats& stats);
void WriteStatsCsv(std::ostream& out, const analysis::ElectrodeStats& stats);
nlohmann::json StatsJson(const analysis::ElectrodeStats& stats);

// Failing checks marked; `errors` are groups that could not be measured.
void WriteChecksTable(std::ostream& out, const std::vector<analysis::CheckResult>& checks,
                      const std::map<std::string, std::string>& errors);
void WriteChecksCsv(std::ostream& out, const std::vector<analysis::CheckResult>& checks);
// One test suite per group, one test case per check; a group that could not be measured
// is one test case with an error.
bool WriteJUnit(const std::string& path, const std::vector<analysis::CheckResult>& checks,
                const std::map<std::string, std::string>& errors, double seconds,
                std::string& error);

// Writes a file whole through a temporary file in the same folder, so that a failed run
// never leaves half a file. False with the reason in error.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error);
