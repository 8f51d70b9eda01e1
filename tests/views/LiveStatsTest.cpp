// Live statistics of the data views: scans kept over a window, their figures from the
// statistics core, the baseline file, and the whiskers and mean ticks over the wave bars.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <fstream>
#include <vector>

#include "views/CLiveStats.h"
#include "views/CWaveGraph.h"

namespace {

// One data report of a stream: group 0x4B, code, start index, direction 1 = X, 0 = Y.
DataRecord Report(uint8_t code, int start, uint8_t direction, const std::vector<int32_t>& v) {
  DataRecord r;
  r.kind = 2;
  r.group = 0x4B;
  r.code = code;
  r.startX = direction == 1 ? static_cast<uint8_t>(start) : 0;
  r.startY = direction == 0 ? static_cast<uint8_t>(start) : 0;
  r.direction = direction;
  r.count = static_cast<uint8_t>(v.size());
  r.values = v.data();
  return r;
}

// A whole M0 raw scan (code 0x00, both axes) of a 4 x 3 panel.
bool AddScan(CLiveStats& s, const std::vector<int32_t>& x, const std::vector<int32_t>& y) {
  s.Add(Report(0x00, 0, 1, x));
  return s.Add(Report(0x00, 0, 0, y));
}

}  // namespace

TEST(LiveStats, FiguresOverTheLastScansOnly) {
  CLiveStats s;
  s.SetCounts(4, 3);
  s.SetWindow(3);
  EXPECT_TRUE(s.Summaries().empty());
  const int32_t seq[] = {1000, 1010, 990, 1030, 1020};
  for (int32_t v : seq) ASSERT_TRUE(AddScan(s, {v, 1000, 1000, 1000}, {1000, 1000, v}));
  EXPECT_EQ(s.TotalScans(), 5u);
  EXPECT_EQ(s.Held(), 3);
  // X0 and Y2 over the last three scans: 990, 1030, 1020.
  for (int e : {0, 6}) {
    const analysis::ElectrodeSummary& f = s.Summaries()[static_cast<size_t>(e)];
    EXPECT_EQ(f.min, 990);
    EXPECT_EQ(f.max, 1030);
    EXPECT_EQ(f.p2p, 40);
    EXPECT_NEAR(f.mean, 1013.333, 0.001);
  }
  EXPECT_EQ(s.Summaries()[1].p2p, 0);
  const std::vector<int> worst = s.Worst(2);
  EXPECT_EQ(worst, (std::vector<int>{0, 6}));

  // A smaller window keeps the newest: 1030, 1020.
  s.SetWindow(2);
  EXPECT_EQ(s.Summaries()[0].min, 1020);
  EXPECT_EQ(s.Summaries()[0].max, 1030);
  // A larger one keeps them and fills up.
  s.SetWindow(10);
  ASSERT_TRUE(AddScan(s, {900, 1000, 1000, 1000}, {1000, 1000, 1000}));
  EXPECT_EQ(s.Held(), 3);
  EXPECT_EQ(s.Summaries()[0].min, 900);
  EXPECT_EQ(s.Summaries()[0].max, 1030);

  s.Reset();
  EXPECT_EQ(s.Held(), 0);
  EXPECT_TRUE(s.Summaries().empty());
}

TEST(LiveStats, StreamChangeAndBrokenScansAreNotMixed) {
  CLiveStats s;
  s.SetCounts(4, 3);
  ASSERT_TRUE(AddScan(s, {1000, 1000, 1000, 1000}, {1000, 1000, 1000}));
  // An X-only stream (M1 raw, code 0x08) starts over with its own layout.
  EXPECT_TRUE(s.Add(Report(0x08, 0, 1, {1100, 1100, 1100, 1100})));
  EXPECT_EQ(s.Layout().xCount, 4);
  EXPECT_EQ(s.Layout().yCount, 0);
  EXPECT_EQ(s.Held(), 1);
  EXPECT_EQ(s.Summaries()[0].min, 1100);
  EXPECT_EQ(CLiveStats::StreamLabel(0x00), "M0 raw data");
  // Not a data report: ignored.
  DataRecord reply;
  reply.group = 0x4E;
  EXPECT_FALSE(s.Add(reply));
  EXPECT_EQ(s.TotalScans(), 1u);
}

