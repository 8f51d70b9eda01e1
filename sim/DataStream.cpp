#include "sim/DataStream.h"

#include <algorithm>

namespace tpcsim {

namespace {
struct Row {
  bool xAxis;
  int start;
  int count;
};
}  // namespace

std::optional<uint8_t> DataStream::CodeForSubCommand(uint8_t sub) {
  switch (sub) {
    case 0x04:
      return 0x00;
    case 0x05:
      return 0x01;
    case 0x06:
      return 0x02;
    case 0x0C:
      return 0x08;
    case 0x0D:
      return 0x09;
    case 0x25:
    case 0x26:
    case 0x2D:
    case 0x2E:
    case 0x1C:
    case 0x1D:
      return sub;
    default:
      return std::nullopt;
  }
}

bool DataStream::HasXAxis(uint8_t code) {
  return !(code == 0x09 || code == 0x2D || code == 0x2E || code == 0x1D);
}

bool DataStream::HasYAxis(uint8_t code) {
  return !(code == 0x08 || code == 0x25 || code == 0x26 || code == 0x1C);
}

DataStream::DataStream(uint8_t code, int xCount, int yCount, int valuesPerFrame, uint32_t seed,
                       int offset)
    : code_(code),
      xCount_(HasXAxis(code) ? std::max(xCount, 1) : 0),
      yCount_(HasYAxis(code) ? std::max(yCount, 1) : 0),
      perFrame_(std::clamp(valuesPerFrame, 1, kMaxValuesPerFrame)),
      noise_(seed),
      offset_(offset) {}

int DataStream::FramesPerScan() const {
  return (xCount_ + perFrame_ - 1) / perFrame_ + (yCount_ + perFrame_ - 1) / perFrame_;
}

uint16_t DataStream::Value(bool xAxis, int index, const BumpFn& bump, bool openFault,
                           const std::vector<ElectrodeFault>& faults) {
  // A fixed pattern per electrode plus a little noise around the zero line 1000.
  int spread = ((index * 37 + (xAxis ? 11 : 23) + code_ * 7) % 41) - 20;
  noise_ = noise_ * 1103515245u + 12345u;
  int noise = static_cast<int>((noise_ >> 16) % 7) - 3;
  int v = 1000 + noise;
  switch (code_) {
    case 0x00:
    case 0x08:
    case 0x09:  // raw
      v += spread * 2 + offset_;
      break;
    case 0x01:
    case 0x25:
    case 0x2D:  // offset
      v += spread / 2 + offset_;
      break;
    case 0x02:
    case 0x26:
    case 0x2E:  // signal: the fingers show here
      if (bump) v += bump(xAxis, index);
      break;
    case 0x1C:
    case 0x1D:  // open/short: flat unless a fault is injected
      v = 1000 + noise + offset_;
      if (openFault && index == 3) v = 0;
      break;
    default:
      break;
  }
  if (conducted_ > 0 && code_ != 0x1C && code_ != 0x1D) {
    const int count = xAxis ? xCount_ : yCount_;
    const double weight = 0.6 + 0.4 * index / std::max(count - 1, 1);
    const int amp = static_cast<int>(conducted_ * weight + 0.5);
    if (amp > 0) {
      noise_ = noise_ * 1103515245u + 12345u;
      v += static_cast<int>((noise_ >> 8) % static_cast<uint32_t>(2 * amp + 1)) - amp;
    }
  }
  for (const ElectrodeFault& f : faults) {
    if (f.xAxis != xAxis || f.index != index) continue;
    if (f.open) {
      v = 0;
    } else if (f.shorted) {
      v = code_ == 0x1C || code_ == 0x1D ? 3000 + noise : 4095;
    } else if (f.amplitude > 0) {
      noise_ = noise_ * 1103515245u + 12345u;
      v += static_cast<int>((noise_ >> 16) % static_cast<uint32_t>(2 * f.amplitude + 1)) -
           f.amplitude;
    }
  }
  return static_cast<uint16_t>(std::clamp(v, 0, 0xFFFF));
}

namespace {
// Splits `count` values into `frames` near-equal parts; start and size of part `k`.
Row Part(bool xAxis, int count, int frames, int k) {
  int base = count / frames, extra = count % frames;
  int start = k * base + std::min(k, extra);
  return Row{xAxis, start, base + (k < extra ? 1 : 0)};
}
}  // namespace

Bytes DataStream::Next(std::optional<int64_t> seqStampUs, const BumpFn& bump, bool openFault,
                       const std::vector<ElectrodeFault>& faults) {
  int xFrames = (xCount_ + perFrame_ - 1) / perFrame_;
  int yFrames = (yCount_ + perFrame_ - 1) / perFrame_;
  Row row = frameInScan_ < xFrames ? Part(true, xCount_, xFrames, frameInScan_)
                                   : Part(false, yCount_, yFrames, frameInScan_ - xFrames);
  Bytes f;
  int n = 4 + 2 * row.count;
  f.reserve(n + 3);
  f.push_back(0x02);
  f.push_back(0x4B);
  f.push_back(static_cast<uint8_t>(n));
  f.push_back(code_);
  f.push_back(row.xAxis ? static_cast<uint8_t>(row.start) : 0);
  f.push_back(row.xAxis ? 0 : static_cast<uint8_t>(row.start));
  f.push_back(row.xAxis ? 1 : 0);
  uint16_t stamp[4] = {0, 0, 0, 0};
  if (seqStampUs) {
    auto t = static_cast<uint32_t>(*seqStampUs);
    stamp[0] = static_cast<uint16_t>(seq_ & 0xFFFF);
    stamp[1] = static_cast<uint16_t>(seq_ >> 16);
    stamp[2] = static_cast<uint16_t>(t & 0xFFFF);
    stamp[3] = static_cast<uint16_t>(t >> 16);
  }
  for (int k = 0; k < row.count; ++k) {
    uint16_t v =
        (seqStampUs && k < 4) ? stamp[k] : Value(row.xAxis, row.start + k, bump, openFault, faults);
    f.push_back(static_cast<uint8_t>(v & 0xFF));
    f.push_back(static_cast<uint8_t>(v >> 8));
  }
  ++seq_;
  if (++frameInScan_ >= FramesPerScan()) {
    frameInScan_ = 0;
    ++scan_;
  }
  return f;
}

}  // namespace tpcsim
