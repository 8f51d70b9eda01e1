#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "analysis/ScanAssembler.h"

using analysis::ScanAssembler;
using analysis::ScanLayout;

namespace {

struct Report {
  uint8_t code, startX, startY, direction;
  std::vector<int32_t> values;
};

// A scan of a 38 x 22 panel as the controller sends it: X in two reports, Y in two.
// Values: scan * 1000 + electrode index, so mixed scans show.
std::vector<Report> Scan(int scan, uint8_t code = 0x00) {
  auto run = [&](int from, int n, int offset) {
    std::vector<int32_t> v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), scan * 1000 + offset + from);
    return v;
  };
  return {{code, 0, 0, 1, run(0, 19, 0)},
          {code, 19, 0, 1, run(19, 19, 0)},
          {code, 0, 0, 0, run(0, 11, 38)},
          {code, 0, 11, 0, run(11, 11, 38)}};
}

// Feeds reports; returns the first value of each completed scan.
std::vector<int32_t> Feed(ScanAssembler& a, const std::vector<Report>& reports) {
  std::vector<int32_t> firsts;
  for (const Report& r : reports) {
    if (!a.Add(r.code, r.startX, r.startY, r.direction, r.values.data(),
               static_cast<int>(r.values.size())))
      continue;
    const auto s = a.Scan();
    // Every value of a completed scan belongs to that one scan.
    for (size_t i = 0; i < s.size(); ++i) EXPECT_EQ(s[i], s[0] + static_cast<int32_t>(i));
    firsts.push_back(s[0]);
  }
  return firsts;
}

std::vector<Report> Join(std::initializer_list<std::vector<Report>> parts) {
  std::vector<Report> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST(ScanAssembler, CompleteScansInOrderAndOtherCodesIgnored) {
  ScanAssembler a(0x00, ScanLayout{38, 22});
  auto reports = Join({Scan(1), Scan(2, 0x01), Scan(3)});
  EXPECT_EQ(Feed(a, reports), (std::vector<int32_t>{1000, 3000}));
  EXPECT_EQ(a.Complete(), 2u);
  EXPECT_EQ(a.Incomplete(), 0u);
  EXPECT_EQ(a.Ignored(), 4u);
}

TEST(ScanAssembler, GapRestartAndOverrunAreCountedAndNeverMixed) {
  ScanAssembler a(0x00, ScanLayout{38, 22});
  auto gap = Scan(1);
  gap.erase(gap.begin() + 1);  // second X report lost
  auto restart = Scan(2);
  restart.resize(3);  // X complete, first Y report, then the next scan begins
  auto lostYEnd = Scan(3);
  lostYEnd.pop_back();  // last Y report lost, next scan starts at X0
  auto overrun = Scan(4);
  overrun[3].values.push_back(9999);  // runs past Y21
  auto yFirst = Scan(5);
  std::swap(yFirst[0], yFirst[2]);  // Y before X: not a scan of this stream's order
  std::swap(yFirst[1], yFirst[3]);
  auto reports = Join({gap, restart, lostYEnd, overrun, yFirst, Scan(6)});
  EXPECT_EQ(Feed(a, reports), (std::vector<int32_t>{6000}));
  EXPECT_EQ(a.Incomplete(), 5u);
}

TEST(ScanAssembler, StartsAlignedWithoutCountingTheScanItJoinedLate) {
  ScanAssembler a(0x00, ScanLayout{38, 22});
  auto late = Scan(1);
  late.erase(late.begin(), late.begin() + 2);  // listening began in the middle of a scan
  EXPECT_EQ(Feed(a, Join({late, Scan(2)})), (std::vector<int32_t>{2000}));
  EXPECT_EQ(a.Incomplete(), 0u);
  // After a complete scan a lost first report does count.
  auto lostStart = Scan(3);
  lostStart.erase(lostStart.begin());
  EXPECT_EQ(Feed(a, Join({lostStart, Scan(4)})), (std::vector<int32_t>{4000}));
  EXPECT_EQ(a.Incomplete(), 1u);
}

TEST(ScanAssembler, OneAxisStreamRefusesTheOtherAxis) {
  ScanAssembler a(0x09, ScanLayout{0, 22});
  auto y = Scan(1, 0x09);
  const std::vector<Report> only{y[2], y[3], y[0], y[2], y[3]};
  // An X report between two scans counts as a broken scan; scans hold Y values only.
  const auto firsts = Feed(a, only);
  ASSERT_EQ(firsts.size(), 2u);
  EXPECT_EQ(a.Scan().size(), 22u);
  EXPECT_EQ(a.Scan()[0], 1038);
  EXPECT_EQ(a.Incomplete(), 1u);
}

TEST(ScanAssembler, RecordsOfRepliesBetweenReportsAreIgnored) {
  // A view passes the transfer controller's record of every delivery: acknowledgements
  // (no values) arrive between the reports of a scan.
  ScanAssembler a(0x1C, ScanLayout{38, 0});
  auto scan = Scan(1, 0x1C);
  DataRecord ack;
  ack.kind = 2;
  ack.group = 0x4E;
  ack.code = 0x1C;  // the reply to the stream command carries its sub-command here
  ack.startX = 1;   // and its status
  EXPECT_FALSE(a.Add(ack));
  for (int i = 0; i < 2; ++i) {
    DataRecord r;
    r.group = 0x4B;
    r.code = 0x1C;
    r.startX = scan[i].startX;
    r.direction = 1;
    r.values = scan[i].values.data();
    r.count = static_cast<uint8_t>(scan[i].values.size());
    const bool done = a.Add(r);
    EXPECT_EQ(done, i == 1);
    if (i == 0) {
      EXPECT_FALSE(a.Add(ack));
    }
  }
  EXPECT_EQ(a.Complete(), 1u);
  EXPECT_EQ(a.Incomplete(), 0u);
}
