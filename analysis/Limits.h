// Limits of a panel self test, read from a TOML file a person can write and edit:
//
//   [panel]                       # expected electrode counts (optional)
//   x_count = 38
//   y_count = 22
//   unused = ["X36-X37"]          # electrodes the panel does not use: never checked
//   width_mm = 190.0              # physical size, for the touch tests in millimetres
//   height_mm = 110.0
//   [touch]                       # touch test limits (TouchLimits.h lists the keys)
//   jitter_max_mm = 0.5
//   [noise]                       # noise immunity sweep limits (NoiseLimits.h)
//   snr_min_db = 14
//   [firmware]                    # expected version text: exact, or a pattern (* ? [..])
//   version = "TPCSIM 1.0.0"      # or version_pattern = "TPCSIM 1.*"
//   [streams.m0-raw]
//   scans = 50                    # scans to measure
//   limits = [                    # later entries win, key by key
//     { electrodes = "all", mean_min = 900, mean_max = 1100, p2p_max = 30, stddev_max = 8 },
//     { electrodes = "X3-X5", mean_min = 850 },
//   ]
//
// Electrodes: "all", "X", "Y", "X3", "X0-X37" or "X0-37", or an array of these.
// Open/short streams also take open_below and short_above (the flag thresholds).
// A self test checks every electrode of every stream it names; a file that means to
// check only some says so with `partial = true` at its top.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/DataStreams.h"
#include "analysis/NoiseLimits.h"
#include "analysis/TouchLimits.h"

namespace analysis {

// Where a value stands in its file (1-based; 0 = not from a file).
struct SourcePos {
  int line = 0;
  int column = 0;
};

// A refused limits file: its path, the place, the key and what is wrong.
struct LimitsError {
  std::string path;
  SourcePos pos;
  std::string key;
  std::string message;
  // "limits.toml:12:5: streams.m0-raw.limits[2].mean_min: ..."
  std::string Text() const;
};

struct LimitValues {
  std::optional<double> meanMin, meanMax, p2pMax, stddevMax;
  bool unused = false;  // an electrode the panel does not use: no check at all
  bool Any() const { return meanMin || meanMax || p2pMax || stddevMax; }
};

struct ElectrodeSelector {
  char axis = 'A';  // 'A' every electrode of the stream, 'X' or 'Y'
  int first = 0;
  int last = -1;  // -1: to the axis's end
};

struct LimitEntry {
  std::vector<ElectrodeSelector> electrodes;
  LimitValues values;
  SourcePos pos;
  std::string key;  // "streams.m0-raw.limits[2]"
};

struct StreamLimits {
  const StreamInfo* stream = nullptr;
  int scans = 0;  // 0: the caller's default
  std::optional<double> openBelow, shortAbove;
  std::vector<LimitEntry> entries;
  SourcePos pos;
  // Filled by ResolveLimits: the limits of every electrode of the stream's scans.
  ScanLayout layout;
  std::vector<LimitValues> perElectrode;
};

struct Limits {
  std::string path;
  bool partial = false;  // electrodes without limits are meant
  std::optional<int> xCount, yCount;
  SourcePos xCountPos, yCountPos;
  std::vector<ElectrodeSelector> unused;  // electrodes the panel does not use
  SourcePos unusedPos;
  std::optional<std::string> version, versionPattern;
  std::vector<StreamLimits> streams;
  std::optional<double> widthMm, heightMm;  // [panel] physical size
  TouchLimits touch;                        // [touch], defaults for keys not given
  NoiseLimits noise;                        // [noise], defaults for keys not given
  std::vector<std::string> learnedRuns;     // [learned] runs: the kept runs learnt from
};

// The largest limits file read; anything longer is refused unread.
constexpr size_t kMaxLimitsFileBytes = size_t{4} << 20;

// Reads and checks a limits file. False, with err saying where and what, when the file
// cannot be read, is not TOML, has an unknown key, a value of the wrong type, a minimum
// above its maximum, or (when [panel] gives the counts) an electrode outside the panel.
// content: receives the file's bytes as read (for its hash).
bool LoadLimits(const std::string& path, Limits& out, LimitsError& err,
                std::string* content = nullptr);
bool ParseLimits(std::string_view text, const std::string& path, Limits& out, LimitsError& err);

// Fills every stream's per-electrode limits for a panel of these counts. False for an
// electrode outside the panel or an axis the stream does not measure.
bool ResolveLimits(Limits& limits, int xCount, int yCount, LimitsError& err);

// For a self test, after ResolveLimits: every stream checks at least one electrode that is
// not unused, and every electrode of every stream has a limit (open/short streams check
// every electrode's flags anyway), unless the file is partial.
bool CheckComplete(const Limits& limits, LimitsError& err);

// Whether a stream measured over this many scans can check its noise limits (p2p_max,
// stddev_max need 2 scans or more); false with the reason.
bool NoiseScansOk(const StreamLimits& s, int scans, std::string& why);

// "X3", "X0-X37", "Y", "all" into a selector; false when it is none of these.
bool ParseSelector(std::string_view text, ElectrodeSelector& out);
// The selector as a limits file writes it.
std::string SelectorText(const ElectrodeSelector& s);
// Calls fn(index in the layout) for every electrode the selector names on a layout; false
// with the reason when it names one outside it or an axis the layout lacks (an "all"
// selector covers what there is).
bool ForEachElectrode(const ElectrodeSelector& sel, const ScanLayout& layout,
                      const std::function<void(int)>& fn, std::string& why);

// Whether a version pattern (* ? [...] \) is well formed; false with the reason.
bool ValidPattern(const std::string& pattern, std::string& why);

}  // namespace analysis
