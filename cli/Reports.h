// What the command-line program writes: statistics tables (text, CSV, JSON), the checks
// of a test run (text, CSV, JUnit XML, JSON) and captured scans (CSV).
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "analysis/ElectrodeStats.h"
#include "analysis/TestRun.h"
#include "records/Printable.h"

// CSV: one header line, CR LF line ends.
void WriteScanHeader(std::ostream& out, const analysis::ScanLayout& layout);
void WriteScanRow(std::ostream& out, long scan, std::span<const int32_t> values);

void WriteStatsTable(std::ostream& out, const analysis::ElectrodeStats& stats);
void WriteStatsCsv(std::ostream& out, const analysis::ElectrodeStats& stats);
nlohmann::json StatsJson(const analysis::ElectrodeStats& stats);

// The checks of a test run. The table: failing checks marked, groups that could not be
// measured named. CSV: the run's properties as "# name,value" lines, then one row per
// check (and per group not measured). JUnit: one test suite per group, one test case per
// check (or per item, holding its checks, for a run that asks for it); a group not measured
// is one test case with an error (or skipped). JSON: all of it, with the measured values
// and limits as numbers.
void WriteChecksTable(std::ostream& out, const analysis::TestRun& run);
void WriteChecksCsv(std::ostream& out, const analysis::TestRun& run);
std::string JUnitXml(const analysis::TestRun& run);
nlohmann::json ReportJson(const analysis::TestRun& run);
// The reports asked for (a path "" is none), each said when it cannot be written; why the
// last one failed, "" when all were written.
std::string WriteRunReports(const analysis::TestRun& run, const std::string& junit,
                            const std::string& csv, const std::string& json);

// Text from a controller or a file as reports can carry it (records::Printable).
using records::Printable;

// Writes a file whole through a temporary file in the same folder (savefile::AtomicFile),
// so that a failed run never leaves half a file. False with the reason in error.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error);
