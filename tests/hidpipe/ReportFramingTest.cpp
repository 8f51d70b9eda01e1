// Reports in and out of a descriptor that keeps message bounds, as a hidraw node does: a
// socket pair stands for the device.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "hidpipe/ReportFraming.h"

namespace hidpipe {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ReportFraming : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, fds_), 0);
  }
  void TearDown() override {
    if (fds_[0] >= 0) ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  int ours() const { return fds_[0]; }
  // What the device received from one write.
  Bytes deviceTakes() {
    Bytes b(20000);
    const ssize_t n = ::read(fds_[1], b.data(), b.size());
    b.resize(n > 0 ? size_t(n) : 0);
    return b;
  }
  void deviceSends(const Bytes& b) {
    ASSERT_EQ(::write(fds_[1], b.data(), b.size()), ssize_t(b.size()));
  }
  void unplug() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }

  int fds_[2] = {-1, -1};
};

Bytes frame() {
  Bytes f(64, 0);
  const uint8_t head[] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  std::copy(std::begin(head), std::end(head), f.begin());
  return f;
}

Bytes report(uint8_t fill, size_t size) {
  return Bytes(size, fill);
}

TEST_F(ReportFraming, UnnumberedReportsCarryNoIdOnReadAndIdZeroOnWrite) {
  const ReportLayout layout{false, 0, 64, 0, 64, 64};
  ASSERT_TRUE(writeReport(ours(), layout, frame().data()));
  EXPECT_EQ(deviceTakes(), Bytes{0} + frame());

  uint8_t got[64];
  EXPECT_EQ(readReport(ours(), layout, got), ReadResult::None);  // nothing waiting
  Bytes in = report(0x5A, 64);
  in[0] = 0x02;  // a report that starts like a numbered one is still all data
  deviceSends(in);
  ASSERT_EQ(readReport(ours(), layout, got), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), in);
}

TEST_F(ReportFraming, NumberedReportsUseTheirIdsAndOtherIdsAreSkipped) {
  const ReportLayout layout{true, 0x01, 64, 0x02, 64, 64};
  ASSERT_TRUE(writeReport(ours(), layout, frame().data()));
  EXPECT_EQ(deviceTakes(), Bytes{0x02} + frame());

  uint8_t got[64];
  deviceSends(Bytes{0x03} + report(0x11, 3));   // another collection's report
  deviceSends(Bytes{0x01} + report(0x22, 64));  // the protocol's
  EXPECT_EQ(readReport(ours(), layout, got), ReadResult::None);
  ASSERT_EQ(readReport(ours(), layout, got), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), report(0x22, 64));  // id stripped, nothing shifted
}

TEST_F(ReportFraming, SizesOtherThanSixtyFourArePaddedCutOrFilled) {
  const ReportLayout layout{true, 0x01, 100, 0x02, 128, 200};
  ASSERT_TRUE(writeReport(ours(), layout, frame().data()));
  EXPECT_EQ(deviceTakes(), Bytes{0x02} + frame() + Bytes(64, 0));

  uint8_t got[64];
  deviceSends(Bytes{0x01} + report(0x33, 100));
  deviceSends(Bytes{0x01} + report(0x44, 10));  // short: the rest reads as zeros
  deviceSends(Bytes{0x01});                     // an id without data gives nothing
  ASSERT_EQ(readReport(ours(), layout, got), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), report(0x33, 64));
  ASSERT_EQ(readReport(ours(), layout, got), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), report(0x44, 10) + Bytes(54, 0));
  EXPECT_EQ(readReport(ours(), layout, got), ReadResult::None);
}

TEST_F(ReportFraming, AnUnpluggedDeviceIsGone) {
  const ReportLayout layout{false, 0, 64, 0, 64, 64};
  ::signal(SIGPIPE, SIG_IGN);  // a socket says so with a signal; a hidraw node does not
  unplug();
  uint8_t got[64];
  EXPECT_EQ(readReport(ours(), layout, got), ReadResult::Gone);
  EXPECT_FALSE(writeReport(ours(), layout, frame().data()));
}

}  // namespace
}  // namespace hidpipe
