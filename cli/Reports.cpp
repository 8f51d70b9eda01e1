#include "cli/Reports.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <pugixml.hpp>
#include <sstream>

#include "savefile/AtomicFile.h"

using analysis::Check;
using analysis::ElectrodeStats;
using analysis::ElectrodeSummary;
using analysis::FormatNumber;
using analysis::StreamKind;
using analysis::TestRun;

namespace {
constexpr const char* kEol = "\r\n";

std::string Fixed(double v, int decimals) {
  if (std::isnan(v)) return "-";
  if (std::isinf(v)) return "inf";
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  return b;
}

std::string State(const ElectrodeSummary& s) {
  return s.open ? "open" : s.shorted ? "short" : "ok";
}

// The electrode a check is about ("" for one about a stroke or the whole unit).
std::string ElectrodeOf(const TestRun& run, const Check& c) {
  return run.casePerItem ? std::string() : c.item;
}

// The JUnit test cases: a check each, or an item each holding its checks ("jitter 0.42 mm;
// rate 120.0 Hz"), passed when all of them passed.
std::vector<Check> CasesOf(const TestRun& run) {
  if (!run.casePerItem) return run.checks;
  std::vector<Check> cases;
  for (const Check& c : run.checks) {
    Check* into = nullptr;
    for (Check& k : cases)
      if (k.group == c.group && k.check == c.item) into = &k;
    if (!into) {
      into = &cases.emplace_back();
      into->group = c.group;
      into->check = c.item;
    }
    const std::string sep = into->text.empty() ? "" : "; ";
    into->text += sep + c.check + " " + c.Shown();
    into->limitText += sep + c.check + " " + c.Limit();
    into->pass = into->pass && c.pass;
  }
  return cases;
}
}  // namespace

void WriteScanHeader(std::ostream& out, const analysis::ScanLayout& layout) {
  out << "scan";
  for (int i = 0; i < layout.Size(); ++i) out << ',' << layout.Name(i);
  out << kEol;
}

void WriteScanRow(std::ostream& out, long scan, std::span<const int32_t> values) {
  out << scan;
  for (int32_t v : values) out << ',' << v;
  out << kEol;
}

void WriteStatsTable(std::ostream& out, const ElectrodeStats& stats) {
  const bool signal = stats.Kind() == StreamKind::kSignal;
  const bool openShort = stats.Kind() == StreamKind::kOpenShort;
  char line[160];
  std::snprintf(line, sizeof line, "%-9s %7s %7s %9s %8s %6s", "electrode", "min", "max", "mean",
                "stddev", "p2p");
  out << line << (signal ? "      snr" : "") << (openShort ? "  state" : "") << "\n";
  for (int i = 0; i < stats.Layout().Size(); ++i) {
    const ElectrodeSummary s = stats.Summary(i);
    std::snprintf(line, sizeof line, "%-9s %7d %7d %9.2f %8.2f %6d", stats.Layout().Name(i).c_str(),
                  s.min, s.max, s.mean, s.stddev, s.p2p);
    out << line;
    if (signal) {
      std::snprintf(line, sizeof line, " %8s", Fixed(s.snr, 1).c_str());
      out << line;
    }
    if (openShort) out << "  " << State(s);
    out << "\n";
  }
}

void WriteStatsCsv(std::ostream& out, const ElectrodeStats& stats) {
  const bool signal = stats.Kind() == StreamKind::kSignal;
  const bool openShort = stats.Kind() == StreamKind::kOpenShort;
  out << "electrode,min,max,mean,stddev,p2p" << (signal ? ",snr" : "")
      << (openShort ? ",state" : "") << kEol;
  for (int i = 0; i < stats.Layout().Size(); ++i) {
    const ElectrodeSummary s = stats.Summary(i);
    out << stats.Layout().Name(i) << ',' << s.min << ',' << s.max << ',' << Fixed(s.mean, 3) << ','
        << Fixed(s.stddev, 3) << ',' << s.p2p;
    if (signal) out << ',' << (std::isnan(s.snr) ? "" : Fixed(s.snr, 3));
    if (openShort) out << ',' << State(s);
    out << kEol;
  }
}

