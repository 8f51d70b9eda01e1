// The line manager's figures from a database of known runs, each against an independent
// computation over the runs themselves: final yield and retests, operators and shifts
// across midnight, test time percentiles, capability (also as the check_capability view
// gives it, and after an upgrade from a database without the sums), a drift alarm that
// names the electrode, and the page's links from figures to units.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <regex>

#include "control/TempDir.h"
#include "records/LineData.h"
#include "records/LineReport.h"
#include "records/RecordsTestData.h"
#include "records/ResultsStore.h"

using records::LineData;

namespace {

class Line : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    url.path = dir.Path() + "/results.db";
    std::string error;
    store = records::ResultsStore::Open(url, error);
    ASSERT_TRUE(store) << error;
  }
  void Save(records::RunRecord r, const std::string& op, double seconds) {
    r.operatorName = op;
    r.durationS = seconds;
    runs.push_back(r);
    ASSERT_EQ(store->Save(r), records::ResultsStore::Saved::kStored) << store->Error();
  }
  // Four units at one station: SN1 passes, SN2 fails then passes, SN3 fails twice, SN4
  // passes; the night shift's runs cross midnight.
  void SaveYieldRuns() {
    Save(MadeUpRun("SN1", "ST1", "2026-12-01T07:00:00.000Z"), "ann", 1.0);
    Save(MadeUpRun("SN2", "ST1", "2026-12-01T23:30:00.000Z", 5), "bob", 2.0);
    Save(MadeUpRun("SN2", "ST1", "2026-12-02T01:00:00.000Z"), "bob", 3.0);
    Save(MadeUpRun("SN3", "ST1", "2026-12-02T15:00:00.000Z", 5), "ann", 10.0);
    Save(MadeUpRun("SN3", "ST1", "2026-12-02T16:00:00.000Z", 7), "ann", 4.0);
    Save(MadeUpRun("SN4", "ST1", "2026-12-02T22:10:00.000Z"), "bob", 5.0);
  }
  LineData Load(const records::LineOptions& o = {}) {
    LineData d;
    std::string error;
    EXPECT_TRUE(records::LoadLineData(store->Db(), {"", ""}, o, d, error)) << error;
    return d;
  }
  const LineData::Yield* Find(const std::vector<LineData::Yield>& rows, const std::string& key) {
    for (const auto& y : rows)
      if (y.key == key) return &y;
    return nullptr;
  }
  TempDir dir;
  records::ResultsUrl url;
  std::unique_ptr<records::ResultsStore> store;
  std::vector<records::RunRecord> runs;
};

}  // namespace

TEST_F(Line, YieldAfterRetestsByOperatorAndShift) {
  SaveYieldRuns();
  records::LineOptions o;
  std::string why;
  ASSERT_TRUE(records::ParseShifts("22:00,06:00,14:00", o.shiftStarts, why)) << why;
  EXPECT_FALSE(records::ParseShifts("6:00,25:00", o.shiftStarts, why));
  ASSERT_TRUE(records::ParseShifts("06:00,14:00,22:00", o.shiftStarts, why));
  const LineData d = Load(o);
  EXPECT_EQ(d.all.units, 4);
  EXPECT_EQ(d.all.firstPassed, 2);
  EXPECT_EQ(d.all.finalPassed, 3);
  EXPECT_EQ(d.all.retests, 2);
  const auto* bob = Find(d.byOperator, "bob");  // the operator of the unit's first test
  ASSERT_TRUE(bob);
  EXPECT_EQ(bob->units, 2);
  EXPECT_EQ(bob->firstPassed, 1);
  EXPECT_EQ(bob->finalPassed, 2);
  const auto* night = Find(d.byShift, "22:00–06:00");
  ASSERT_TRUE(night);
  EXPECT_EQ(night->units, 2) << "SN2 at 23:30 and SN4 at 22:10";
  const auto* late = Find(d.byShift, "14:00–22:00");
  ASSERT_TRUE(late);
  EXPECT_EQ(late->units, 1);
  EXPECT_EQ(late->finalPassed, 0);
  EXPECT_NE(d.shiftNote.find("UTC"), std::string::npos);
  // Test time over all six runs, nearest rank: 1 2 3 4 5 10.
  std::vector<double> t;
  for (const auto& r : runs) t.push_back(r.durationS);
  std::sort(t.begin(), t.end());
  ASSERT_FALSE(d.testTimes.empty());
  EXPECT_EQ(d.testTimes[0].runs, 6);
  EXPECT_DOUBLE_EQ(d.testTimes[0].median, t[size_t(std::ceil(0.5 * 6)) - 1]);
  EXPECT_DOUBLE_EQ(d.testTimes[0].p95, t[size_t(std::ceil(0.95 * 6)) - 1]);
  EXPECT_EQ(d.byDay.size(), 2u);
}

