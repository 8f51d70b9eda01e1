#include "analysis/Limits.h"

#include <sys/stat.h>
#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>

#include "analysis/LimitsCheck.h"

namespace analysis {

std::string LimitsError::Text() const {
  std::string out = path.empty() ? std::string("limits") : path;
  if (pos.line > 0) {
    out += ":" + std::to_string(pos.line);
    if (pos.column > 0) out += ":" + std::to_string(pos.column);
  }
  out += ": ";
  if (!key.empty()) out += key + ": ";
  return out + message;
}

namespace {

SourcePos Pos(const toml::source_region& r) {
  return SourcePos{static_cast<int>(r.begin.line), static_cast<int>(r.begin.column)};
}

// Collects the first error; every check returns false once one is set.
class Reader {
 public:
  Reader(const std::string& path, LimitsError& err) : path_(path), err_(err) {}

  bool Fail(SourcePos pos, const std::string& key, const std::string& message) {
    err_ = LimitsError{path_, pos, key, message};
    return false;
  }
  bool Fail(const toml::node& n, const std::string& key, const std::string& message) {
    return Fail(Pos(n.source()), key, message);
  }

  bool Integer(const toml::node& n, const std::string& key, int64_t lo, int64_t hi, int64_t& out) {
    if (!n.is_integer()) return Fail(n, key, "must be a whole number");
    out = *n.value<int64_t>();
    if (out < lo || out > hi)
      return Fail(n, key, "must be " + std::to_string(lo) + " to " + std::to_string(hi));
    return true;
  }
  bool Number(const toml::node& n, const std::string& key, std::optional<double>& out) {
    // Doubles hold whole numbers exactly up to 2^53; beyond, a limit would not be the
    // number written.
    constexpr int64_t kExact = int64_t{1} << 53;
    if (const auto* i = n.as_integer()) {
      const int64_t v = i->get();
      if (v > kExact || v < -kExact) return Fail(n, key, "is too large (at most 2^53)");
      out = static_cast<double>(v);
      return true;
    }
    if (const auto* f = n.as_floating_point()) {
      if (!std::isfinite(f->get())) return Fail(n, key, "must be a finite number");
      if (std::fabs(f->get()) > static_cast<double>(kExact))
        return Fail(n, key, "is too large (at most 2^53)");
      out = f->get();
      return true;
    }
    return Fail(n, key, "must be a number");
  }
  bool Text(const toml::node& n, const std::string& key, std::optional<std::string>& out) {
    if (!n.is_string()) return Fail(n, key, "must be a text in quotes");
    out = *n.value<std::string>();
    return true;
  }
  bool Table(const toml::node& n, const std::string& key) {
    return n.is_table() || Fail(n, key, "must be a table");
  }
  bool Unknown(const toml::key& k, const std::string& key, const char* known) {
    return Fail(Pos(k.source()), key, std::string("unknown key (known here: ") + known + ")");
  }

  bool Panel(const toml::table& t, Limits& out);
  bool Touch(const toml::table& t, Limits& out);
  bool Noise(const toml::table& t, Limits& out);
  bool Firmware(const toml::table& t, Limits& out);
  bool Learned(const toml::table& t, Limits& out);
  bool Stream(const toml::key& k, const toml::node& n, Limits& out);
  bool Entry(const toml::node& n, const std::string& key, StreamLimits& s);
  bool Selector(const toml::node& n, const std::string& key, LimitEntry& e);

