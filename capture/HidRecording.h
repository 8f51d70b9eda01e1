// The text format of the Linux HID tools' recorder, which kernel developers exchange and
// replay into a virtual kernel device: "#" comments, "D:" device index, "R:" report
// descriptor (length, bytes), "N:" name, "P:" physical path, "I:" bus vendor product,
// "E: sec.usec length bytes" an input report. Captures convert to it and back.
//
// Written: the frames as reports crossing the wire in the unnumbered 64-byte layout (a
// frame whose header gives its length is padded to 64 bytes, others go as they are);
// device frames are "E:" lines, host frames "# O:" lines in the same form (replay tools
// skip comments: they play input reports only); the capture's header and its marks ride
// along in "# vantrel: key: value" lines. Read back, a report is cut to its frame's own
// length, so a capture comes back frame for frame, marks in their places.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace capture {

class CaptureSink;

// The report descriptor of the unnumbered 64-byte layout: one vendor-defined collection
// with a 64-byte input and a 64-byte output report.
std::span<const uint8_t> Unnumbered64Descriptor();

struct ConvertStats {
  uint64_t frames = 0;
  uint64_t skipped = 0;  // reports that are not controller frames (another collection)
  std::vector<std::string> warnings;  // what was read otherwise than written, by line
};
using ConvertProgress = std::function<void(double fraction)>;

// True when the file starts as a capture does ("# vantrel-capture").
bool LooksLikeCapture(const std::string& path);

// A capture (plain or .zst) into recorder text. false with error (naming the line) when
// the capture cannot be read to its end or a frame does not fit a report; `program` names
// this program in the output.
bool CaptureToHidRecording(const std::string& in, CaptureSink& out, const std::string& program,
                           ConvertStats& stats, std::string& error,
                           const ConvertProgress& progress = {});

// A recording (of a real controller, or one written above) into a capture. Reports of
// the first device whose first byte is not a controller frame type are skipped.
bool HidRecordingToCapture(const std::string& in, CaptureSink& out, const std::string& program,
                           ConvertStats& stats, std::string& error,
                           const ConvertProgress& progress = {});

}  // namespace capture
