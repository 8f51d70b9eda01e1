// The noise sweep's HTML page opened in headless Chromium: it draws, its verdict and
// failing band are the sweep's, each chart shades the failing points, and the map has a
// cell per electrode and frequency.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/VantrelRun.h"
#include "common/Chromium.h"
#include "common/SimProcess.h"

namespace {

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The element with this id, from its start to the end of its tag name's element.
std::string Element(const std::string& dom, const std::string& id, const std::string& tag) {
  const size_t at = dom.find("id=\"" + id + "\"");
  if (at == std::string::npos) return "";
  return dom.substr(at, dom.find("</" + tag + ">", at) - at);
}

}  // namespace

TEST(NoiseSweepPage, DrawsTheSweepWithItsFailingBandShaded) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--scpi", "0"}));
  const std::string g = sim.Command("generator");
  ASSERT_NE(g.find("scpi="), std::string::npos) << g;
  const std::string port = std::to_string(std::stoi(g.substr(g.find("scpi=") + 5)));
  ASSERT_TRUE(sim.Ok("noise-band 100000 300000 5"));
  Vantrel vantrel(sim);
  const std::string dir = sim.Dir(), html = dir + "/sweep.html", csv = dir + "/sweep.csv";
  std::ofstream(dir + "/limits.toml") << "[noise]\nstddev_max = 8\n";
  Outcome r = vantrel({"noise-sweep", "--generator", "tcp://127.0.0.1:" + port, "--from", "10000",
                       "--to", "1000000", "--points", "14", "--log", "--settle", "0.15",
                       "--dwell", "0.1", "--limits", dir + "/limits.toml", "--csv", csv, "-o",
                       html, "--results", "none"},
                      120000);
  ASSERT_EQ(r.code, 1) << r.out << r.err;
  std::istringstream rows(Slurp(csv));
  std::string line;
  int failing = 0;
  while (std::getline(rows, line)) failing += line.find(",all,") != std::string::npos && line.find(",fail") != std::string::npos;
  ASSERT_GT(failing, 0);

  const std::string dom = dir + "/dom.html";
  ASSERT_TRUE(Chromium(dir, {"--dump-dom", "file://" + html}, dom)) << Slurp(dir + "/chromium.err");
  const std::string shown = Slurp(dom);
  EXPECT_NE(shown.find("id=\"verdict\" class=\"fail\">FAIL<"), std::string::npos);
  const std::string bands = Element(shown, "failing-bands", "ul");
  EXPECT_EQ(Count(bands, "<li>"), 1) << bands;
  EXPECT_NE(bands.find("kHz to "), std::string::npos) << bands;
  for (const char* chart : {"chart-noise", "chart-p2p", "chart-ghosts"})
    EXPECT_EQ(Count(Element(shown, chart, "svg"), "class=\"band\""), failing) << chart;
  EXPECT_EQ(Count(Element(shown, "electrode-map", "svg"), "<rect"), 60 * 14);
  EXPECT_EQ(Count(Element(shown, "points", "table"), "<tr>"), 1 + 14);

  const std::string png = dir + "/sweep.png";
  ASSERT_TRUE(Chromium(dir, {"--screenshot=" + png, "--window-size=1000,1400", "--hide-scrollbars",
                             "file://" + html},
                       dir + "/shot.out"))
      << Slurp(dir + "/chromium.err");
  QImage shot(QString::fromStdString(png));
  ASSERT_FALSE(shot.isNull());
  long reddish = 0, drawn = 0, all = 0;
  for (int y = 0; y < shot.height(); y += 2)
    for (int x = 0; x < shot.width(); x += 2) {
      const QColor c = shot.pixelColor(x, y);
      ++all;
      drawn += c.rgb() != qRgb(255, 255, 255);
      reddish += c.red() > c.green() + 40 && c.red() > c.blue() + 40;
    }
  EXPECT_GT(drawn, all / 50) << "more than 2 % of the page is drawn on";
  EXPECT_GT(reddish, all / 500) << "the failing band is shaded";
}
