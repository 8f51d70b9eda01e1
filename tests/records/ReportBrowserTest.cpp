// The yield report of real runs, opened in headless Chromium: the page draws (a
// screenshot that is not blank) and the first-pass yield it shows is the one the
// database gives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <QImage>
#include <cstdio>
#include <map>
#include <set>

#include "common/Chromium.h"
#include "common/SimProcess.h"
#include "records/VantrelProcess.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The first-pass yield from the database itself: each unit's first run at a station.
std::string YieldFromDatabase(const std::string& path, long& units, long& passed) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT serial, station, kind, verdict FROM runs WHERE verdict IN "
                     "('pass','fail') ORDER BY started_utc, uuid",
                     -1, &st, nullptr);
  std::set<std::string> seen;
  units = passed = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string key;
    for (int c = 0; c < 3; ++c) key += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c))) + "\n";
    if (!seen.insert(key).second) continue;
    ++units;
    passed += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 3))) == "pass";
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", units ? 100.0 * double(passed) / double(units) : 0);
  return text;
}

}  // namespace

TEST(ReportBrowser, PageDrawsAndShowsTheDatabasesYield) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--rate", "2000"}));
  const std::string dir = sim.Dir(), db = dir + "/results.db", limits = dir + "/limits.toml";
  const std::vector<std::string> env{"HIDPIPE_SIM=" + sim.Socket()};
  VantrelProcess vantrel(dir, "vantrel");
  auto learnt = vantrel({"--usb", "227D:0102", "learn", "m0-raw", "--scans", "20", "-o", limits}, env);
  ASSERT_EQ(learnt.code, 0) << learnt.err;
  auto test = [&](const std::string& serial, const std::string& station, int expected) {
    auto r = vantrel({"--usb", "227D:0102", "test", "--limits", limits, "--scans", "10",
                      "--results", "sqlite:" + db, "--serial", serial, "--station", station},
                     env);
    EXPECT_EQ(r.code, expected) << serial << "\n" << r.out << r.err;
  };
  test("SN1", "ST1", 0);
  test("SN2", "ST2", 0);
  ASSERT_TRUE(sim.Ok("electrode x 5 noisy 80"));
  test("SN3", "ST1", 1);
  test("SN4", "ST2", 1);
  ASSERT_TRUE(sim.Ok("electrode off"));
  test("SN3", "ST1", 0);  // a retest: passes, but not the first time
  test("SN5", "ST1", 0);

  const std::string html = dir + "/report.html";
  auto report = vantrel({"report", "--results", "sqlite:" + db, "-o", html});
  ASSERT_EQ(report.code, 0) << report.err;

  long units = 0, passed = 0;
  const std::string expected = YieldFromDatabase(db, units, passed);
  EXPECT_EQ(units, 5);
  EXPECT_EQ(passed, 3);

  const std::string page = "file://" + html;
  const std::string dom = dir + "/dom.html";
  ASSERT_TRUE(Chromium(dir, {"--dump-dom", page}, dom)) << Read(dir + "/chromium.err");
  const std::string shown = Read(dom);
  const std::string tag = "id=\"first-pass-yield\">";
  const size_t at = shown.find(tag);
  ASSERT_NE(at, std::string::npos) << shown.substr(0, 2000);
  EXPECT_EQ(shown.substr(at + tag.size(), shown.find('<', at) - at - tag.size()), expected);
  // The final yield: SN3 passed its retest, SN4 was never retested: 4 of 5.
  const std::string finalTag = "id=\"final-yield\">";
  const size_t f = shown.find(finalTag);
  ASSERT_NE(f, std::string::npos);
  EXPECT_EQ(shown.substr(f + finalTag.size(), shown.find('<', f) - f - finalTag.size()), "80.0 %");
  EXPECT_NE(shown.find("id=\"retests\">1<"), std::string::npos);

  const std::string png = dir + "/report.png";
  ASSERT_TRUE(Chromium(dir, {"--screenshot=" + png, "--window-size=1000,1400",
                             "--hide-scrollbars", page},
                       dir + "/shot.out"))
      << Read(dir + "/chromium.err");
  QImage shot(QString::fromStdString(png));
  ASSERT_FALSE(shot.isNull());
  std::map<QRgb, long> colours;
  for (int y = 0; y < shot.height(); y += 2)
    for (int x = 0; x < shot.width(); x += 2) ++colours[shot.pixel(x, y) & 0xFFFFFF];
  const long all = long(shot.width() / 2) * (shot.height() / 2);
  const long white = colours[0xFFFFFF];
  EXPECT_GT(colours.size(), 20u) << "text, bars and lines in several colours";
  EXPECT_GT(all - white, all / 50) << "more than 2 % of the page is drawn on";
}
