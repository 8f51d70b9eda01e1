// Reading a capture file, plain or compressed (".zst").
#pragma once

#include <string>

#include "capture/CaptureFormat.h"

namespace capture {

// Reads and parses the file. A compressed file that ends early (a recording that was
// not stopped) or is damaged gives the frames up to its last whole line and an error
// with the line number where reading stopped. A file that cannot be read gives an
// error and no frames.
ParseResult LoadCapture(const std::string& path);

// The text of the file, decompressed when its name ends in ".zst". On a compressed
// stream that ends early or is damaged, the text decompressed so far and a problem.
bool ReadCaptureText(const std::string& path, std::string& text, std::string& problem);

}  // namespace capture
