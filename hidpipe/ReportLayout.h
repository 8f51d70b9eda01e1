// The reports the protocol travels in, chosen from an interface's report descriptor.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ReportDescriptor.h"

namespace hidpipe {

// Three framings. Unnumbered: every report is the 64-byte frame area (id 0 on write, which
// the driver drops). Numbered pipe: one output id carries the frame after its id, one input
// id is delivered without its id. Id is frame type: a frame goes out as it stands, its
// first byte being the output id of its type, padded to that id's size; input reports of
// the collection whose ids are frame types are delivered with their id as byte 0 (a chosen
// input id that is no frame type, without it).
struct ReportLayout {
  ReportLayout(bool n = false, uint8_t inId = 0, size_t inBytes = 0, uint8_t outId = 0,
               size_t outBytes = 0, size_t largestIn = 0)
      : numbered(n),
        inputId(inId),
        inputBytes(inBytes),
        outputId(outId),
        outputBytes(outBytes),
        largestInputBytes(largestIn) {}

  bool numbered = false;
  uint8_t inputId = 0;  // 0 when unnumbered
  size_t inputBytes = 0;
  uint8_t outputId = 0;
  size_t outputBytes = 0;
  size_t largestInputBytes = 0;  // of every input report of the interface: one read's room
  bool idIsFrameType = false;    // numbered only; false: numbered pipe
  std::array<uint16_t, 256> outputBytesById{};  // idIsFrameType: bytes after each output id
  std::bitset<256> inputIds;                    // idIsFrameType: input ids delivered
};

struct LayoutChoice {
  bool ok = false;
  ReportLayout layout;
  std::string problem;  // when not ok: why the protocol cannot use the interface
};

// Only vendor-defined top-level collections carry the protocol; the first of them that
// gives a usable layout is taken. Output: with numbered reports whose ids include a frame
// type the host sends (02, F1 to F4), those ids (02 the one shown); otherwise the largest
// output of the collection. Input, from the same collection: the output's own id when it
// holds a whole frame, else the smallest input that does. A whole frame is frameBytes on
// the wire, the id counted (63 bytes after an id, 64 unnumbered); F1 and F3 frames are 8.
LayoutChoice chooseLayout(const ReportDescriptor& descriptor, size_t frameBytes);

// "input 64 bytes, output 64 bytes, unnumbered", "input id 0x06 64 bytes, output id 0x05
// 64 bytes, numbered pipe" or "... id is frame type".
std::string describeLayout(const ReportLayout& layout);

// Report ids that are frame types the controller sends: 0x02, boot loader 0xF1 to 0xF5.
bool isReceivedFrameType(uint8_t id);

// "unnumbered", "numbered-pipe" or "id-is-frame-type".
std::string framingName(const ReportLayout& layout);

}  // namespace hidpipe