nlohmann::json StatsJson(const ElectrodeStats& stats) {
  nlohmann::json list = nlohmann::json::array();
  for (int i = 0; i < stats.Layout().Size(); ++i) {
    const ElectrodeSummary s = stats.Summary(i);
    nlohmann::json e = {{"electrode", stats.Layout().Name(i)},
                        {"min", s.min},
                        {"max", s.max},
                        {"mean", s.mean},
                        {"stddev", s.stddev},
                        {"p2p", s.p2p}};
    if (stats.Kind() == StreamKind::kSignal) {
      // JSON has no NaN or infinity: null for "not measured", a string for infinity.
      if (std::isnan(s.snr))
        e["snr"] = nullptr;
      else if (std::isinf(s.snr))
        e["snr"] = "inf";
      else
        e["snr"] = s.snr;
    }
    if (stats.Kind() == StreamKind::kOpenShort) e["state"] = State(s);
    list.push_back(e);
  }
  return list;
}

void WriteChecksTable(std::ostream& out, const TestRun& run) {
  // Per group: its count, then every check of the controller and every failing check of
  // an electrode (marked FAIL); passing electrode checks are many and only counted.
  char line[512];
  for (const std::string& g : run.Groups()) {
    int total = 0, failed = 0;
    for (const Check& c : run.checks) {
      if (c.group != g) continue;
      ++total;
      failed += c.pass ? 0 : 1;
    }
    if (total > 0)
      out << g << ": " << total << (total == 1 ? " check, " : " checks, ")
          << (failed ? std::to_string(failed) + " FAILED" : "all passed") << "\n";
    for (const Check& c : run.checks) {
      if (c.group != g || (c.pass && !ElectrodeOf(run, c).empty())) continue;
      std::snprintf(line, sizeof line, "  %-4s %-20s %-22s limit %s\n", c.pass ? "ok" : "FAIL",
                    run.Title(c).c_str(), Printable(c.Shown()).c_str(),
                    Printable(c.Limit()).c_str());
      out << line;
    }
  }
  for (const auto& [g, message] : run.errors)
    out << g << ": NOT MEASURED: " << Printable(message) << "\n";
  for (const auto& [g, message] : run.skipped) out << g << ": skipped: " << message << "\n";
}

void WriteChecksCsv(std::ostream& out, const TestRun& run) {
  auto quoted = [](const std::string& text) {
    const std::string s = Printable(text);
    if (s.find_first_of(",\"#") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
  };
  for (const auto& [name, value] : run.properties)
    out << "# " << name << ',' << quoted(value) << kEol;
  out << "group,check,electrode,value,limit,result" << kEol;
  for (const Check& c : run.checks) {
    out << quoted(c.group) << ',' << quoted(run.Title(c)) << ',' << quoted(ElectrodeOf(run, c))
        << ',' << quoted(c.Shown()) << ',' << quoted(c.Limit()) << ',' << (c.pass ? "pass" : "fail")
        << kEol;
  }
  for (const auto& [g, message] : run.errors)
    out << quoted(g) << ",measurement,," << quoted(message) << ",,error" << kEol;
  for (const auto& [g, message] : run.skipped)
    out << quoted(g) << ",measurement,," << quoted(message) << ",,skipped" << kEol;
}

namespace {
std::string Seconds(double s) {
  char t[32];
  std::snprintf(t, sizeof t, "%.3f", s < 0 ? 0.0 : s);  // C locale: always a '.'
  return t;
}

const std::string* NoteOf(const std::vector<TestRun::Note>& notes, const std::string& group) {
  for (const auto& [g, m] : notes)
    if (g == group) return &m;
  return nullptr;
}
}  // namespace

std::string JUnitXml(const TestRun& run) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  auto suites = doc.append_child("testsuites");
  suites.append_attribute("name") = Printable(run.name).c_str();
  int total = 0, failures = 0, errorCount = 0, id = 0;
  const std::vector<Check> cases = CasesOf(run);
  for (const std::string& g : run.Groups()) {
    int tests = 0, failed = 0;
    for (const Check& c : cases) {
      if (c.group != g) continue;
      ++tests;
      failed += c.pass ? 0 : 1;
    }
    const std::string* err = NoteOf(run.errors, g);
    const std::string* skip = NoteOf(run.skipped, g);
    const int extra = (err ? 1 : 0) + (skip ? 1 : 0);
    auto suite = suites.append_child("testsuite");
    suite.append_attribute("name") = Printable(g).c_str();
    suite.append_attribute("tests") = tests + extra;
    suite.append_attribute("failures") = failed;
    suite.append_attribute("errors") = err ? 1 : 0;
    suite.append_attribute("skipped") = skip ? 1 : 0;
    suite.append_attribute("time") = Seconds(run.Seconds(g)).c_str();
    suite.append_attribute("timestamp") = run.timestamp.c_str();
    suite.append_attribute("hostname") = Printable(run.hostname).c_str();
    suite.append_attribute("id") = id++;
    if (!run.properties.empty()) {
      auto props = suite.append_child("properties");
      for (const auto& [name, value] : run.properties) {
        auto p = props.append_child("property");
        p.append_attribute("name") = Printable(name).c_str();
        p.append_attribute("value") = Printable(value).c_str();
      }
    }
    const std::string classname = Printable("vantrel." + g);
    auto addCase = [&](const std::string& name) {
      auto tc = suite.append_child("testcase");
      tc.append_attribute("classname") = classname.c_str();
      tc.append_attribute("name") = Printable(name).c_str();
      tc.append_attribute("time") = "0.000";
      return tc;
    };
    auto addProblem = [](pugi::xml_node tc, const char* kind, const char* type,
                         const std::string& text) {
      const std::string safe = Printable(text);
      auto f = tc.append_child(kind);
      f.append_attribute("message") = safe.c_str();
      f.append_attribute("type") = type;
      f.text() = safe.c_str();  // older readers ignore the message attribute
    };
    for (const Check& c : cases) {
      if (c.group != g) continue;
      auto tc = addCase(c.Title());
      if (!c.pass)
        addProblem(tc, "failure", "limit",
                   g + " " + c.Title() + ": " + c.Shown() + ", limit " + c.Limit());
    }
    if (err) addProblem(addCase("measurement"), "error", "not measured", *err);
    if (skip) addProblem(addCase("measurement"), "skipped", "skipped", *skip);
    total += tests + extra;
    failures += failed;
    errorCount += err ? 1 : 0;
  }
  suites.append_attribute("tests") = total;
  suites.append_attribute("failures") = failures;
  suites.append_attribute("errors") = errorCount;
  suites.append_attribute("time") = Seconds(run.durationS).c_str();
  std::ostringstream os;
  doc.save(os, "  ");
  return os.str();
}

