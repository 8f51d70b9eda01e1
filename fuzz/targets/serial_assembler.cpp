// Serial packet reassembly with arbitrary splits: whatever the reads look like, the
// frames that come out are those a plain reading of the whole byte stream gives.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "link/CSerialFrameAssembler.h"
#include "link/CommandString.h"

namespace {

using Frame = std::vector<uint8_t>;

void Check(bool ok) {
  if (!ok) std::abort();
}

// STX opens a frame, CR closes it, hexadecimal pairs inside make bytes, anything else
// inside is skipped, a lone last digit is dropped; an empty or oversized frame yields
// nothing.
std::vector<Frame> Reference(std::span<const uint8_t> stream) {
  std::vector<Frame> frames;
  bool in = false, half = false, over = false;
  int high = 0;
  Frame cur;
  for (uint8_t b : stream) {
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
    int v = CommandString::HexValue(char(b));
    if (v < 0 || over) continue;
    if (!half) {
      if (cur.size() >= size_t(CSerialFrameAssembler::kDecodedSize)) {
        over = true;
        continue;
      }
      high = v * 16;
    } else {
      cur.push_back(uint8_t(high + v));
    }
    half = !half;
  }
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  // The first bytes give the read sizes (1 to 256, cycling), the rest is the stream.
  const size_t splitCount = in.Byte() % 16 + 1;
  std::vector<size_t> splits;
  for (size_t i = 0; i < splitCount; ++i) splits.push_back(size_t(in.Byte()) + 1);
  std::span<const uint8_t> stream = in.Rest();

  static CSerialFrameAssembler a;
  a.Reset();
  static uint8_t out[CSerialFrameAssembler::kDecodedSize];
  std::vector<Frame> got;
  size_t pos = 0;
  for (size_t k = 0; pos < stream.size(); ++k) {
    // As the serial link reads: new bytes only once the earlier ones are scanned.
    size_t n = std::min(splits[k % splits.size()], stream.size() - pos);
    n = std::min(n, size_t(CSerialFrameAssembler::ReadSize(int(n))));
    std::memcpy(a.RawBuffer(), stream.data() + pos, n);
    a.SetRawCount(int(n));
    pos += n;
    do {
      int len = a.Scan(out);
      Check(len >= 0 && len <= CSerialFrameAssembler::kDecodedSize);
      if (len > 0) got.emplace_back(out, out + len);
    } while (a.HasRaw());
  }
  Check(got == Reference(stream));
  return 0;
}
