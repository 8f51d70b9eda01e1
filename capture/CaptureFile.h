// Reading a whole capture file, plain or compressed (".zst"), into memory: for small files
// and tools. Replays read captures as streams (CaptureReader).
#pragma once

#include <functional>
#include <string>

#include "capture/CaptureFormat.h"

namespace capture {

// Reads and parses the file. A compressed file that ends early (a recording that was
// not stopped) or is damaged gives the frames up to its last whole line and an error
// with the line number where reading stopped. A file that cannot be read gives an
// error and no frames.
ParseResult LoadCapture(const std::string& path);

// Reads the file as a stream, handing each frame and each mark's text on in order: memory
// does not grow with the file. onFrame returning false stops the reading. The result
// holds the header as read, the warnings and the error; no frames, no marks.
ParseResult ScanCapture(const std::string& path, const std::function<bool(const Frame&)>& onFrame,
                        const std::function<void(const std::string&)>& onMark = {});

}  // namespace capture