std::string WriteRunReports(const TestRun& run, const std::string& junit, const std::string& csv,
                            const std::string& json) {
  std::string failed;
  auto write = [&](const std::string& path, const std::string& content) {
    if (std::string error; !WriteFileAtomically(path, content, error)) {
      std::cerr << "vantrel: " << error << "\n";
      failed = error;
    }
  };
  if (!junit.empty()) write(junit, JUnitXml(run));
  if (!csv.empty()) {
    std::ostringstream os;
    WriteChecksCsv(os, run);
    write(csv, os.str());
  }
  if (!json.empty())
    write(json,
          ReportJson(run).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  return failed;
}

nlohmann::json ReportJson(const TestRun& run) {
  auto number = [](const std::optional<double>& v) -> nlohmann::json {
    if (!v || !std::isfinite(*v)) return nullptr;
    return *v;
  };
  nlohmann::json props = nlohmann::json::object();
  for (const auto& [name, value] : run.properties) props[name] = value;
  nlohmann::json groups = nlohmann::json::array();
  for (const std::string& g : run.Groups()) {
    nlohmann::json j = {{"name", g}, {"seconds", run.Seconds(g)}};
    if (const std::string* e = NoteOf(run.errors, g)) j["error"] = *e;
    if (const std::string* s = NoteOf(run.skipped, g)) j["skipped"] = *s;
    groups.push_back(j);
  }
  nlohmann::json checks = nlohmann::json::array();
  for (const Check& c : run.checks)
    checks.push_back({{"group", c.group},
                      {"name", run.Title(c)},
                      {"electrode", ElectrodeOf(run, c)},
                      {"value", c.Shown()},
                      {"limit", c.Limit()},
                      {"result", c.pass ? "pass" : "fail"},
                      {"measured", number(c.value)},
                      {"lower", number(c.low)},
                      {"upper", number(c.high)}});
  return {{"name", run.name},
          {"result", !run.errors.empty() ? "error"
                     : run.Passed()      ? "pass"
                                         : "fail"},
          {"timestamp", run.timestamp},
          {"hostname", run.hostname},
          {"seconds", run.durationS},
          {"properties", props},
          {"groups", groups},
          {"checks", checks}};
}

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
  return savefile::AtomicFile::Write(path, content, error);
}
