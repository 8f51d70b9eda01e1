// The yield report's figures from a database of known runs: first-pass yield counts a
// unit's first test at a station only (retests never, also when the first was before
// --since), failing checks and electrodes, daily means; the page holds them and nothing
// from outside.
#include <gtest/gtest.h>

#include <regex>

#include "control/TempDir.h"
#include "records/HtmlReport.h"
#include "records/RecordsTestData.h"
#include "records/ReportData.h"
#include "records/ResultsStore.h"

using records::ReportData;

namespace {

class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    records::ResultsUrl u;
    u.path = dir.Path() + "/results.db";
    std::string error;
    store = records::ResultsStore::Open(u, error);
    ASSERT_TRUE(store) << error;
    const std::string d1 = "2026-12-01T08:00:00.000Z", d2 = "2026-12-02T08:00:00.000Z";
    Save(MadeUpRun("SN1", "ST1", d1));
    Save(MadeUpRun("SN2", "ST1", d1, 5));
    Save(MadeUpRun("SN2", "ST1", "2026-12-01T09:00:00.000Z"));  // retest: passes
    Save(MadeUpRun("SN1", "ST1", d2));                           // retest on the next day
    Save(MadeUpRun("SN3", "ST1", d2));
    Save(MadeUpRun("SN4", "<b>ST2</b>", d2, 5));
    Save(MadeUpRun("SN5", "<b>ST2</b>", d2, -1, 30));  // means 30 counts higher
  }
  void Save(const records::RunRecord& r) {
    ASSERT_EQ(store->Save(r), records::ResultsStore::Saved::kStored) << store->Error();
  }
  ReportData Load(const std::string& since, const std::string& station) {
    ReportData d;
    std::string error;
    EXPECT_TRUE(records::LoadReportData(store->Db(), {since, station}, d, error)) << error;
    return d;
  }
  TempDir dir;
  std::unique_ptr<records::ResultsStore> store;
};

}  // namespace

TEST_F(Report, FiguresCountFirstTestsFailuresAndMeans) {
  const ReportData d = Load("", "");
  EXPECT_EQ(d.runs, 7);
  EXPECT_EQ(d.units, 5);
  EXPECT_EQ(d.FirstPassUnits(), 5);
  EXPECT_EQ(d.FirstPassPassed(), 3);  // SN1, SN3, SN5; SN2 and SN4 failed first
  long day1Units = 0, day1Passed = 0;
  for (const auto& f : d.firstPass)
    if (f.day == "2026-12-01") day1Units += f.units, day1Passed += f.passed;
  EXPECT_EQ(day1Units, 2);
  EXPECT_EQ(day1Passed, 1);

  ASSERT_EQ(d.byCheck.size(), 2u);  // m0-raw mean and p2p, 2 failures each, 2 units
  for (const auto& f : d.byCheck) {
    EXPECT_EQ(f.group, "m0-raw");
    EXPECT_EQ(f.failures, 2);
    EXPECT_EQ(f.units, 2);
  }
  ASSERT_EQ(d.byItem.size(), 1u);
  EXPECT_EQ(d.byItem[0].name, "X5");
  EXPECT_EQ(d.byItem[0].failures, 4);
  EXPECT_EQ(d.byItem[0].units, 2);

  // X0's daily mean: 1000 on day 1 (three runs); day 2: 1000, 1000, 1000, 1030
  std::map<std::string, double> x0;
  for (const auto& m : d.means)
    if (m.group == "m0-raw" && m.item == "X0") x0[m.day] = m.mean;
  ASSERT_EQ(x0.size(), 2u);
  EXPECT_DOUBLE_EQ(x0["2026-12-01"], 1000);
  EXPECT_DOUBLE_EQ(x0["2026-12-02"], 1007.5);
}