TEST(LiveStats, BaselineRoundTripThroughTheLimitsFormat) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("base.toml").toStdString();
  CLiveStats s;
  s.SetCounts(4, 3);
  std::string err;
  EXPECT_FALSE(s.TakeBaseline());
  EXPECT_FALSE(s.SaveBaseline(path, err));
  ASSERT_TRUE(AddScan(s, {1000, 1100, 900, 1001}, {1000, 1000, 1255}));
  ASSERT_TRUE(AddScan(s, {1000, 1100, 900, 1002}, {1000, 1000, 1255}));
  ASSERT_TRUE(s.TakeBaseline());
  ASSERT_TRUE(s.SaveBaseline(path, err)) << err;

  CLiveStats t;
  t.SetCounts(4, 3);
  ASSERT_TRUE(AddScan(t, {1, 1, 1, 1}, {1, 1, 1}));
  ASSERT_TRUE(t.LoadBaseline(path, err)) << err;
  ASSERT_EQ(t.Baseline().size(), 7u);
  EXPECT_DOUBLE_EQ(t.Baseline()[1], 1100);
  EXPECT_DOUBLE_EQ(t.Baseline()[2], 900);
  EXPECT_DOUBLE_EQ(t.Baseline()[3], 1001.5);
  EXPECT_DOUBLE_EQ(t.Baseline()[6], 1255);

  // Another panel's baseline is refused, the one held stays.
  CLiveStats u;
  u.SetCounts(5, 3);
  ASSERT_TRUE(AddScan(u, {1, 1, 1, 1, 1}, {1, 1, 1}));
  EXPECT_FALSE(u.LoadBaseline(path, err));
  EXPECT_FALSE(u.HasBaseline());
  std::ofstream(path) << "[streams.m0-raw]\nlimits = [ { electrodes = \"all\", p2p_max = 3 } ]\n";
  EXPECT_FALSE(t.LoadBaseline(path, err));
  EXPECT_NE(err.find("no mean"), std::string::npos) << err;
  EXPECT_DOUBLE_EQ(t.Baseline()[1], 1100);
}

