// Serial reassembly against a byte-at-a-time reading of the whole stream: random
// packets with noise, mixed-case digits, odd digit counts, empty and oversized frames,
// cut into reads of random sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "link/CSerialFrameAssembler.h"

namespace {

using Frame = std::vector<uint8_t>;

int Digit(uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  return -1;
}

// STX opens, CR closes, digit pairs make bytes, a lone last digit is dropped; an empty
// or oversized frame gives nothing.
std::vector<Frame> Reference(const std::string& stream) {
  std::vector<Frame> frames;
  bool in = false, half = false, over = false;
  int high = 0;
  Frame cur;
  for (char ch : stream) {
    const auto b = static_cast<uint8_t>(ch);
    if (!in) {
      if (b == 0x02) {
        in = true;
        half = over = false;
        cur.clear();
      }
      continue;
    }
    if (b == 0x0D) {
      in = false;
      if (!over && !cur.empty()) frames.push_back(cur);
      continue;
    }
    const int v = Digit(b);
    if (v < 0 || over) continue;
    if (!half) {
      if (cur.size() >= size_t(CSerialFrameAssembler::kDecodedSize)) {
        over = true;
        continue;
      }
      high = v * 16;
    } else {
      cur.push_back(static_cast<uint8_t>(high + v));
    }
    half = !half;
  }
  return frames;
}

std::string RandomStream(std::mt19937& rng) {
  static const char kDigits[] = "0123456789ABCDEFabcdef";
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  std::string s;
  const int packets = 1 + pick(40);
  for (int k = 0; k < packets; ++k) {
    if (pick(4) == 0) s += static_cast<char>(pick(256));  // noise between packets
    s += '\x02';
    int digits = pick(10) == 0 ? 2 * CSerialFrameAssembler::kDecodedSize - 4 + pick(12) : pick(140);
    for (int d = 0; d < digits; ++d) {
      if (pick(30) == 0) s += static_cast<char>(pick(3) == 0 ? 0x02 : "G z-\n"[pick(5)]);
      s += kDigits[pick(22)];
    }
    if (pick(12) != 0) s += '\r';  // now and then a packet runs into the next STX
  }
  return s;
}

std::vector<Frame> Reassemble(const std::string& stream, std::mt19937& rng, int maxRead) {
  CSerialFrameAssembler a;
  std::vector<Frame> frames;
  Frame out(CSerialFrameAssembler::kDecodedSize);
  std::uniform_int_distribution<int> size(1, maxRead);
  for (size_t pos = 0; pos < stream.size() || a.HasRaw();) {
    if (!a.HasRaw()) {
      const size_t n = std::min<size_t>(static_cast<size_t>(size(rng)), stream.size() - pos);
      std::memcpy(a.RawBuffer(), stream.data() + pos, n);
      a.SetRawCount(static_cast<int>(n));
      pos += n;
    }
    const int len = a.Scan(out.data());
    if (len > 0) frames.emplace_back(out.begin(), out.begin() + len);
  }
  return frames;
}

}  // namespace

TEST(SerialAssemblerStream, RandomReadsGiveTheFramesOfTheWholeStream) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 300; ++round) {
    const std::string stream = RandomStream(rng);
    const std::vector<Frame> expected = Reference(stream);
    for (int maxRead : {1, 3, 16, 256, CSerialFrameAssembler::kRawSize}) {
      ASSERT_EQ(Reassemble(stream, rng, maxRead), expected)
          << "round " << round << ", reads of up to " << maxRead << " bytes";
    }
  }
}

TEST(SerialAssemblerStream, ResetDropsAFrameInProgressAndUnscannedBytes) {
  CSerialFrameAssembler a;
  Frame out(CSerialFrameAssembler::kDecodedSize);
  auto feed = [&](const std::string& bytes) {
    std::memcpy(a.RawBuffer(), bytes.data(), bytes.size());
    a.SetRawCount(static_cast<int>(bytes.size()));
  };
  feed(
      "\x02"
      "0A0\r\x02"
      "0B0");
  ASSERT_EQ(a.Scan(out.data()), 1);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_TRUE(a.HasRaw());
  EXPECT_EQ(a.Scan(out.data()), 0);  // 0B and a waiting high digit
  a.Reset();
  EXPECT_FALSE(a.HasRaw());
  // Neither the frame in progress nor its waiting digit joins what follows.
  feed(
      "1\r\x02"
      "22\r");
  ASSERT_EQ(a.Scan(out.data()), 1);
  EXPECT_EQ(out[0], 0x22);
}