TEST_F(Report, SinceAndStationLeaveOutOtherRunsButNotTheHistory) {
  const ReportData since = Load("2026-12-02", "");
  EXPECT_EQ(since.runs, 4);
  EXPECT_EQ(since.FirstPassUnits(), 3);  // SN1's retest on day 2 is no first test
  EXPECT_EQ(since.FirstPassPassed(), 2);
  const ReportData station = Load("", "<b>ST2</b>");
  EXPECT_EQ(station.FirstPassUnits(), 2);
  EXPECT_EQ(station.FirstPassPassed(), 1);
  ASSERT_EQ(station.byItem.size(), 1u);
  EXPECT_EQ(station.byItem[0].units, 1);
  EXPECT_TRUE(records::IsDate("2026-02-28"));
  EXPECT_FALSE(records::IsDate("2026-02-30"));
  EXPECT_FALSE(records::IsDate("26-12-01"));
  EXPECT_FALSE(records::IsDate("2026-12-01x"));
}

TEST_F(Report, PageShowsTheFiguresAndFetchesNothing) {
  const std::string html = records::HtmlReport::Render(Load("", ""));
  EXPECT_NE(html.find("id=\"first-pass-yield\">60.0 %<"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("<b>ST2"), std::string::npos) << "station names are escaped";
  EXPECT_NE(html.find("&lt;b&gt;ST2&lt;/b&gt;"), std::string::npos);
  // Only the SVG namespace names a web address; nothing is loaded.
  const std::regex address("(https?:|//[a-z])");
  std::string rest = html;
  for (size_t at; (at = rest.find("http://www.w3.org/2000/svg")) != std::string::npos;)
    rest.erase(at, 26);
  EXPECT_FALSE(std::regex_search(rest, address));
  EXPECT_NE(html.find("<svg"), std::string::npos);
  EXPECT_EQ(records::HtmlReport::Percent(0, 0), "-");
}

TEST_F(Report, RunsWithoutSerialAreEachAUnitOfTheirOwn) {
  Save(MadeUpRun("", "ST9", "2026-12-03T08:00:00.000Z"));
  Save(MadeUpRun("", "ST9", "2026-12-03T08:01:00.000Z", 5));
  Save(MadeUpRun("", "ST9", "2026-12-03T08:02:00.000Z"));
  const ReportData d = Load("2026-12-03", "ST9");
  EXPECT_EQ(d.runs, 3);
  EXPECT_EQ(d.units, 3);
  EXPECT_EQ(d.runsWithoutSerial, 3);
  EXPECT_EQ(d.FirstPassUnits(), 3);
  EXPECT_EQ(d.FirstPassPassed(), 2);
  ASSERT_EQ(d.byItem.size(), 1u);
  EXPECT_EQ(d.byItem[0].units, 1);
  const std::string html = records::HtmlReport::Render(d);
  EXPECT_NE(html.find("id=\"first-pass-yield\">66.7 %<"), std::string::npos);
  EXPECT_NE(html.find("id=\"runs-without-serial\">3<"), std::string::npos);
}

TEST_F(Report, OddItemsDatesAndVersionRowsAreSaidNeverThrown) {
  records::RunRecord r = MadeUpRun("SN9", "ST1", "2026-12-03T08:00:00.000Z");
  r.checks.push_back({"m0-raw", "X99999999999", "mean", 1, "", "counts", 900, 1100, "", false});
  Save(r);
  EXPECT_NO_THROW(records::HtmlReport::Render(Load("", "")));
  EXPECT_FALSE(records::IsDate("2026-02-29"));
  EXPECT_TRUE(records::IsDate("2028-02-29"));
  EXPECT_FALSE(records::IsDate("2100-02-29"));
  EXPECT_TRUE(records::IsDate("2000-02-29"));

  // A version row deleted by hand: said, not taken for a fresh database.
  ASSERT_TRUE(store->Db().Exec("DELETE FROM schema_version"));
  store.reset();
  records::ResultsUrl u;
  u.path = dir.Path() + "/results.db";
  std::string error;
  EXPECT_FALSE(records::ResultsStore::Open(u, error));
  EXPECT_NE(error.find("no schema version"), std::string::npos) << error;
  EXPECT_FALSE(records::ResultsStore::OpenToRead(u, error));
  EXPECT_NE(error.find("no schema version"), std::string::npos) << error;
}
