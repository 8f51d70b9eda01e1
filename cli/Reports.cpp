#include "cli/Reports.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>
#include <system_error>

using analysis::CheckResult;
using analysis::ElectrodeStats;
using analysis::ElectrodeSummary;
using analysis::FormatNumber;
using analysis::StreamKind;

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

void WriteChecksTable(std::ostream& out, const std::vector<CheckResult>& checks,
                      const std::map<std::string, std::string>& errors) {
  // Per group: its count, then every check of the controller and every failing check of
  // an electrode (marked FAIL); passing electrode checks are many and only counted.
  std::vector<std::string> groups;
  for (const CheckResult& c : checks)
    if (groups.empty() || groups.back() != c.group) groups.push_back(c.group);
  char line[256];
  for (const std::string& g : groups) {
    int total = 0, failed = 0;
    for (const CheckResult& c : checks) {
      if (c.group != g) continue;
      ++total;
      failed += c.pass ? 0 : 1;
    }
    out << g << ": " << total << (total == 1 ? " check, " : " checks, ")
        << (failed ? std::to_string(failed) + " FAILED" : "all passed") << "\n";
    for (const CheckResult& c : checks) {
      if (c.group != g || (c.pass && !c.electrode.empty())) continue;
      std::snprintf(line, sizeof line, "  %-4s %-20s %-22s limit %s\n", c.pass ? "ok" : "FAIL",
                    c.name.c_str(), c.value.c_str(), c.limit.c_str());
      out << line;
    }
  }
  for (const auto& [g, message] : errors) out << g << ": NOT MEASURED: " << message << "\n";
}

void WriteChecksCsv(std::ostream& out, const std::vector<CheckResult>& checks) {
  auto quoted = [](const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
  };
  out << "group,check,electrode,value,limit,result" << kEol;
  for (const CheckResult& c : checks) {
    out << quoted(c.group) << ',' << quoted(c.name) << ',' << quoted(c.electrode) << ','
        << quoted(c.value) << ',' << quoted(c.limit) << ',' << (c.pass ? "pass" : "fail") << kEol;
  }
}

namespace {
// XML 1.0 cannot carry most control characters: they are written as \xNN.
std::string XmlSafe(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
}  // namespace

bool WriteJUnit(const std::string& path, const std::vector<CheckResult>& checks,
                const std::map<std::string, std::string>& errors, double seconds,
                std::string& error) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  auto suites = doc.append_child("testsuites");
  suites.append_attribute("name") = "vantrel test";
  int total = 0, failures = 0;
  std::vector<std::string> groups;
  for (const CheckResult& c : checks)
    if (groups.empty() || groups.back() != c.group) groups.push_back(c.group);
  for (const auto& [g, m] : errors)
    if (std::find(groups.begin(), groups.end(), g) == groups.end()) groups.push_back(g);
  for (const std::string& g : groups) {
    int tests = 0, failed = 0;
    for (const CheckResult& c : checks) {
      if (c.group != g) continue;
      ++tests;
      failed += c.pass ? 0 : 1;
    }
    const auto err = errors.find(g);
    const int errored = err != errors.end() ? 1 : 0;
    auto suite = suites.append_child("testsuite");
    suite.append_attribute("name") = XmlSafe(g).c_str();
    suite.append_attribute("tests") = tests + errored;
    suite.append_attribute("failures") = failed;
    suite.append_attribute("errors") = errored;
    suite.append_attribute("skipped") = 0;
    suite.append_attribute("time") = "0.000";
    auto addCase = [&](const std::string& name) {
      auto tc = suite.append_child("testcase");
      tc.append_attribute("classname") = XmlSafe("vantrel." + g).c_str();
      tc.append_attribute("name") = XmlSafe(name).c_str();
      tc.append_attribute("time") = "0.000";
      return tc;
    };
    auto addProblem = [](pugi::xml_node tc, const char* kind, const char* type,
                         const std::string& text) {
      auto f = tc.append_child(kind);
      f.append_attribute("message") = text.c_str();
      f.append_attribute("type") = type;
      f.text() = text.c_str();  // older readers ignore the message attribute
    };
    for (const CheckResult& c : checks) {
      if (c.group != g) continue;
      auto tc = addCase(c.name);
      if (!c.pass)
        addProblem(tc, "failure", "limit",
                   XmlSafe(g + " " + c.name + ": " + c.value + ", limit " + c.limit));
    }
    if (err != errors.end())
      addProblem(addCase("measurement"), "error", "not measured", XmlSafe(err->second));
    total += tests + errored;
    failures += failed;
  }
  int errorCount = static_cast<int>(errors.size());
  suites.append_attribute("tests") = total;
  suites.append_attribute("failures") = failures;
  suites.append_attribute("errors") = errorCount;
  char t[32];
  std::snprintf(t, sizeof t, "%.3f", seconds);  // C locale: always a '.'
  suites.append_attribute("time") = t;
  std::ostringstream os;
  doc.save(os, "  ");
  return WriteFileAtomically(path, os.str(), error);
}

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = "cannot write " + path;
      return false;
    }
    out << content;
    out.flush();
    if (!out) {
      error = "cannot write " + path;
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    error = "cannot write " + path + ": " + ec.message();
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
}
