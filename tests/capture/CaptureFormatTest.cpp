// The capture file: round trips (plain and compressed) and bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <zstd.h>

#include "capture/CaptureFile.h"
#include "capture/CaptureFormat.h"
#include "capture/CaptureReader.h"
#include "capture/CaptureSink.h"

using namespace capture;

namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vt-capture-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(dir_); }
  std::string operator/(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

std::vector<Frame> RandomFrames(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Frame> frames;
  int64_t us = 0;
  for (size_t i = 0; i < n; ++i) {
    Frame f;
    us += rng() % 3 == 0 ? 0 : rng() % 5000;
    f.us = us;
    f.dir = rng() % 4 == 0 ? Direction::kHostToDevice : Direction::kDeviceToHost;
    f.bytes.resize(1 + rng() % 64);
    for (auto& b : f.bytes) b = static_cast<uint8_t>(rng());
    frames.push_back(std::move(f));
  }
  frames.back().us = (int64_t{1} << 40) + 7;  // far beyond 32 bits of microseconds
  return frames;
}

Header UsbHeader() {
  Header h;
  h.program = "VantrelTool 2.4.6.3";
  h.link = LinkKind::kUsb;
  h.linkDetail = "vid=227D pid=0102 iface=1 ostype=2";
  h.firmware = "TPCSIM 1.0.0";
  h.panel = "x=38 y=22 resolution=64 xrange=2432 yrange=1408";
  h.start = NowIso8601();
  return h;
}

std::string Text(const Header& h, const std::vector<Frame>& frames) {
  std::string text = HeaderText(h);
  for (const Frame& f : frames) {
    AppendFrameLine(text, f.us, f.dir, f.bytes.data(), static_cast<int>(f.bytes.size()));
  }
  return text;
}

// Written and flushed in pieces of about 100 lines, as a recording is.
void WriteInPieces(CaptureSink& sink, const std::string& text) {
  size_t pos = 0;
  int lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' || ++lines % 100 != 0) continue;
    ASSERT_TRUE(sink.Write(std::string_view(text).substr(pos, i + 1 - pos)));
    ASSERT_TRUE(sink.Flush());
    pos = i + 1;
  }
  ASSERT_TRUE(sink.Write(std::string_view(text).substr(pos)));
  ASSERT_TRUE(sink.Flush());
}

void WriteFile(const std::string& path, const std::string& text) {
  CaptureSink sink;
  ASSERT_TRUE(sink.Open(path)) << sink.Error();
  WriteInPieces(sink, text);
  ASSERT_TRUE(sink.Close());
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(CaptureFormat, RoundTripPlainAndCompressed) {
  TempDir dir;
  const Header h = UsbHeader();
  const auto frames = RandomFrames(5000, 17);
  for (const char* name : {"s.capture", "s.capture.zst"}) {
    SCOPED_TRACE(name);
    WriteFile(dir / name, Text(h, frames));
    const ParseResult r = LoadCapture(dir / name);
    ASSERT_TRUE(r.Ok()) << r.error;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(r.frames, frames);
    EXPECT_EQ(r.header.program, h.program);
    EXPECT_EQ(r.header.link, LinkKind::kUsb);
    EXPECT_EQ(r.header.linkDetail, h.linkDetail);
    EXPECT_EQ(r.header.firmware, h.firmware);
    EXPECT_EQ(r.header.panel, h.panel);
    EXPECT_EQ(r.header.start, h.start);
  }
  // The compressed file is a zstd stream, not text.
  EXPECT_EQ(ReadBytes(dir / "s.capture.zst").substr(0, 4), std::string("\x28\xB5\x2F\xFD", 4));
}

TEST(CaptureFormat, ReadableAsTextAndLateHeaderValuesFillGaps) {
  Header h = UsbHeader();
  h.firmware = "";
  h.firmware.clear();
  const uint8_t version[] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  std::string text = HeaderText(h);
  AppendFrameLine(text, 12, Direction::kHostToDevice, version, 5);
  EXPECT_NE(text.find("\n12 H>D 5 024C020400\n"), std::string::npos);
  EXPECT_EQ(text.rfind("# vantrel-capture 1\n", 0), 0u);
  // A control character in a header value cannot break the line structure.
  text += HeaderLine("firmware", "ABC\nDEF");
  text += "# a comment: anything\r\n";
  const ParseResult r = ParseCapture(text);
  ASSERT_TRUE(r.Ok()) << r.error;
  EXPECT_EQ(r.header.firmware, "ABC?DEF");
  ASSERT_EQ(r.frames.size(), 1u);
}

TEST(CaptureFormat, MarksKeepTheirPlaceAmongTheFrames) {
  const uint8_t version[] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  std::string text = HeaderText(UsbHeader()) + HeaderLine("mark", "ghost");
  AppendFrameLine(text, 12, Direction::kHostToDevice, version, 5);
  text += HeaderLine("mark", "end") + HeaderLine("mark", "ghost-noise");
  AppendFrameLine(text, 20, Direction::kHostToDevice, version, 5);
  TempDir dir;
  WriteFile(dir / "marked.capture.zst", text);
  for (const ParseResult& r : {ParseCapture(text), LoadCapture(dir / "marked.capture.zst")}) {
    ASSERT_TRUE(r.Ok()) << r.error;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.marks, (std::vector<Mark>{{0, "ghost"}, {1, "end"}, {1, "ghost-noise"}}));
  }
}

