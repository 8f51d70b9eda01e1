// Decoding of received frames into the records the windows read.
#pragma once

#include <cstdint>
#include <string>

#include "TransTypes.h"

class FrameCodec {
 public:
  static constexpr int kReportSize = 64;   // one USB input report
  static constexpr int kMaxDecoded = 256;  // longer frames are not decoded
  static constexpr int kValueCount = 128;  // entries of the values array
  static constexpr int kRawDumpValues = 61;

  // Frame length of one USB input report: 64 for device text (0xF5), else byte 2 + 3,
  // never more than the 64 bytes of the report.
  static int UsbFrameLength(const uint8_t* report);

  enum class Decoded {
    kNone,        // not decoded
    kCoordinate,  // single-touch report into CoordinateRecord
    kShortReply,  // group and sub-command bytes into DataRecord
    kData,        // data report into DataRecord and the values
    kRawDump,     // 61 one-byte values into DataRecord and the values
  };
  struct Result {
    Decoded kind = Decoded::kNone;
    bool replyOk = false;  // a short reply whose status byte is 1
  };

  // Decodes one received frame. Only the records of the decoded kind change.
  static Result DecodeReport(const uint8_t* frame, int len, uint32_t now, DataRecord& data,
                             CoordinateRecord& coord, int32_t (&values)[kValueCount]);

  // Panel information reply (0x4C / 0x06).
  enum class PanelResult {
    kValid,          // info filled
    kEmptySilent,    // an electrode count of 0 (either form): restore silently
    kEmptyReported,  // 17-byte form all zero: restore and report
    kBadLength,      // any other length: report
  };
  static PanelResult ParsePanelInfo(const uint8_t* frame, int len, PanelInfo& info);

  // Version reply: false (nothing done) when shorter than 4 bytes; otherwise true, and
  // when byte 3 is 0x04 the text is replaced by bytes 4 to len - 1.
  static bool ParseVersion(const uint8_t* frame, int len, std::string& text);
};