TEST(LiveStats, MarksBrokenAndOutOfLimitsElectrodesBeforeTheNoisiest) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("limits.toml").toStdString();
  CLiveStats s;
  s.SetCounts(4, 3);
  // X0 open, X1 still at 1100, X2 moves by 2, Y0 by 5, the rest still at 1000.
  for (int k = 0; k < 4; ++k) {
    const int32_t d = k % 2 ? 1 : -1;
    ASSERT_TRUE(AddScan(s, {0, 1100, 1000 + 2 * d, 1000}, {1000 + 5 * d, 1000, 1000}));
  }
  using Marks = std::vector<std::pair<int, std::string>>;
  // A noisy electrode's rule names its figures: "noisy" here.
  const auto marks = [&s](int) {
    Marks out;
    for (const CLiveStats::Mark& m : s.Marked())
      out.emplace_back(m.electrode, m.rule.substr(0, m.rule.find(": std")));
    return out;
  };
  // Electrodes that never moved are not noisy.
  EXPECT_EQ(marks(5), (Marks{{0, "open"}, {4, "noisy"}, {2, "noisy"}}));

  std::string err;
  std::ofstream(path) << "[streams.m0-raw]\nlimits = [\n"
                         "  { electrodes = \"all\", mean_min = 950, mean_max = 1050 },\n"
                         "  { electrodes = \"X2\", stddev_max = 1, p2p_max = 3 },\n]\n";
  ASSERT_TRUE(s.LoadLimits(path, err)) << err;
  const Marks withLimits{
      {0, "open"}, {1, "limits: mean"}, {2, "limits: p2p, stddev"}, {4, "noisy"}};
  EXPECT_EQ(marks(5), withLimits);

  // Files that cannot be used say why; the limits held stay.
  const std::string bad = dir.filePath("bad.toml").toStdString();
  std::ofstream(bad) << "[streams.m0-raw]\nlimits = [ { electrodes = \"all\", mean_mn = 1 } ]\n";
  EXPECT_FALSE(s.LoadLimits(bad, err));
  EXPECT_NE(err.find("mean_mn"), std::string::npos) << err;
  std::ofstream(bad) << "[panel]\nx_count = 38\ny_count = 22\n"
                        "[streams.m0-raw]\nlimits = [ { electrodes = \"all\", p2p_max = 3 } ]\n";
  EXPECT_FALSE(s.LoadLimits(bad, err));
  EXPECT_NE(err.find("38 x 22"), std::string::npos) << err;
  EXPECT_EQ(s.LimitsPath(), path);
  EXPECT_EQ(marks(5), withLimits);

  // Electrodes the panel does not use are never marked; another stream has no limits here.
  std::ofstream(path)
      << "[panel]\nunused = [\"X0\"]\n"
         "[streams.m0-raw]\nlimits = [ { electrodes = \"all\", mean_max = 1050 } ]\n";
  ASSERT_TRUE(s.LoadLimits(path, err)) << err;
  EXPECT_EQ(marks(5), (Marks{{1, "limits: mean"}, {4, "noisy"}, {2, "noisy"}}));
  EXPECT_TRUE(s.LimitsNameStream());
  s.Add(Report(0x08, 0, 1, {1100, 1100, 1100, 1100}));
  EXPECT_FALSE(s.LimitsNameStream());
  EXPECT_EQ(marks(5), Marks{});
}

// Only an electrode that stands out of the panel's own noise is noisy: a panel whose
// electrodes all move alike has none, however many are asked for.
TEST(LiveStats, NoisyOnlyAgainstThePanelsOwnSpread) {
  CLiveStats s;
  s.SetCounts(6, 2);
  for (int k = 0; k < 20; ++k) {
    const int32_t d = (k % 4) - 2;  // -2 ... 1: std about 1.1, p2p 3 everywhere
    std::vector<int32_t> x(6, 1000 + d), y(2, 1000 - d);
    x[4] += k % 3 == 0 ? 1 : 0;  // a little more, still like the rest
    ASSERT_TRUE(AddScan(s, x, y));
  }
  EXPECT_TRUE(s.Marked().empty());
  for (int k = 0; k < 20; ++k) {
    std::vector<int32_t> x(6, 1000 + (k % 4) - 2), y(2, 1000);
    x[1] = k % 2 ? 1030 : 970;
    ASSERT_TRUE(AddScan(s, x, y));
  }
  const std::vector<CLiveStats::Mark> m = s.Marked();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].electrode, 1);
  EXPECT_EQ(m[0].rule.rfind("noisy: std ", 0), 0u) << m[0].rule;
  EXPECT_NE(m[0].rule.find(" > 3 x median "), std::string::npos) << m[0].rule;
}

// The saved table carries each electrode's flag, the stream, the scans and the limits file.
TEST(LiveStats, SummaryCsvHasOneLinePerElectrodeWithItsVerdict) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("lim,its.toml").toStdString();
  std::ofstream(path)
      << "[streams.m0-raw]\nlimits = [ { electrodes = \"X1\", mean_max = 1002 } ]\n";
  CLiveStats s;
  s.SetCounts(2, 1);
  std::string err;
  ASSERT_TRUE(s.LoadLimits(path, err)) << err;
  s.Add(Report(0x00, 0, 1, {1000, 1004}));
  ASSERT_TRUE(s.Add(Report(0x00, 0, 0, {998})));
  const std::string tail = ",M0 raw data,1,\"" + path + "\"\n";
  EXPECT_EQ(s.SummaryCsv(),
            "electrode,min,max,mean,stddev,p2p,flag,stream,scans,limits\n"
            "X0,1000,1000,1000.00,0.000,0," +
                tail + "X1,1004,1004,1004.00,0.000,0,limits: mean" + tail +
                "Y0,998,998,998.00,0.000,0," + tail);
}

