// What the yield report shows, read from the results database: first-pass yield per
// station and day, failing checks, failures per electrode, each electrode's daily mean.
#pragma once

#include <string>
#include <vector>

#include "records/Connection.h"

namespace records {

// The figure whose daily mean per electrode is kept and drawn.
inline constexpr const char* kDriftFigure = "mean";

struct ReportFilter {
  std::string since;    // "YYYY-MM-DD" (UTC), "" for all
  std::string station;  // "" for every station
};

struct ReportData {
  struct FirstPass {  // units first tested at a station on a day
    std::string station, kind, day;
    long units = 0, passed = 0;
  };
  struct Failures {  // a check (group and figure) or an electrode (group and item)
    std::string group, name;
    long failures = 0;  // failed values
    long units = 0;     // units with at least one
  };
  struct DailyMean {
    std::string group, item, day;
    double mean = 0;
  };
  ReportFilter filter;
  std::string generatedUtc;
  long runs = 0, units = 0;  // a run without serial is a unit of its own
  long runsWithoutSerial = 0;
  std::vector<FirstPass> firstPass;
  std::vector<Failures> byCheck;  // most failures first
  std::vector<Failures> byItem;
  std::vector<DailyMean> means;   // by group, item, day

  long FirstPassUnits() const;
  long FirstPassPassed() const;
};

// Reads the report's figures. False with error.
bool LoadReportData(Connection& db, const ReportFilter& filter, ReportData& out,
                    std::string& error);

// "2026-12-01": a date of the calendar, as --since takes it.
bool IsDate(const std::string& text);

}  // namespace records