 private:
  const std::string& path_;
  LimitsError& err_;
};

bool Reader::Panel(const toml::table& t, Limits& out) {
  for (auto&& [k, v] : t) {
    const std::string key = "panel." + std::string(k.str());
    int64_t n = 0;
    if (k.str() == "x_count" || k.str() == "y_count") {
      if (!Integer(v, key, 1, 255, n)) return false;
      (k.str() == "x_count" ? out.xCount : out.yCount) = static_cast<int>(n);
      (k.str() == "x_count" ? out.xCountPos : out.yCountPos) = Pos(v.source());
    } else if (k.str() == "unused") {
      LimitEntry e;
      if (const toml::array* a = v.as_array()) {
        for (const toml::node& el : *a)
          if (!Selector(el, key, e)) return false;
      } else if (!Selector(v, key, e)) {
        return false;
      }
      out.unused = std::move(e.electrodes);
      out.unusedPos = Pos(v.source());
    } else if (k.str() == "width_mm" || k.str() == "height_mm") {
      std::optional<double>& mm = k.str() == "width_mm" ? out.widthMm : out.heightMm;
      if (!Number(v, key, mm)) return false;
      if (!(*mm > 0 && *mm < 10000)) return Fail(v, key, "must be above 0 and below 10000");
    } else {
      return Unknown(k, key, "x_count, y_count, unused, width_mm, height_mm");
    }
  }
  return true;
}

bool Reader::Touch(const toml::table& t, Limits& out) {
  for (auto&& [k, v] : t) {
    const std::string name(k.str());
    const std::string key = "touch." + name;
    std::optional<double> value;
    TouchLimits probe;
    if (!SetTouchLimit(probe, name, 0)) return Unknown(k, key, TouchLimitKeys());
    if (!Number(v, key, value)) return false;
    if (!(*value >= 0 && *value < 1e6)) return Fail(v, key, "must be 0 or more (and below 1e6)");
    if (name == "accuracy_pass_percent" && *value > 100) return Fail(v, key, "must be 0 to 100");
    SetTouchLimit(out.touch, name, *value);
  }
  return true;
}

bool Reader::Noise(const toml::table& t, Limits& out) {
  for (auto&& [k, v] : t) {
    const std::string name(k.str());
    const std::string key = "noise." + name;
    std::optional<double> value;
    NoiseLimits probe;
    if (!SetNoiseLimit(probe, name, 0)) return Unknown(k, key, NoiseLimitKeys());
    if (!Number(v, key, value)) return false;
    const double lo = name == "snr_min_db" ? -1e6 : 0;
    if (!(*value >= lo && *value < 1e6)) return Fail(v, key, "must be 0 or more (and below 1e6)");
    SetNoiseLimit(out.noise, name, *value);
  }
  return true;
}

bool Reader::Firmware(const toml::table& t, Limits& out) {
  for (auto&& [k, v] : t) {
    const std::string key = "firmware." + std::string(k.str());
    if (k.str() == "version") {
      if (!Text(v, key, out.version)) return false;
    } else if (k.str() == "version_pattern") {
      if (!Text(v, key, out.versionPattern)) return false;
      std::string why;
      if (!ValidPattern(*out.versionPattern, why)) return Fail(v, key, why);
    } else {
      return Unknown(k, key, "version, version_pattern");
    }
  }
  if (out.version && out.versionPattern)
    return Fail(t, "firmware", "give either version or version_pattern, not both");
  return true;
}

bool Reader::Learned(const toml::table& t, Limits& out) {
  for (auto&& [k, v] : t) {
    const std::string key = "learned." + std::string(k.str());
    if (k.str() != "runs") return Unknown(k, key, "runs");
    const toml::array* list = v.as_array();
    if (!list) return Fail(v, key, "must be a list of run ids");
    for (const toml::node& id : *list) {
      if (!id.is_string()) return Fail(id, key, "must be a list of run ids");
      out.learnedRuns.push_back(*id.value<std::string>());
    }
  }
  return true;
}

// "12" at text[i...] (digits only: no sign); advances i.
bool Index(std::string_view text, size_t& i, int& out) {
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  const char* b = text.data() + i;
  auto [p, ec] = std::from_chars(b, text.data() + text.size(), out);
  if (ec != std::errc() || p == b) return false;
  i = static_cast<size_t>(p - text.data());
  return true;
}

}  // namespace

bool ParseSelector(std::string_view t, ElectrodeSelector& s) {
  if (t == "all") {
    s = ElectrodeSelector{};
    return true;
  }
  if (t.empty()) return false;
  const char axis = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
  if (axis != 'X' && axis != 'Y') return false;
  s = ElectrodeSelector{axis, 0, -1};
  if (t.size() == 1) return true;
  size_t i = 1;
  if (!Index(t, i, s.first)) return false;
  s.last = s.first;
  if (i == t.size()) return true;
  if (t[i++] != '-') return false;
  if (i < t.size() && std::toupper(static_cast<unsigned char>(t[i])) == axis) ++i;
  return Index(t, i, s.last) && i == t.size();
}

std::string SelectorText(const ElectrodeSelector& sel) {
  std::string n = sel.axis == 'A' ? "all" : std::string(1, sel.axis);
  if (sel.axis != 'A' && sel.last >= 0) {
    n += std::to_string(sel.first);
    if (sel.last != sel.first) n += "-" + std::string(1, sel.axis) + std::to_string(sel.last);
  }
  return n;
}

bool ForEachElectrode(const ElectrodeSelector& sel, const ScanLayout& layout,
                      const std::function<void(int)>& fn, std::string& why) {
  if (sel.first < 0 || sel.last < -1) {
    why = "electrode numbers start at 0";
    return false;
  }
  for (char axis : {'X', 'Y'}) {
    if (sel.axis != 'A' && sel.axis != axis) continue;
    const int count = axis == 'X' ? layout.xCount : layout.yCount;
    if (count == 0) {
      if (sel.axis == 'A') continue;
      why = std::string("measures no ") + axis + " electrodes";
      return false;
    }
    const int last = sel.last < 0 ? count - 1 : sel.last;
    if (last >= count) {
      why = std::string(1, axis) + std::to_string(last) + " is outside the panel (" +
            std::to_string(count) + " " + axis + " electrodes, " + axis + "0 to " + axis +
            std::to_string(count - 1) + ")";
      return false;
    }
    const int offset = axis == 'X' ? 0 : layout.xCount;
    for (int i = sel.first; i <= last; ++i) fn(offset + i);
  }
  return true;
}

namespace {

bool Reader::Selector(const toml::node& n, const std::string& key, LimitEntry& e) {
  ElectrodeSelector s;
  if (!n.is_string() || !ParseSelector(*n.value<std::string>(), s))
    return Fail(n, key,
                "electrodes are \"all\", \"X\", \"Y\", \"X3\", \"X0-X37\" or an array of these");
  if (s.last >= 0 && s.first > s.last)
    return Fail(n, key, "range runs backwards (first above last)");
  e.electrodes.push_back(s);
  return true;
}

bool Reader::Entry(const toml::node& n, const std::string& key, StreamLimits& s) {
  if (!Table(n, key)) return false;
  LimitEntry e;
  e.pos = Pos(n.source());
  e.key = key;
  for (auto&& [k, v] : *n.as_table()) {
    const std::string name(k.str());
    const std::string vkey = key + "." + name;
    if (name == "electrodes") {
      if (const toml::array* a = v.as_array()) {
        if (a->empty()) return Fail(v, vkey, "names no electrode");
        for (const toml::node& el : *a)
          if (!Selector(el, vkey, e)) return false;
      } else if (!Selector(v, vkey, e)) {
        return false;
      }
    } else if (name == "mean_min" || name == "mean_max" || name == "p2p_max" ||
               name == "stddev_max") {
      std::optional<double>& slot = name == "mean_min"   ? e.values.meanMin
                                    : name == "mean_max" ? e.values.meanMax
                                    : name == "p2p_max"  ? e.values.p2pMax
                                                         : e.values.stddevMax;
      if (!Number(v, vkey, slot)) return false;
      if ((name == "p2p_max" || name == "stddev_max") && *slot < 0)
        return Fail(v, vkey, "must not be negative");
    } else {
      return Unknown(k, vkey, "electrodes, mean_min, mean_max, p2p_max, stddev_max");
    }
  }
  if (e.electrodes.empty()) return Fail(n, key, "needs electrodes = \"...\"");
  if (!e.values.Any())
    return Fail(n, key, "checks nothing: give mean_min, mean_max, p2p_max or stddev_max");
  if (e.values.meanMin && e.values.meanMax && *e.values.meanMin > *e.values.meanMax) {
    const toml::node* at = n.as_table()->get("mean_min");
    return Fail(*at, key + ".mean_min",
                "mean_min " + FormatNumber(*e.values.meanMin) + " is above mean_max " +
                    FormatNumber(*e.values.meanMax));
  }
  s.entries.push_back(std::move(e));
  return true;
}

bool Reader::Stream(const toml::key& k, const toml::node& n, Limits& out) {
  const std::string key = "streams." + std::string(k.str());
  StreamLimits s;
  s.stream = FindStream(k.str());
  if (s.stream == nullptr)
    return Fail(Pos(k.source()), key, "unknown stream (known: " + StreamNames() + ")");
  for (const StreamLimits& other : out.streams)
    if (other.stream == s.stream) return Fail(n, key, "stream given twice");
  if (!Table(n, key)) return false;
  s.pos = Pos(n.source());
  for (auto&& [ek, v] : *n.as_table()) {
    const std::string name(ek.str());
    const std::string vkey = key + "." + name;
    int64_t scans = 0;
    if (name == "scans") {
      if (!Integer(v, vkey, 1, 1000000, scans)) return false;
      s.scans = static_cast<int>(scans);
    } else if ((name == "open_below" || name == "short_above") &&
               s.stream->kind == StreamKind::kOpenShort) {
      std::optional<double>& at = name == "open_below" ? s.openBelow : s.shortAbove;
      if (!Number(v, vkey, at)) return false;
      // A mean lies between the smallest and the largest value a stream can carry.
      if (name == "open_below" ? *at <= 0 : *at >= kSampleMax)
        return Fail(v, vkey,
                    "can never flag an electrode (values are 0 to " +
                        std::to_string(kSampleMax) + ")");
    } else if (name == "limits") {
      const toml::array* a = v.as_array();
      if (a == nullptr) return Fail(v, vkey, "must be an array of tables");
      for (size_t i = 0; i < a->size(); ++i)
        if (!Entry(*a->get(i), vkey + "[" + std::to_string(i + 1) + "]", s)) return false;
    } else {
      return Unknown(ek, vkey,
                     s.stream->kind == StreamKind::kOpenShort
                         ? "scans, limits, open_below, short_above"
                         : "scans, limits");
    }
  }
  if (s.openBelow && s.shortAbove && *s.openBelow > *s.shortAbove)
    return Fail(n, key + ".open_below", "open_below is above short_above");
  if (s.entries.empty() && s.stream->kind != StreamKind::kOpenShort)
    return Fail(n, key, "checks nothing: give limits = [ ... ] for its electrodes");
  if (s.scans > 0) {
    std::string why;
    if (!NoiseScansOk(s, s.scans, why))
      return Fail(*n.as_table()->get("scans"), key + ".scans", why);
  }
  out.streams.push_back(std::move(s));
  return true;
}

}  // namespace

bool ParseLimits(std::string_view text, const std::string& path, Limits& out, LimitsError& err) {
  out = Limits{};
  out.path = path;
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    err = LimitsError{path, Pos(e.source()), "", std::string(e.description())};
    return false;
  }
  Reader r(path, err);
  for (auto&& [k, v] : root) {
    const std::string key(k.str());
    if (key == "panel") {
      if (!r.Table(v, key) || !r.Panel(*v.as_table(), out)) return false;
    } else if (key == "firmware") {
      if (!r.Table(v, key) || !r.Firmware(*v.as_table(), out)) return false;
    } else if (key == "touch") {
      if (!r.Table(v, key) || !r.Touch(*v.as_table(), out)) return false;
    } else if (key == "noise") {
      if (!r.Table(v, key) || !r.Noise(*v.as_table(), out)) return false;
    } else if (key == "streams") {
      if (!r.Table(v, key)) return false;
      for (auto&& [sk, sv] : *v.as_table())
        if (!r.Stream(sk, sv, out)) return false;
    } else if (key == "learned") {
      if (!r.Table(v, key) || !r.Learned(*v.as_table(), out)) return false;
    } else if (key == "partial") {
      if (!v.is_boolean()) return r.Fail(v, key, "must be true or false");
      out.partial = *v.value<bool>();
    } else {
      return r.Unknown(k, key, "partial, panel, firmware, streams, touch, noise, learned");
    }
  }
  // A file for the touch tests alone ([touch], or the panel's size) names no stream.
  const bool touchFile =
      root.contains("touch") || root.contains("noise") || out.widthMm || out.heightMm;
  if (out.streams.empty() && !touchFile)
    return r.Fail(SourcePos{}, "",
                  "names no stream to check: give at least one [streams.NAME] with limits");
  if (out.xCount && out.yCount) return ResolveLimits(out, *out.xCount, *out.yCount, err);
  return true;
}

