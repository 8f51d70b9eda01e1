// Reports in and out of a descriptor that keeps message bounds, as a hidraw node does: a
// socket pair stands for the device.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
  size_t received = 0;
  deviceSends(Bytes{0x01} + report(0x33, 100));
  deviceSends(Bytes{0x01} + report(0x44, 10));  // short: the rest reads as zeros
  deviceSends(Bytes{0x01});                     // an id without data gives nothing
  ASSERT_EQ(readReport(ours(), layout, got, &received), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), report(0x33, 64));
  EXPECT_EQ(received, 64u);
  ASSERT_EQ(readReport(ours(), layout, got, &received), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), report(0x44, 10) + Bytes(54, 0));
  EXPECT_EQ(received, 10u);  // what arrived, the id not counted
  EXPECT_EQ(readReport(ours(), layout, got), ReadResult::None);
}

// A frame of length n: its header and then bytes n-1, n-2, ...
Bytes frameOf(uint8_t type, size_t n) {
  Bytes f(64, 0);
  f[0] = type;
  if (type == 0x02) f[2] = uint8_t(n - 3);
  for (size_t i = 3; i < n; ++i) f[i] = uint8_t(0xA0 + i);
  if (type != 0x02) f[1] = 0x11;
  return f;
}

TEST_F(ReportFraming, NumberedPipeCarriesTheFrameAfterItsIdAndRefusesWhatDoesNotFit) {
  ReportLayout layout;  // report id 5 followed by 63 bytes, both ways
  layout.numbered = true;
  layout.inputId = layout.outputId = 0x05;
  layout.inputBytes = layout.outputBytes = layout.largestInputBytes = 63;
  const Bytes f = frame();
  ASSERT_TRUE(writeReport(ours(), layout, f.data()));
  EXPECT_EQ(deviceTakes(), Bytes{0x05} + Bytes(f.begin(), f.end() - 1));

  // A 64-byte boot loader frame cannot fit 63 bytes: refused, never cut.
  const Bytes f2 = frameOf(0xF2, 64);
  EXPECT_EQ(frameRefusal(layout, f2.data()),
            "frame of 64 bytes does not fit output report id 0x05 (63 bytes after the id)");
  errno = 0;
  EXPECT_FALSE(writeReport(ours(), layout, f2.data()));
  EXPECT_EQ(errno, EMSGSIZE);
  EXPECT_EQ(deviceTakes(), Bytes{});  // nothing went out
  const Bytes f1 = frameOf(0xF1, 8);
  ASSERT_TRUE(writeReport(ours(), layout, f1.data()));
  EXPECT_EQ(deviceTakes(), Bytes{0x05} + Bytes(f1.begin(), f1.begin() + 8) + Bytes(55, 0));

  uint8_t got[64];
  deviceSends(Bytes{0x05} + report(0x66, 63));
  ASSERT_EQ(readReport(ours(), layout, got), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), report(0x66, 63) + Bytes{0});
}

TEST_F(ReportFraming, ReportIdsThatAreFrameTypesCarryTheFrameAsItStands) {
  ReportLayout layout;
  layout.numbered = true;
  layout.idIsFrameType = true;
  layout.inputId = layout.outputId = 0x02;
  layout.inputBytes = layout.outputBytes = 63;
  layout.largestInputBytes = 63;
  layout.outputBytesById[0x02] = 63;
  layout.outputBytesById[0xF1] = 7;
  layout.outputBytesById[0xF2] = 63;
  layout.inputIds.set(0x02);
  layout.inputIds.set(0xF5);

  ASSERT_TRUE(writeReport(ours(), layout, frame().data()));
  EXPECT_EQ(deviceTakes(), frame());  // 64 on the wire: the frame's type is the id
  const Bytes f1 = frameOf(0xF1, 8);
  ASSERT_TRUE(writeReport(ours(), layout, f1.data()));
  EXPECT_EQ(deviceTakes(), Bytes(f1.begin(), f1.begin() + 8));
  const Bytes f2 = frameOf(0xF2, 64);
  ASSERT_TRUE(writeReport(ours(), layout, f2.data()));
  EXPECT_EQ(deviceTakes(), f2);
  const Bytes f3 = frameOf(0xF3, 8);  // no output id 0xF3
  EXPECT_EQ(frameRefusal(layout, f3.data()), "no output report id 0xF3 for frames of that type");
  EXPECT_FALSE(writeReport(ours(), layout, f3.data()));
  EXPECT_EQ(deviceTakes(), Bytes{});

  uint8_t got[64];
  deviceSends(Bytes{0x01} + report(0x11, 63));  // a touch report of another collection
  deviceSends(Bytes{0xF5} + report(0x22, 63));
  deviceSends(Bytes{0x02} + report(0x33, 10));
  EXPECT_EQ(readReport(ours(), layout, got), ReadResult::None);
  ASSERT_EQ(readReport(ours(), layout, got), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), Bytes{0xF5} + report(0x22, 63));
  ASSERT_EQ(readReport(ours(), layout, got), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), Bytes{0x02} + report(0x33, 10) + Bytes(53, 0));

  // Replies on an input id that is no frame type (output 02, input 01) come without the id.
  layout.inputId = 0x01;
  layout.inputIds.reset();
  layout.inputIds.set(0x01);
  deviceSends(Bytes{0x01} + frame());
  ASSERT_EQ(readReport(ours(), layout, got), ReadResult::Report);
  EXPECT_EQ(Bytes(got, got + 64), frame());
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
