// Builds the data reports (group 0x4B) of one running stream: each scan is the X
// row and/or the Y row, each row split into frames with start point and direction.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/SimHex.h"

namespace tpcsim {

// Electrodes made faulty from the control channel: noisy (values scattered by up to
// the amplitude), open (value 0 in every stream) or shorted (open/short data far above
// its normal level, other data saturated).
struct ElectrodeFault {
  bool xAxis = true;
  int index = 0;
  bool open = false;
  bool shorted = false;
  int amplitude = 0;  // noisy: values spread over +-amplitude
};

class DataStream {
 public:
  static constexpr int kMaxValuesPerFrame = 28;  // N + 3 must fit a 64-byte report

  // Data code of the stream a data-stream sub-command starts, if it starts one.
  static std::optional<uint8_t> CodeForSubCommand(uint8_t sub);
  // Whether a stream of this data code covers the X axis, the Y axis or both.
  static bool HasXAxis(uint8_t code);
  static bool HasYAxis(uint8_t code);

  // Value offset of electrode `index` on an axis from touching fingers (signal data).
  using BumpFn = std::function<int(bool xAxis, int index)>;

  // seed: the noise of this run of the stream; offset: added to raw, offset and
  // open/short values.
  DataStream(uint8_t code, int xCount, int yCount, int valuesPerFrame, uint32_t seed = 12345,
             int offset = 0);

  uint8_t Code() const { return code_; }
  // Noise coupled in from outside (a generator on the bench): values scatter by up to
  // this many counts, more towards the high electrodes of an axis. 0: none.
  void SetConducted(double counts) { conducted_ = counts; }
  uint32_t Sequence() const { return seq_; }
  int FramesPerScan() const;

  // Next frame of the stream. With `seqStampUs`, values 0..3 carry the sequence
  // number and the low 32 bits of the given time (both as low/high 16-bit halves).
  Bytes Next(std::optional<int64_t> seqStampUs, const BumpFn& bump, bool openFault,
             const std::vector<ElectrodeFault>& faults = {});

 private:
  uint16_t Value(bool xAxis, int index, const BumpFn& bump, bool openFault,
                 const std::vector<ElectrodeFault>& faults);

  uint8_t code_;
  int xCount_;
  int yCount_;
  int perFrame_;
  int frameInScan_ = 0;
  uint32_t seq_ = 0;
  uint32_t scan_ = 0;
  uint32_t noise_;
  int offset_;
  double conducted_ = 0;
};

}  // namespace tpcsim