bool LoadLimits(const std::string& path, Limits& out, LimitsError& err, std::string* content) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    err = LimitsError{path, {}, "", "is a folder, not a limits file"};
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err = LimitsError{path, {}, "", "cannot be read"};
    return false;
  }
  // Read at most one byte past the cap: a device or a huge file is refused, not swallowed.
  std::string text;
  char buf[65536];
  while (in && text.size() <= kMaxLimitsFileBytes) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<size_t>(in.gcount()));
  }
  if (text.size() > kMaxLimitsFileBytes) {
    err = LimitsError{path, {}, "",
                      "is larger than " + std::to_string(kMaxLimitsFileBytes >> 20) +
                          " MB: not a limits file"};
    return false;
  }
  if (in.bad()) {
    err = LimitsError{path, {}, "", "cannot be read"};
    return false;
  }
  if (content) *content = text;
  return ParseLimits(text, path, out, err);
}

bool NoiseScansOk(const StreamLimits& s, int scans, std::string& why) {
  if (scans >= 2) return true;
  for (const LimitEntry& e : s.entries)
    if (e.values.p2pMax || e.values.stddevMax) {
      why = "p2p_max and stddev_max need at least 2 scans (the noise of one scan is 0)";
      return false;
    }
  return true;
}

bool ResolveLimits(Limits& limits, int xCount, int yCount, LimitsError& err) {
  for (StreamLimits& s : limits.streams) {
    s.layout = ScanLayout::For(*s.stream, xCount, yCount);
    s.perElectrode.assign(static_cast<size_t>(s.layout.Size()), LimitValues{});
    std::string why;
    for (const ElectrodeSelector& sel : limits.unused) {
      // An axis this stream does not measure has nothing to leave out.
      const ScanLayout both{xCount, yCount};
      const bool ok = ForEachElectrode(
          sel, both, [](int) {}, why);
      if (!ok) {
        err = LimitsError{limits.path, limits.unusedPos, "panel.unused", why};
        return false;
      }
      if ((sel.axis == 'X' && s.layout.xCount == 0) || (sel.axis == 'Y' && s.layout.yCount == 0))
        continue;
      ForEachElectrode(
          sel, s.layout, [&](int i) { s.perElectrode[static_cast<size_t>(i)].unused = true; }, why);
    }
    for (const LimitEntry& e : s.entries) {
      auto fail = [&](const std::string& message) {
        err = LimitsError{limits.path, e.pos, e.key + ".electrodes", message};
        return false;
      };
      for (const ElectrodeSelector& sel : e.electrodes) {
        std::string clash;
        const bool ok = ForEachElectrode(
            sel, s.layout,
            [&](int i) {
              LimitValues& v = s.perElectrode[static_cast<size_t>(i)];
              if (e.values.meanMin) v.meanMin = e.values.meanMin;
              if (e.values.meanMax) v.meanMax = e.values.meanMax;
              if (e.values.p2pMax) v.p2pMax = e.values.p2pMax;
              if (e.values.stddevMax) v.stddevMax = e.values.stddevMax;
              if (clash.empty() && v.meanMin && v.meanMax && *v.meanMin > *v.meanMax)
                clash = "with the entries before it, " + s.layout.Name(i) +
                        " has mean_min above mean_max";
            },
            why);
        if (!ok)
          return fail(why.rfind("measures no", 0) == 0
                          ? std::string("stream ") + s.stream->name + " " + why
                          : why);
        if (!clash.empty()) return fail(clash);
      }
    }
  }
  return true;
}

