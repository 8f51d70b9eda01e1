#include "analysis/TestRun.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace analysis {

void TestRun::Begin() {
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
  timestamp = stamp;
  char host[256] = "";
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
    std::snprintf(host, sizeof host, "localhost");
  hostname = host;
}

void TestRun::SetProperty(const std::string& name, const std::string& value) {
  for (auto& [n, v] : properties)
    if (n == name) {
      v = value;
      return;
    }
  properties.emplace_back(name, value);
}

void TestRun::AddSeconds(const std::string& group, double s) {
  for (auto& [g, v] : groupSeconds)
    if (g == group) {
      v += s;
      return;
    }
  groupSeconds.emplace_back(group, s);
}

double TestRun::Seconds(const std::string& group) const {
  for (const auto& [g, v] : groupSeconds)
    if (g == group) return v;
  return 0;
}

int TestRun::Failed() const {
  return static_cast<int>(
      std::count_if(checks.begin(), checks.end(), [](const Check& c) { return !c.pass; }));
}

std::vector<std::string> TestRun::Groups() const {
  std::vector<std::string> out;
  auto add = [&](const std::string& g) {
    if (std::find(out.begin(), out.end(), g) == out.end()) out.push_back(g);
  };
  for (const Check& c : checks) add(c.group);
  for (const Note& n : errors) add(n.first);
  for (const Note& n : skipped) add(n.first);
  return out;
}

}  // namespace analysis
