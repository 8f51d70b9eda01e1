#include "FrameCodec.h"

#include <algorithm>
#include <cstring>

namespace {

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

FrameCodec::Result DecodeCoordinate(const uint8_t* f, int len, uint32_t now,
                                    CoordinateRecord& coord) {
  coord = CoordinateRecord{};
  coord.kind = 1;
  coord.time = now;
  coord.touch = f[1] & 0x01;
  coord.finger = (f[1] >> 2) & 0x01;
  coord.x = U16(f + 2);
  coord.y = U16(f + 4);
  coord.z = len >= 8 ? U16(f + 6) : 0;  // a 6- or 7-byte report has no Z
  return {FrameCodec::Decoded::kCoordinate, false};
}

FrameCodec::Result DecodeShortReply(const uint8_t* f, int len, uint32_t now, DataRecord& data) {
  int n = f[2];
  data = DataRecord{};
  data.kind = 2;
  data.time = now;
  data.group = f[1];
  uint8_t* fields[] = {&data.code, &data.startX, &data.startY, &data.direction};
  int take = std::min(n, len - 3);
  for (int i = 0; i < take && i < 4; ++i) *fields[i] = f[3 + i];
  bool ok = n >= 2 && len >= 5 && f[4] == 1;
  return {FrameCodec::Decoded::kShortReply, ok};
}

FrameCodec::Result DecodeData(const uint8_t* f, int len, uint32_t now, DataRecord& data,
                              int32_t (&values)[FrameCodec::kValueCount]) {
  int n = f[2];
  if (n != len - 3 || n <= 2 || (n - 4) % 2 != 0) return {};
  int count = std::min((n - 4) / 2, FrameCodec::kValueCount);
  for (int i = 0; i < count; ++i) values[i] = U16(f + 7 + 2 * i);
  data = DataRecord{};
  data.kind = 2;
  data.time = now;
  data.group = f[1];
  data.code = f[3];
  data.startX = f[4];
  data.startY = f[5];
  data.direction = f[6];
  data.count = static_cast<uint8_t>(count);
  data.values = values;
  return {FrameCodec::Decoded::kData, false};
}

FrameCodec::Result DecodeRawDump(const uint8_t* f, uint32_t now, DataRecord& data,
                                 int32_t (&values)[FrameCodec::kValueCount]) {
  for (int i = 0; i < FrameCodec::kRawDumpValues; ++i) values[i] = f[i];
  data = DataRecord{};
  data.time = now;
  data.count = FrameCodec::kRawDumpValues;
  data.values = values;
  return {FrameCodec::Decoded::kRawDump, false};
}

}  // namespace

int FrameCodec::UsbFrameLength(const uint8_t* report) {
  if (report[0] == 0xF5) return kReportSize;
  return std::min(report[2] + 3, kReportSize);
}

FrameCodec::Result FrameCodec::DecodeReport(const uint8_t* f, int len, uint32_t now,
                                            DataRecord& data, CoordinateRecord& coord,
                                            int32_t (&values)[kValueCount]) {
  if (f == nullptr || len < 1 || len > kMaxDecoded) return {};
  if (f[0] == 0x01 && len >= 6) return DecodeCoordinate(f, len, now, coord);
  if (f[0] == 0x02 && len >= 3) {
    if (f[2] < 5) return DecodeShortReply(f, len, now, data);
    return DecodeData(f, len, now, data, values);
  }
  if (f[0] == 0x5F && len == kReportSize) return DecodeRawDump(f, now, data, values);
  return {};
}

FrameCodec::PanelResult FrameCodec::ParsePanelInfo(const uint8_t* f, int len, PanelInfo& info) {
  if (len != 8 && len != 17) return PanelResult::kBadLength;
  if (len == 8 && (f[4] == 0 || f[5] == 0)) return PanelResult::kEmptySilent;
  if (len == 17 && std::all_of(f + 4, f + 17, [](uint8_t b) { return b == 0; })) {
    return PanelResult::kEmptyReported;
  }
  // Electrode counts of 0 would blank the views: invalid, as in the short form.
  if (len == 17 && (f[4] == 0 || f[5] == 0)) return PanelResult::kEmptySilent;
  info.xCount = f[4];
  info.yCount = f[5];
  info.resolution = U16(f + 6);
  if (len == 17) {
    info.xRange = U16(f + 9);
    info.yRange = U16(f + 11);
  }
  return PanelResult::kValid;
}

bool FrameCodec::ParseVersion(const uint8_t* f, int len, std::string& text) {
  if (f == nullptr || len < 4) return false;
  if (f[3] == 0x04) text.assign(reinterpret_cast<const char*>(f + 4), static_cast<size_t>(len - 4));
  return true;
}
