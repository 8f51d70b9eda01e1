// Recording: frames from the two threads of a link reach the file in order, serial
// packets become frames, a full queue counts its drops, a write error ends the
// recording with the file named and leaves what was written readable.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <thread>

#include "capture/CCaptureRecorder.h"
#include "capture/CaptureFile.h"

using namespace capture;
using Bytes = std::vector<uint8_t>;

namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vt-recorder-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(dir_); }
  std::string operator/(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

Header UsbHeader() {
  Header h;
  h.program = "test";
  h.link = LinkKind::kUsb;
  return h;
}

}  // namespace

TEST(CaptureRecorder, FramesOfBothThreadsArriveInOrderPlainAndCompressed) {
  TempDir dir;
  for (const char* name : {"two.capture", "two.capture.zst"}) {
    SCOPED_TRACE(name);
    CCaptureRecorder rec;
    std::string error;
    ASSERT_TRUE(rec.Start(dir / name, UsbHeader(), error)) << error;
    constexpr int kEach = 20000;
    auto run = [&](bool toDevice) {
      for (int i = 0; i < kEach; ++i) {
        const uint8_t frame[] = {0x02, toDevice ? uint8_t(0x4E) : uint8_t(0x4B), 0x02, uint8_t(i),
                                 uint8_t(i >> 8)};
        rec.OnLinkFrame(kLinkUsb, toDevice, RecorderClockUs(), frame, 5);
      }
    };
    std::thread ui(run, true);
    std::thread receive(run, false);
    ui.join();
    receive.join();
    // A version reply fills the firmware the header did not know.
    const uint8_t version[] = {0x02, 0x4C, 0x05, 0x04, 'V', '2', '.', '0'};
    rec.OnLinkFrame(kLinkUsb, false, RecorderClockUs(), version, 8);
    ASSERT_TRUE(rec.Stop());
    const auto stats = rec.GetStats();
    EXPECT_EQ(stats.dropped, 0u);
    EXPECT_EQ(stats.frames, 2u * kEach + 1);
    EXPECT_EQ(stats.bytesOnDisk, std::filesystem::file_size(dir / name));

    const ParseResult r = LoadCapture(dir / name);
    ASSERT_TRUE(r.Ok()) << r.error;
    EXPECT_EQ(r.header.firmware, "V2.0");
    ASSERT_EQ(r.frames.size(), 2u * kEach + 1);
    int next[2] = {0, 0};
    for (size_t i = 0; i + 1 < r.frames.size(); ++i) {
      const Frame& f = r.frames[i];
      const int k = f.dir == Direction::kHostToDevice ? 1 : 0;
      EXPECT_EQ(f.bytes[3] | (f.bytes[4] << 8), next[k]++);  // each thread's order kept
    }
  }
}

TEST(CaptureRecorder, SerialPacketsAreRecordedAsFrames) {
  TempDir dir;
  CCaptureRecorder rec;
  std::string error;
  Header h;
  h.link = LinkKind::kSerial;
  ASSERT_TRUE(rec.Start(dir / "s.capture", h, error));
  const std::string packet =
      "\x02"
      "024c020400\r";
  rec.OnLinkFrame(kLinkCom, true, RecorderClockUs(),
                  reinterpret_cast<const uint8_t*>(packet.data()), int(packet.size()));
  const uint8_t touch[] = {0x01, 0x01, 0x10, 0x00, 0x20, 0x00, 0xC8, 0x00};
  rec.OnLinkFrame(kLinkCom, false, RecorderClockUs(), touch, 8);
  ASSERT_TRUE(rec.Stop());
  const ParseResult r = LoadCapture(dir / "s.capture");
  ASSERT_TRUE(r.Ok()) << r.error;
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(r.frames[0].bytes, (Bytes{0x02, 0x4C, 0x02, 0x04, 0x00}));
  EXPECT_EQ(r.frames[1].bytes, Bytes(touch, touch + 8));
}