TEST(CaptureFormat, BadInputNamesTheLineAndKeepsWhatCameBefore) {
  const std::string head =
      "# vantrel-capture 1\n"
      "# link: usb vid=227D\n"
      "0 H>D 5 024C020400\n"
      "10 D>H 5 024C020401\n";  // lines 1 to 4
  struct Case {
    const char* name;
    std::string text;
    int line;
    const char* says;
    size_t frames;
  };
  const std::string longHex(130, 'A');
  const Case cases[] = {
      {"unknown version", "# vantrel-capture 2\n0 H>D 1 00\n", 1, "unknown format version", 0},
      {"not a capture", "hello\n", 1, "not a capture", 0},
      {"empty file", "", 1, "not a capture", 0},
      {"bad direction", head + "20 X>Y 1 00\n30 D>H 1 00\n", 5, "H>D or D>H", 2},
      {"count and bytes differ", head + "20 D>H 3 0102\n", 5, "3 bytes announced, 4 hex", 2},
      {"bad hex", head + "20 D>H 2 01G2\n", 5, "bad hex digits", 2},
      {"too long for usb", head + "20 D>H 65 " + longHex + "\n", 5,
       "65 bytes is longer than a usb link carries (64)", 2},
      {"time goes back", head + "5 D>H 1 00\n", 5, "earlier than the line before", 2},
      {"missing field", head + "20 D>H 1\n", 5, "4 fields", 2},
      {"cut off", head + "20 D>H 5 024C02", 5, "cut off", 2},
      {"huge time", head + "99999999999999999999 D>H 1 00\n", 5, "bad time", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult r = ParseCapture(c.text);
    EXPECT_EQ(r.errorLine, c.line);
    EXPECT_EQ(r.error.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
    EXPECT_EQ(r.frames.size(), c.frames);
  }
  // A last line without its line end that is whole is read.
  EXPECT_TRUE(ParseCapture(head + "20 D>H 1 00").Ok());
  // A serial link carries longer frames.
  EXPECT_TRUE(
      ParseCapture("# vantrel-capture 1\n# link: serial 38400 8N1\n0 D>H 65 " + longHex + "\n")
          .Ok());
  // Unknown keys are reported once, with their line, and skipped.
  const ParseResult r = ParseCapture(head + "# colour: red\n# colour: blue\n20 D>H 1 00\n");
  ASSERT_TRUE(r.Ok());
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(r.warnings[0], "line 5: unknown header key \"colour\" skipped");
  EXPECT_EQ(r.frames.size(), 3u);
}

TEST(CaptureFormat, UnfinishedOrCutCompressedFileLoadsItsWholeLines) {
  TempDir dir;
  const auto frames = RandomFrames(3000, 5);
  const std::string text = Text(UsbHeader(), frames);
  const int headerLines = 7;

  // Flushed but never ended (the program died while recording).
  {
    CaptureSink sink;
    ASSERT_TRUE(sink.Open(dir / "live.zst"));
    WriteInPieces(sink, text);
    std::filesystem::copy_file(dir / "live.zst", dir / "unfinished.zst");
  }
  ParseResult r = LoadCapture(dir / "unfinished.zst");
  EXPECT_EQ(r.frames, frames);
  EXPECT_EQ(r.errorLine, headerLines + static_cast<int>(frames.size()) + 1);
  EXPECT_NE(r.error.find("ends early"), std::string::npos) << r.error;

  // Cut in the middle: a prefix of the frames, and where it stopped.
  WriteFile(dir / "whole.zst", text);
  const std::string bytes = ReadBytes(dir / "whole.zst");
  std::ofstream(dir / "cut.zst", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  r = LoadCapture(dir / "cut.zst");
  ASSERT_FALSE(r.Ok());
  EXPECT_GT(r.frames.size(), 0u);
  EXPECT_LT(r.frames.size(), frames.size());
  EXPECT_TRUE(std::equal(r.frames.begin(), r.frames.end(), frames.begin()));
  EXPECT_EQ(r.errorLine, headerLines + static_cast<int>(r.frames.size()) + 1);

  // Damaged bytes: no crash, a message.
  std::string damaged = bytes;
  for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 64; ++i) damaged[i] ^= 0x5A;
  std::ofstream(dir / "damaged.zst", std::ios::binary) << damaged;
  r = LoadCapture(dir / "damaged.zst");
  EXPECT_FALSE(r.Ok());
  EXPECT_NE(r.error.find("line "), std::string::npos);

  r = LoadCapture(dir / "missing.capture");
  EXPECT_NE(r.error.find("cannot read " + (dir / "missing.capture")), std::string::npos);
}

// ---------------------------------------------------------------- streaming reader

namespace {

// The frames a cursor gives from a time on, up to n of them.
std::vector<Frame> FramesFrom(CaptureCursor& c, int64_t us, size_t n) {
  std::vector<Frame> out;
  EXPECT_TRUE(c.Seek(us)) << c.Error();
  Frame f;
  while (out.size() < n && c.Next(f)) out.push_back(f);
  return out;
}

// What a reader that knows nothing of seek tables (zstdcat) gets from the file.
std::string DecompressWhole(const std::string& bytes) {
  std::string text;
  ZSTD_DStream* d = ZSTD_createDStream();
  std::vector<char> out(ZSTD_DStreamOutSize());
  ZSTD_inBuffer in{bytes.data(), bytes.size(), 0};
  size_t left = 1;
  while (in.pos < in.size || left != 0) {
    ZSTD_outBuffer ob{out.data(), out.size(), 0};
    left = ZSTD_decompressStream(d, &ob, &in);
    if (ZSTD_isError(left) || (ob.pos == 0 && in.pos == in.size)) break;
    text.append(out.data(), ob.pos);
  }
  ZSTD_freeDStream(d);
  return text;
}

}  // namespace

TEST(CaptureReader, SeeksToAnyTimeInPlainAndSeekableCompressedFiles) {
  TempDir dir;
  const auto frames = RandomFrames(120000, 23);  // about 10 MB of text: several zstd frames
  const std::string text = Text(UsbHeader(), frames);
  for (const char* name : {"big.capture", "big.capture.zst"}) {
    SCOPED_TRACE(name);
    WriteFile(dir / name, text);
    std::string error;
    auto reader = CaptureReader::Open(dir / name, error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->GetHeader().firmware, "TPCSIM 1.0.0");
    ASSERT_TRUE(reader->WaitIndexed(60000));
    const CaptureReader::Progress p = reader->GetProgress();
    EXPECT_TRUE(p.error.empty()) << p.error;
    EXPECT_EQ(p.frames, frames.size());
    EXPECT_EQ(p.durationUs, frames.back().us);
    EXPECT_DOUBLE_EQ(p.fraction, 1.0);
    auto cursor = reader->NewCursor();
    for (size_t at : {size_t(0), size_t(1), size_t(4095), size_t(4096), size_t(77777),
                      frames.size() - 3, size_t(50000), size_t(10)}) {
      SCOPED_TRACE(at);
      // The first frame at or after the time (several frames may share it).
      size_t first = at;
      while (first > 0 && frames[first - 1].us == frames[at].us) --first;
      const auto got = FramesFrom(*cursor, frames[at].us, 3);
      const size_t n = std::min<size_t>(3, frames.size() - first);
      ASSERT_EQ(got.size(), n);
      EXPECT_TRUE(std::equal(got.begin(), got.end(), frames.begin() + first));
    }
    EXPECT_TRUE(FramesFrom(*cursor, frames.back().us + 1, 1).empty());
  }
  // Independent frames with a seek table in a skippable frame at the end, and still one
  // stream for a reader that knows nothing of it.
  const std::string bytes = ReadBytes(dir / "big.capture.zst");
  ASSERT_GT(bytes.size(), 9u);
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\xB1\xEA\x92\x8F", 4));
  const uint32_t count = uint8_t(bytes[bytes.size() - 9]) | uint8_t(bytes[bytes.size() - 8]) << 8;
  EXPECT_GE(count, 2u);
  EXPECT_EQ(DecompressWhole(bytes), text);
}

TEST(CaptureReader, SingleFrameCompressedFileFromAnotherToolIsReadInOrder) {
  TempDir dir;
  const auto frames = RandomFrames(20000, 29);
  const std::string text = Text(UsbHeader(), frames);
  std::string packed(ZSTD_compressBound(text.size()), '\0');
  packed.resize(ZSTD_compress(packed.data(), packed.size(), text.data(), text.size(), 3));
  std::ofstream(dir / "other.zst", std::ios::binary) << packed;
  std::string error;
  auto reader = CaptureReader::Open(dir / "other.zst", error);
  ASSERT_TRUE(reader) << error;
  ASSERT_TRUE(reader->WaitIndexed(60000));
  EXPECT_EQ(reader->GetProgress().frames, frames.size());
  auto cursor = reader->NewCursor();
  for (size_t at : {size_t(15000), size_t(3), size_t(19999)}) {
    const auto got = FramesFrom(*cursor, frames[at].us, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].us, frames[at].us);
  }
}

// A small compressed file that expands without end, or lines and headers that never
// end, are refused where they go wrong, without holding them in memory.
TEST(CaptureReader, OverlongLinesAndRunawayStreamsAreRefusedWithTheirPlace) {
  TempDir dir;
  const std::string head = "# vantrel-capture 1\n# link: usb\n0 D>H 1 00\n";
  struct Case {
    const char* name;
    std::string text;
    const char* says;
  };
  std::string comments;
  while (comments.size() < (8u << 20)) comments += "# more\n";
  const Case cases[] = {
      {"one endless line", head + std::string(64u << 20, 'A'),
       "line 4: longer than 16384 bytes (at offset 43)"},
      {"endless comments", head + comments,
       "KiB of header, comment and blank lines without a frame"},
      {"endless blank lines", head + std::string(8u << 20, '\n'),
       "KiB of header, comment and blank lines without a frame"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string packed(ZSTD_compressBound(c.text.size()), '\0');
    packed.resize(ZSTD_compress(packed.data(), packed.size(), c.text.data(), c.text.size(), 19));
    ASSERT_LT(packed.size(), 64u << 10);
    std::ofstream(dir / "bomb.zst", std::ios::binary) << packed;
    const ParseResult r = LoadCapture(dir / "bomb.zst");
    EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
    EXPECT_EQ(r.frames.size(), 1u);
  }
}

TEST(CaptureReader, HeaderOnlyOrUnreadableCapturesAreRefused) {
  TempDir dir;
  std::ofstream(dir / "header.capture") << HeaderText(UsbHeader());
  std::string error;
  EXPECT_FALSE(CaptureReader::Open(dir / "header.capture", error));
  EXPECT_EQ(error, "it holds no frames");
  EXPECT_FALSE(CaptureReader::Open(dir / "bad.capture", error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
  std::filesystem::create_directory(dir / "folder");
  EXPECT_FALSE(CaptureReader::Open(dir / "folder", error));
  EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
  EXPECT_FALSE(CaptureReader::FromText("# vantrel-capture 1\n0 D>H 1 0\n", error));
  EXPECT_NE(error.find("line 2: "), std::string::npos) << error;
}

TEST(CaptureReader, TimesBeyondFifteenDigitsAreRefused) {
  const ParseResult r = ParseCapture(
      "# vantrel-capture 1\n0 D>H 1 00\n999999999999999 D>H 1 00\n1000000000000000 D>H 1 00\n");
  EXPECT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(r.errorLine, 4);
  EXPECT_NE(r.error.find("longer than 15 digits"), std::string::npos) << r.error;
}
