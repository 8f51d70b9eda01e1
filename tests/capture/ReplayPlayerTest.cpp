// Replay of a capture: timing, answers to the host, negative acknowledgements, steps,
// seeks and the link the transfer controller reads.
#include <gtest/gtest.h>

#include <limits>

#include "capture/CReplayLink.h"
#include "capture/CReplayPlayer.h"

using namespace capture;

namespace {

Frame F(int64_t us, Direction dir, Bytes bytes) {
  return Frame{us, dir, std::move(bytes)};
}
constexpr auto H = Direction::kHostToDevice;
constexpr auto D = Direction::kDeviceToHost;

const Bytes kGetVersion = {0x02, 0x4C, 0x02, 0x04, 0x00};
const Bytes kVersionReply = {0x02, 0x4C, 0x05, 0x04, 'V', '1', '.', '0'};
const Bytes kStartM0 = {0x02, 0x4E, 0x02, 0x04, 0x00};
const Bytes kStartM0Ack = {0x02, 0x4E, 0x02, 0x04, 0x01};
Bytes Data(uint8_t n) {
  return {0x02, 0x4B, 0x05, 0x00, n, 0x00, 0x01, 0xE8};
}

// A session: version asked and answered, a stream started, three data frames.
std::vector<Frame> Session() {
  return {F(0, H, kGetVersion),    F(800, D, kVersionReply), F(1000, H, kStartM0),
          F(1500, D, kStartM0Ack), F(4000, D, Data(1)),      F(6000, D, Data(2)),
          F(10000, D, Data(3))};
}

struct FakeClock {
  int64_t now = 1'000'000;
  CReplayPlayer::Clock Fn() {
    return [this] { return now; };
  }
};

Bytes NextFrame(CReplayPlayer& p) {
  uint8_t buf[4096];
  const int n = p.Next(buf, sizeof buf);
  return Bytes(buf, buf + n);
}

}  // namespace

TEST(ReplayPlayer, DeviceFramesComeWithTheirTimingScaledBySpeed) {
  FakeClock clock;
  CReplayPlayer p(Header{}, Session(), clock.Fn());
  // Answers are not part of the timeline: only the three data frames are.
  EXPECT_EQ(p.DeviceFrameCount(), 3u);
  EXPECT_EQ(p.Duration(), 10000);
  EXPECT_TRUE(NextFrame(p).empty()) << "paused at the start";
  EXPECT_EQ(p.UsUntilNext(), -1);

  p.Play();
  EXPECT_TRUE(NextFrame(p).empty());
  EXPECT_EQ(p.UsUntilNext(), 4000 + 1);
  clock.now += 4000;
  EXPECT_EQ(NextFrame(p), Data(1));
  p.SetSpeed(2);
  clock.now += 999;  // 1998 us of capture time
  EXPECT_TRUE(NextFrame(p).empty());
  clock.now += 1;
  EXPECT_EQ(NextFrame(p), Data(2));
  EXPECT_EQ(p.Position(), 6000);

  p.Pause();
  clock.now += 100000;
  EXPECT_TRUE(NextFrame(p).empty());
  EXPECT_EQ(p.Position(), 6000);
  p.SetSpeed(CReplayPlayer::kAsFastAsPossible);
  p.Play();
  EXPECT_EQ(NextFrame(p), Data(3));
  EXPECT_TRUE(p.AtEnd());
  EXPECT_FALSE(p.IsPlaying()) << "stops at the end";
  EXPECT_EQ(p.Position(), 10000);
  // Play at the end starts again.
  p.Play();
  EXPECT_EQ(NextFrame(p), Data(1));
}

TEST(ReplayPlayer, HostCommandsAnsweredFromTheCaptureOrNegatively) {
  FakeClock clock;
  CReplayPlayer p(Header{}, Session(), clock.Fn());
  // The host hands its link a buffer with a zero behind the frame: same command.
  Bytes padded = kGetVersion;
  padded.push_back(0);
  EXPECT_TRUE(p.HostFrame(padded.data(), static_cast<int>(padded.size())));
  EXPECT_EQ(p.UsUntilNext(), 0);
  EXPECT_EQ(NextFrame(p), kVersionReply);
  EXPECT_TRUE(p.HostFrame(kStartM0.data(), 5));
  EXPECT_EQ(NextFrame(p), kStartM0Ack);

  const Bytes calibrate = {0x02, 0x4C, 0x02, 0x11, 0x00};
  EXPECT_FALSE(p.HostFrame(calibrate.data(), 5));
  EXPECT_EQ(NextFrame(p), (Bytes{0x02, 0x4C, 0x02, 0x11, 0x00}));
  EXPECT_EQ(p.AnsweredCount(), 2u);
  EXPECT_EQ(p.UnansweredCount(), 1u);
  const auto unanswered = p.TakeUnanswered();
  ASSERT_EQ(unanswered.size(), 1u);
  EXPECT_EQ(unanswered[0], calibrate);
  EXPECT_TRUE(p.TakeUnanswered().empty());
  EXPECT_TRUE(NextFrame(p).empty());
}

