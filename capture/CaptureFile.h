// Reading a whole capture file, plain or compressed (".zst"), into memory: for small files
// and tools. Replays read captures as streams (CaptureReader).
#pragma once

#include <string>

#include "capture/CaptureFormat.h"

namespace capture {

// Reads and parses the file. A compressed file that ends early (a recording that was
// not stopped) or is damaged gives the frames up to its last whole line and an error
// with the line number where reading stopped. A file that cannot be read gives an
// error and no frames.
ParseResult LoadCapture(const std::string& path);

}  // namespace capture
