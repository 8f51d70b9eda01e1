// Limits learnt from several known-good panels (simulated: other noise, other levels)
// pass each of them again and again, and fail a bad panel naming exactly its faulty
// electrodes; a golden panel with a faulty electrode teaches nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/VantrelRun.h"

namespace {

struct Panel {
  int seed;
  int offset;
};
constexpr Panel kGolden[] = {{11, -20}, {22, -8}, {33, 0}, {44, 9}, {55, 21}};

class Folder {
 public:
  Folder() {
    char tmpl[] = "/tmp/vt-golden-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    path_ = made ? made : "";
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool StartPanel(SimProcess& sim, const Panel& p) {
  return sim.Start({"--usb", "--rate", "4000", "--seed", std::to_string(p.seed), "--offset",
                    std::to_string(p.offset)});
}

// The electrodes of the failed rows of a checks CSV.
std::set<std::string> FailedElectrodes(const std::string& csv) {
  std::set<std::string> out;
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(",fail") == std::string::npos) continue;
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    out.insert(cells.size() > 2 && !cells[2].empty() ? cells[2] : cells[0] + "/" + cells[1]);
  }
  return out;
}

}  // namespace

TEST(LearnGoldenPanels, PassEveryGoldenPanelAndNameExactlyTheFaultyElectrodes) {
  Folder dir;
  const std::string golden = dir / "golden.json", limits = dir / "limits.toml";
  // Four panels grow a learning file; the fifth gives statistics files.
  for (int i = 0; i < 4; ++i) {
    SimProcess sim;
    ASSERT_TRUE(StartPanel(sim, kGolden[i]));
    Vantrel vantrel(sim);
    Outcome r = vantrel({"learn", "m0-raw", "open-short", "--scans", "20", "--add", golden,
                         "--unit", "golden " + std::to_string(i + 1)});
    ASSERT_EQ(r.code, 0) << r.err;
    ExpectLeftAsFound(sim);
  }
  {
    SimProcess sim;
    ASSERT_TRUE(StartPanel(sim, kGolden[4]));
    Vantrel vantrel(sim);
    for (const char* stream : {"m0-raw", "open-short"}) {
      Outcome r = vantrel({"stats", stream, "--scans", "20", "--json"});
      ASSERT_EQ(r.code, 0) << r.err;
      std::ofstream(dir / (std::string(stream) + ".json")) << r.out;
    }
    Outcome learn = vantrel({"learn", "--from", golden, "--from", dir / "m0-raw.json", "--from",
                             dir / "open-short.json", "-o", limits});
    ASSERT_EQ(learn.code, 0) << learn.err;
    EXPECT_NE(learn.err.find("limits for 2 stream(s)"), std::string::npos) << learn.err;
  }

  for (const Panel& p : kGolden) {
    SimProcess sim;
    ASSERT_TRUE(StartPanel(sim, p));
    Vantrel vantrel(sim);
    for (int run = 0; run < 10; ++run) {
      Outcome r = vantrel({"test", "--limits", limits});
      ASSERT_EQ(r.code, 0) << "seed " << p.seed << " run " << run << "\n" << r.out << r.err;
    }
    ExpectLeftAsFound(sim);
  }

  SimProcess bad;
  ASSERT_TRUE(StartPanel(bad, {66, 3}));
  EXPECT_NE(bad.Command("electrode x 40 open").rfind("error", 0), std::string::npos);
  ASSERT_TRUE(bad.Ok("electrode x 5 noisy 80"));
  ASSERT_TRUE(bad.Ok("electrode y 7 open"));
  ASSERT_TRUE(bad.Ok("electrode x 12 short"));
  Vantrel vantrel(bad);
  const std::string csv = dir / "checks.csv";
  Outcome r = vantrel({"test", "--limits", limits, "--csv", csv});
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  std::ifstream in(csv);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(FailedElectrodes(text.str()), (std::set<std::string>{"X5", "Y7", "X12"})) << text.str();

  // Learning from it is refused, naming its open and shorted electrodes; the learning
  // file stays as it was.
  std::ifstream before(golden);
  std::stringstream kept;
  kept << before.rdbuf();
  Outcome learn = vantrel({"learn", "m0-raw", "--scans", "10", "--add", golden});
  EXPECT_EQ(learn.code, 2);
  EXPECT_NE(learn.err.find("X12 short"), std::string::npos) << learn.err;
  EXPECT_NE(learn.err.find("Y7 open"), std::string::npos) << learn.err;
  std::ifstream after(golden);
  std::stringstream now;
  now << after.rdbuf();
  EXPECT_EQ(now.str(), kept.str());
  ExpectLeftAsFound(bad);
}