TEST_F(Line, CapabilityMatchesTheValuesTheViewAndAnUpgradedDatabase) {
  SaveYieldRuns();
  // X5's m0-raw mean over the six runs, computed here.
  double sum = 0, sq = 0;
  for (const auto& r : runs)
    for (const auto& m : r.checks)
      if (m.group == "m0-raw" && m.item == "X5" && m.check == "mean") sum += *m.value;
  const double mean = sum / 6;
  for (const auto& r : runs)
    for (const auto& m : r.checks)
      if (m.group == "m0-raw" && m.item == "X5" && m.check == "mean")
        sq += (*m.value - mean) * (*m.value - mean);
  const double sd = std::sqrt(sq / 5);
  const double cpk = std::min(1100 - mean, mean - 900) / (3 * sd);
  auto check = [&](const LineData& d) {
    const LineData::CapabilityRow* row = nullptr;
    for (const auto& c : d.capability)
      if (c.group == "m0-raw" && c.item == "X5" && c.check == "mean") row = &c;
    ASSERT_TRUE(row);
    EXPECT_EQ(row->c.n, 6);
    EXPECT_NEAR(row->c.mean, mean, 1e-9);
    EXPECT_NEAR(row->c.sd, sd, 1e-6);
    EXPECT_NEAR(*row->c.cpk, cpk, 1e-6);
    EXPECT_NEAR(*row->c.cp, 200 / (6 * sd), 1e-6);
    // The worst first: X5's means (700 on two failing runs) are the least capable.
    EXPECT_EQ(d.capability.front().item, "X5");
  };
  check(Load());
  std::vector<records::SqlRow> view;
  ASSERT_TRUE(store->Db().Exec(
      "SELECT n, mean, sd, cp, cpk FROM check_capability WHERE grp = 'm0-raw' AND item = 'X5'"
      " AND check_name = 'mean'",
      {}, &view))
      << store->Db().Error();
  ASSERT_EQ(view.size(), 1u);
  EXPECT_EQ(records::AsInt(view[0][0]), 6);
  EXPECT_NEAR(records::AsDouble(view[0][2]), sd, 1e-6);
  EXPECT_NEAR(records::AsDouble(view[0][4]), cpk, 1e-6);

  // A database from before the sums: upgraded, its runs summed.
  ASSERT_TRUE(store->Db().Exec("DROP VIEW check_capability"));
  ASSERT_TRUE(store->Db().Exec("DROP VIEW unit_first_pass"));
  ASSERT_TRUE(store->Db().Exec("DROP VIEW unit_attempts"));
  ASSERT_TRUE(store->Db().Exec("DROP TABLE capability_sums"));
  for (const char* table :
       {"unit_results", "daily_runs", "unit_stations", "unit_hours", "failed_values"})
    ASSERT_TRUE(store->Db().Exec(std::string("DROP TABLE ") + table));
  ASSERT_TRUE(store->Db().Exec("UPDATE schema_version SET version = 3"));
  store.reset();
  std::string error;
  store = records::ResultsStore::Open(url, error);
  ASSERT_TRUE(store) << error;
  check(Load());
}