// Whiskers and mean ticks on a 10-electrode graph in a 260 x 200 frame: bars 24 wide
// from x = 2 + 25 i, zero line at row 100, a value v ends at row 100 - 96 (v - 1000) / 255.
TEST(WaveWhiskers, WhiskerCapsAndMeanTickOnKnownScans) {
  CWaveGraph g;
  g.SetCounts(10, 10);
  g.SetFrameSize(260, 200);
  QImage img(300, 460, QImage::Format_RGB32);
  img.fill(Qt::white);
  const QPoint o(10, 80);
  const int32_t v = 1100;
  g.Store(CWaveGraph::kAxisX, 3, &v, 1);
  std::vector<CWaveGraph::Whisker> w(10);
  w[3] = {1000 - 85, 1000 + 170, 1051.0};  // rows 132, 36 and 81
  {
    QPainter p(&img);
    p.translate(o);
    g.DrawWaveFrame(p, CWaveGraph::kAxisX);
    g.DrawWaveBars(p, CWaveGraph::kAxisX);
    g.DrawWhiskers(p, CWaveGraph::kAxisX, w.data(), 10);
  }
  const auto px = [&](int x, int y) { return img.pixelColor(o.x() + x, o.y() + y); };
  const int left = 2 + 3 * 25, mid = left + 12;
  EXPECT_EQ(g.ValueRow(1170), 36);
  EXPECT_EQ(g.ValueRow(915), 132);
  EXPECT_EQ(g.ValueRow(1051.0), 81);
  // Caps across the whole bar, the line down its middle only.
  for (int x : {left, mid, left + 23}) {
    EXPECT_EQ(px(x, 36), CWaveGraph::WhiskerColour()) << x;
    EXPECT_EQ(px(x, 132), CWaveGraph::WhiskerColour()) << x;
    EXPECT_EQ(px(x, 81), CWaveGraph::MeanColour()) << x;
  }
  EXPECT_EQ(px(mid, 50), CWaveGraph::WhiskerColour());   // above the bar
  EXPECT_EQ(px(mid, 120), CWaveGraph::WhiskerColour());  // below the zero line
  EXPECT_EQ(px(left, 50), QColor(Qt::white));
  EXPECT_EQ(px(left, 70), g.BarColour(CWaveGraph::kAxisX));  // bar of 1100 from row 63
  EXPECT_EQ(px(left, 120), QColor(Qt::white));
  // Nothing outside the column; electrode 2 has a zero-size whisker on the zero line.
  EXPECT_EQ(px(left + 24, 36), QColor(Qt::white));
  EXPECT_EQ(px(left - 25 + 12, 36), QColor(Qt::white));

  // Redrawing the bars clears the old whisker, and a new one is drawn where it belongs.
  w[3] = {1000, 1000 + 51, 1000.0};
  {
    QPainter p(&img);
    p.translate(o);
    g.DrawWaveBars(p, CWaveGraph::kAxisX);
    g.DrawWhiskers(p, CWaveGraph::kAxisX, w.data(), 10);
  }
  EXPECT_EQ(px(left, 36), QColor(Qt::white));
  EXPECT_EQ(px(mid, 132), QColor(Qt::white));
  EXPECT_EQ(px(left, 81), CWaveGraph::WhiskerColour());  // 1051: row 100 - 19
  EXPECT_EQ(px(mid, 90), CWaveGraph::WhiskerColour());
}