// A frame is recorded at its own length, whatever buffer the link was handed: the host's
// command string gives 6 bytes for "024C020400 ", a USB report 64.
TEST(CaptureRecorder, FramesAreRecordedAtTheirOwnLength) {
  TempDir dir;
  CCaptureRecorder rec;
  std::string error;
  ASSERT_TRUE(rec.Start(dir / "u.capture", UsbHeader(), error));
  const uint8_t padded[6] = {0x02, 0x4C, 0x02, 0x04, 0x00, 0x00};
  rec.OnLinkFrame(kLinkUsb, true, RecorderClockUs(), padded, 6);
  uint8_t report[64] = {0x02, 0x4C, 0x05, 0x04, 'V', '1', '.', '0'};
  rec.OnLinkFrame(kLinkUsb, false, RecorderClockUs(), report, 64);
  const uint8_t other[3] = {0x01, 0x00, 0x00};  // no length in its header: kept whole
  rec.OnLinkFrame(kLinkUsb, false, RecorderClockUs(), other, 3);
  ASSERT_TRUE(rec.Stop());
  const ParseResult r = LoadCapture(dir / "u.capture");
  ASSERT_TRUE(r.Ok()) << r.error;
  ASSERT_EQ(r.frames.size(), 3u);
  EXPECT_EQ(r.frames[0].bytes, (Bytes{0x02, 0x4C, 0x02, 0x04, 0x00}));
  EXPECT_EQ(r.frames[1].bytes, Bytes(report, report + 8));
  EXPECT_EQ(r.frames[2].bytes, Bytes(other, other + 3));
}

TEST(CaptureRecorder, AFullQueueCountsWhatItDrops) {
  TempDir dir;
  CCaptureRecorder rec(16);
  std::string error;
  ASSERT_TRUE(rec.Start(dir / "d.capture", UsbHeader(), error));
  constexpr int kFrames = 50000;
  const uint8_t frame[] = {0x02, 0x4B, 0x01, 0x00};
  for (int i = 0; i < kFrames; ++i) rec.OnLinkFrame(kLinkUsb, false, RecorderClockUs(), frame, 4);
  ASSERT_TRUE(rec.Stop());
  const auto stats = rec.GetStats();
  EXPECT_GT(stats.dropped, 0u);
  EXPECT_EQ(stats.frames + stats.dropped, uint64_t(kFrames));
  EXPECT_EQ(LoadCapture(dir / "d.capture").frames.size(), stats.frames);
}

TEST(CaptureRecorder, CannotCreateOrWriteNamesTheFile) {
  CCaptureRecorder rec;
  std::string error;
  EXPECT_FALSE(rec.Start("/nonexistent-folder/x.capture", UsbHeader(), error));
  EXPECT_NE(error.find("/nonexistent-folder/x.capture"), std::string::npos) << error;
  EXPECT_FALSE(rec.Start("/dev/full", UsbHeader(), error));
  EXPECT_NE(error.find("cannot write /dev/full"), std::string::npos) << error;
  EXPECT_FALSE(rec.IsActive());
}

// Records into a file whose size is limited (a disk that fills up) and exits with 0 when
// the recording ends with the file named and what was written stays readable.
[[noreturn]] void RecordUntilTheDiskIsFull(const std::string& path) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{64 * 1024, RLIM_INFINITY};
  setrlimit(RLIMIT_FSIZE, &limit);
  CCaptureRecorder rec;
  std::string error;
  if (!rec.Start(path, UsbHeader(), error)) _exit(3);
  const uint8_t frame[] = {0x02, 0x4B, 0x01, 0x00};
  for (int i = 0; i < 2000000 && rec.IsActive(); ++i) {
    rec.OnLinkFrame(kLinkUsb, false, RecorderClockUs(), frame, 4);
    if (i % 1000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (rec.IsActive()) _exit(4);
  rec.Stop();
  const auto stats = rec.GetStats();
  if (stats.error.find("cannot write " + path + ": File too large") != 0) _exit(5);
  const ParseResult r = LoadCapture(path);
  if (r.frames.empty()) _exit(6);
  _exit(0);
}

// In a child process, so the size limit stays there.
TEST(CaptureRecorderDeathTest, ADiskThatFillsUpEndsTheRecording) {
  TempDir dir;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RecordUntilTheDiskIsFull(dir / "full.capture"), ::testing::ExitedWithCode(0), "");
}