TEST(ReplayPlayer, StepSeekAndLoop) {
  FakeClock clock;
  CReplayPlayer p(Header{}, Session(), clock.Fn());
  p.Step();
  EXPECT_EQ(NextFrame(p), Data(1));
  EXPECT_TRUE(NextFrame(p).empty()) << "one frame a step";
  EXPECT_EQ(p.Position(), 4000);
  p.Seek(5000);
  p.Step();
  EXPECT_EQ(NextFrame(p), Data(2));
  // Between a command and its answer: the answer is still no frame of the timeline.
  p.Seek(1200);
  p.Step();
  EXPECT_EQ(NextFrame(p), Data(1));
  p.Seek(-5);
  EXPECT_EQ(p.Position(), 0);
  p.Seek(1 << 30);
  EXPECT_EQ(p.Position(), 10000);
  EXPECT_FALSE(p.AtEnd()) << "the frame at the last time is still to come";
  p.Step();
  EXPECT_EQ(NextFrame(p), Data(3));
  EXPECT_TRUE(p.AtEnd());

  p.Seek(0);
  p.SetLoop(true);
  p.SetSpeed(CReplayPlayer::kAsFastAsPossible);
  p.Play();
  std::vector<Bytes> got;
  for (int i = 0; i < 7; ++i) got.push_back(NextFrame(p));
  EXPECT_EQ(got,
            (std::vector<Bytes>{Data(1), Data(2), Data(3), Data(1), Data(2), Data(3), Data(1)}));
  EXPECT_TRUE(p.IsPlaying());
}

TEST(ReplayPlayer, SerialLinkDecodesPacketsAndWaitsForFrames) {
  Header h;
  h.link = LinkKind::kSerial;
  auto player = std::make_shared<CReplayPlayer>(h, Session());
  CReplayLink link(player);
  EXPECT_EQ(CReplayLink::LinkTypeOf(h), kLinkCom);
  EXPECT_EQ(link.Write(kGetVersion.data(), 5), -1) << "closed";
  ASSERT_EQ(link.Open(nullptr), 1);
  const std::string packet =
      "\x02"
      "024C020400\r";
  EXPECT_FALSE(link.WaitForInput(0));
  EXPECT_EQ(link.Write(reinterpret_cast<const uint8_t*>(packet.data()), int(packet.size())),
            int(packet.size()));
  EXPECT_TRUE(link.WaitForInput(1000));
  uint8_t buf[4096];
  const int n = link.Read(buf);
  EXPECT_EQ(Bytes(buf, buf + n), kVersionReply);
  // Playing at speed: the receive thread's wait ends when the frame is due, not later.
  player->SetSpeed(16);
  player->Play();
  EXPECT_TRUE(link.WaitForInput(2000));
  EXPECT_EQ(link.Read(buf), 8);
  link.Close();
  EXPECT_EQ(link.Read(buf), 0);
}

TEST(ReplayPlayer, CaptureStartedMidSessionAnswersVersionAndPanelFromItsHeader) {
  Header h;
  h.firmware = "TPCSIM 1.0";
  h.panel = "x=20 y=12 resolution=64 xrange=1280 yrange=768";
  // Only data: the version and panel replies went by before the recording.
  CReplayPlayer p(h, {F(0, D, Data(1))});
  EXPECT_TRUE(p.HostFrame(kGetVersion.data(), 5));
  EXPECT_EQ(NextFrame(p),
            (Bytes{0x02, 0x4C, 0x0B, 0x04, 'T', 'P', 'C', 'S', 'I', 'M', ' ', '1', '.', '0'}));
  const Bytes detail = {0x02, 0x4C, 0x02, 0x06, 0x00};
  EXPECT_TRUE(p.HostFrame(detail.data(), 5));
  const Bytes panel = NextFrame(p);
  ASSERT_EQ(panel.size(), 17u);
  EXPECT_EQ(panel[4], 20);
  EXPECT_EQ(panel[5], 12);
  EXPECT_EQ(panel[6] | panel[7] << 8, 64);
  EXPECT_EQ(panel[9] | panel[10] << 8, 1280);
  EXPECT_EQ(panel[11] | panel[12] << 8, 768);
  EXPECT_TRUE(p.TakeUnanswered().empty());

  // A header without them: the request is answered negatively, as before.
  CReplayPlayer bare(Header{}, {F(0, D, Data(1))});
  EXPECT_FALSE(bare.HostFrame(detail.data(), 5));
  EXPECT_EQ(bare.TakeUnanswered().size(), 1u);
}

// A stream command acknowledged in the data report group (length byte 2) is answered
// with that acknowledgement, as a live session takes it; data reports never answer.
TEST(ReplayPlayer, AcknowledgementInTheDataGroupAnswersAStreamCommand) {
  const Bytes ack = {0x02, 0x4B, 0x02, 0x04, 0x01};
  FakeClock clock;
  CReplayPlayer p(Header{},
                  {F(0, H, kStartM0), F(300, D, Data(1)), F(500, D, ack), F(900, D, Data(2))},
                  clock.Fn());
  EXPECT_EQ(p.DeviceFrameCount(), 2u);
  EXPECT_TRUE(p.HostFrame(kStartM0.data(), int(kStartM0.size())));
  EXPECT_EQ(NextFrame(p), ack);
  EXPECT_EQ(p.UnansweredCount(), 0u);
}

// Times of up to 15 digits with the fastest speed and a clock far ahead: positions
// saturate at the end instead of overflowing.
TEST(ReplayPlayer, PositionSaturatesAtTheLongestCapture) {
  constexpr int64_t kLongest = 999999999999999;
  FakeClock clock;
  CReplayPlayer p(Header{}, {F(0, D, Data(1)), F(kLongest, D, Data(2))}, clock.Fn());
  EXPECT_EQ(p.Duration(), kLongest);
  p.SetSpeed(16);
  p.Play();
  EXPECT_EQ(NextFrame(p), Data(1));
  EXPECT_EQ(p.UsUntilNext(), kLongest / 16 + 1);
  clock.now += std::numeric_limits<int64_t>::max() / 4;
  EXPECT_EQ(p.Position(), kLongest);
  EXPECT_EQ(NextFrame(p), Data(2));
  p.Seek(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(p.Position(), kLongest);
}
