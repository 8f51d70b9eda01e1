// The line manager's figures, read from the results database through the schema's views
// and sums: first-pass and final yield with retests by station, operator, shift and day;
// volume and test time; capability of every check and item; control charts of each
// electrode's mean per unit (and each touch figure) with their alarms; the failed values
// behind each electrode's failure count.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/Capability.h"
#include "analysis/ControlChart.h"
#include "records/Connection.h"
#include "records/ReportData.h"

namespace records {

struct LineOptions {
  std::vector<int> shiftStarts;  // minutes after local midnight, ascending; empty: no shifts
  std::optional<double> target;  // yield target, %
  int referenceUnits = 20;       // the chart's reference: the period's first units,
  std::vector<std::string> referenceRuns;  // or these runs (ids: a learning set) when given
  int chartUnits = 1000;         // the newest units charted after the reference
  int failedShown = 20;          // failed values listed per electrode (the newest)
};

// "06:00,14:00,22:00" into minutes; false with why.
bool ParseShifts(const std::string& text, std::vector<int>& minutes, std::string& why);

struct LineData {
  struct Yield {
    std::string key;
    long units = 0, firstPassed = 0, finalPassed = 0, retests = 0;
  };
  Yield all;
  std::vector<Yield> byStation, byOperator, byShift, byDay;
  std::string shiftNote;  // the shifts and the local time zone they are in
  // Units first tested per hour with any: their mean and the busiest hour.
  double unitsPerHour = 0;
  long busiestHourUnits = 0;
  std::string busiestHour;  // "2026-12-01T14" (UTC)
  struct TestTime {
    std::string station;  // "" for all
    long runs = 0;
    double median = 0, p95 = 0;
  };
  std::vector<TestTime> testTimes;  // all first, then by station

  struct CapabilityRow {
    std::string group, item, check;
    analysis::Capability c;
    std::optional<double> low, high;
  };
  std::vector<CapabilityRow> capability;  // worst Cpk first; none last

  struct Point {
    std::string serial, uuid, station, time;
    double value = 0;
  };
  struct Chart {
    std::string kind, group, item, check;  // item "" for a touch figure
    size_t referenceCount = 0;             // the first points are the reference
    double centre = 0, sigma = 0;
    std::vector<Point> points;
    std::vector<analysis::ChartSignal> rules;  // Western Electric, after the reference
    analysis::Cusum cusum;                     // from the first point after the reference
    int alarm = -1;                            // its alarm's index
    std::string Name() const;
  };
  std::vector<Chart> charts;
  struct Alarm {
    int chart = 0;
    size_t point = 0;  // where the first rule or the CUSUM fired
    int rule = 0;
    bool high = true;
  };
  std::vector<Alarm> alarms;  // by the time they began

  struct Failed {
    std::string group, item, check, value, limit, serial, uuid, time, station;
  };
  std::vector<Failed> failed;  // by group, item, time
};

bool LoadLineData(Connection& db, const ReportFilter& filter, const LineOptions& options,
                  LineData& out, std::string& error);

// The yield as "95.2 %"; "-" for no units.
std::string YieldText(long passed, long units);

}  // namespace records