bool CheckComplete(const Limits& limits, LimitsError& err) {
  // Unused electrodes may leave a stream nothing to check: its electrodes would drop out
  // of the report and the panel pass on what is left.
  for (const StreamLimits& s : limits.streams) {
    const bool openShort = s.stream->kind == StreamKind::kOpenShort;
    const bool checks = std::any_of(s.perElectrode.begin(), s.perElectrode.end(),
                                    [&](const LimitValues& v) {
                                      return !v.unused && (openShort || v.Any());
                                    });
    if (!checks) {
      err = LimitsError{limits.path, s.pos, std::string("streams.") + s.stream->name,
                        "checks nothing: every electrode it would check is unused"};
      return false;
    }
  }
  if (limits.partial) return true;
  for (const StreamLimits& s : limits.streams) {
    if (s.stream->kind == StreamKind::kOpenShort) continue;
    std::string missing;
    int count = 0;
    for (int i = 0; i < s.layout.Size(); ++i) {
      if (static_cast<size_t>(i) < s.perElectrode.size() &&
          (s.perElectrode[static_cast<size_t>(i)].Any() ||
           s.perElectrode[static_cast<size_t>(i)].unused))
        continue;
      if (++count <= 5) missing += (missing.empty() ? "" : ", ") + s.layout.Name(i);
    }
    if (count == 0) continue;
    if (count > 5) missing += " and " + std::to_string(count - 5) + " more";
    err = LimitsError{limits.path, s.pos, std::string("streams.") + s.stream->name,
                      "no limit for " + missing +
                          " (every electrode needs one; write partial = true at the top "
                          "of the file for a partial test)"};
    return false;
  }
  return true;
}

bool ValidPattern(const std::string& p, std::string& why) {
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '\\') {
      if (++i == p.size()) {
        why = "pattern ends in a lone backslash";
        return false;
      }
    } else if (p[i] == '[') {
      size_t j = i + 1;
      if (j < p.size() && (p[j] == '!' || p[j] == '^')) ++j;
      if (j < p.size() && p[j] == ']') ++j;
      j = p.find(']', j);
      if (j == std::string::npos) {
        why = "pattern has a [ without its ]";
        return false;
      }
      i = j;
    }
  }
  return true;
}

}  // namespace analysis