TEST_F(Line, DriftOfOneElectrodeRaisesOneAlarmThatLinksToItsUnits) {
  // m0-raw Y2's mean wanders around 1000 (sigma about 1); from unit 31 on it is 1 sigma up.
  const double noise[] = {0.3,  -1.2, 0.8,  1.5, -0.4, -0.9, 0.1, 1.1,  -1.6, 0.6,
                          -0.2, 0.9,  -1.1, 0.4, 1.3,  -0.7, 0.2, -1.4, 0.7,  -0.1};
  for (int i = 0; i < 50; ++i) {
    char when[40];
    std::snprintf(when, sizeof when, "2026-12-03T%02d:%02d:00.000Z", 8 + i / 60, i % 60);
    auto r = MadeUpRun("SN" + std::to_string(100 + i), "ST1", when, i == 45 ? 5 : -1);
    for (auto& m : r.checks)
      if (m.group == "m0-raw" && m.item == "Y2" && m.check == "mean")
        m.value = 1000 + noise[i % 20] + (i >= 30 ? 1.0 : 0.0);
    Save(r, "ann", 2);
  }
  const LineData d = Load();
  // Y2's drift, and X5's failing unit (700 counts: far beyond 3 sigma), in time order.
  ASSERT_EQ(d.alarms.size(), 2u);
  EXPECT_EQ(d.charts[size_t(d.alarms[1].chart)].Name(), "m0-raw X5 mean");
  EXPECT_EQ(d.alarms[1].point, 45u);
  const auto& a = d.alarms[0];
  const auto& chart = d.charts[size_t(a.chart)];
  EXPECT_EQ(chart.Name(), "m0-raw Y2 mean");
  EXPECT_GE(a.point, 30u);
  EXPECT_LT(a.point, 40u) << "found within 10 units of the shift";
  EXPECT_EQ(chart.referenceCount, 20u);

  const std::string html = records::LineReport::Render(records::ReportData{}, d, {});
  EXPECT_LT(html.find("id=\"alarms\""), html.find("id=\"yield\"")) << "alarms at the top";
  EXPECT_NE(html.find("href=\"#alarm-0\""), std::string::npos);
  const size_t target = html.find("id=\"alarm-0\"");
  ASSERT_NE(target, std::string::npos);
  EXPECT_NE(html.find(chart.points[a.point].uuid, target), std::string::npos)
      << "the alarm's units and runs follow its chart";
  // The failed electrode links to its units.
  records::ReportData data;
  std::string error;
  ASSERT_TRUE(records::LoadReportData(store->Db(), {"", ""}, data, error)) << error;
  const std::string page = records::LineReport::Render(data, d, {});
  EXPECT_NE(page.find("href=\"#failed-m0-raw-X5\""), std::string::npos);
  const size_t failed = page.find("id=\"failed-m0-raw-X5\"");
  ASSERT_NE(failed, std::string::npos);
  EXPECT_NE(page.find("SN145", failed), std::string::npos);
  EXPECT_NE(page.find(runs[45].uuid, failed), std::string::npos);
}

TEST_F(Line, ALearningSetIsTheReferenceOfItsKindOnly) {
  // Units 10..19 are the learning set; the period's first units and the touch tests are not.
  for (int i = 0; i < 30; ++i) {
    char when[40];
    std::snprintf(when, sizeof when, "2026-12-04T08:%02d:00.000Z", i);
    auto r = MadeUpRun("SN" + std::to_string(300 + i), "ST1", when);
    for (auto& m : r.checks)
      if (m.group == "m0-raw" && m.item == "Y2" && m.check == "mean") m.value = 990 + i;
    Save(r, "ann", 2);
  }
  for (int i = 0; i < 5; ++i) {
    char when[40];
    std::snprintf(when, sizeof when, "2026-12-04T09:%02d:00.000Z", i);
    auto r = MadeUpRun("SN" + std::to_string(400 + i), "ST1", when);
    r.kind = "touch";
    Save(r, "ann", 2);
  }
  records::LineOptions o;
  o.referenceUnits = 3;
  for (int i = 10; i < 20; ++i) o.referenceRuns.push_back(runs[size_t(i)].uuid);
  const LineData d = Load(o);
  const LineData::Chart* y2 = nullptr;
  const LineData::Chart* touch = nullptr;
  for (const auto& c : d.charts) {
    if (c.Name() == "m0-raw Y2 mean") y2 = &c;
    if (c.kind == "touch") touch = &c;
  }
  ASSERT_TRUE(y2);
  EXPECT_EQ(y2->referenceCount, 10u);
  EXPECT_EQ(y2->points.front().uuid, runs[10].uuid);
  EXPECT_DOUBLE_EQ(y2->centre, 1004.5) << "the mean of 1000..1009";
  ASSERT_TRUE(touch) << "the touch tests keep the period's first units";
  EXPECT_EQ(touch->referenceCount, 3u);
  const std::string html = records::LineReport::Render(records::ReportData{}, d, o);
  EXPECT_NE(html.find("the 10 runs the limits were learnt from"), std::string::npos);
}
