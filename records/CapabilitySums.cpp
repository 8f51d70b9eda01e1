#include "records/CapabilitySums.h"

#include <cmath>
#include <map>
#include <tuple>

#include "records/LineSql.h"

namespace records {

bool AddCapabilitySums(Connection& db, const RunRecord& run) {
  struct Sum {
    int64_t n = 0;
    double total = 0, squares = 0;
    std::optional<double> low, high;
  };
  // In key order, so that concurrent writers lock rows alike.
  std::map<std::tuple<std::string, std::string, std::string>, Sum> sums;
  for (const analysis::Check& m : run.checks) {
    if (!m.value || !std::isfinite(*m.value) || (!m.low && !m.high)) continue;
    Sum& s = sums[{m.check, m.group, m.item}];
    s.n += 1;
    s.total += *m.value;
    s.squares += *m.value * *m.value;
    s.low = m.low;
    s.high = m.high;
  }
  constexpr int kChunk = 200;
  const std::string day = run.startedUtc.substr(0, 10);
  auto limit = [](const std::optional<double>& v) -> SqlValue {
    if (!v || !std::isfinite(*v)) return std::monostate{};
    return *v;
  };
  std::vector<SqlValue> params;
  for (auto it = sums.begin(); it != sums.end();) {
    params.clear();
    int count = 0;
    for (; it != sums.end() && count < kChunk; ++it, ++count) {
      const auto& [check, group, item] = it->first;
      const Sum& s = it->second;
      params.insert(params.end(), {day, run.station, group, item, check, s.n, s.total, s.squares,
                                   limit(s.low), limit(s.high)});
    }
    if (!db.Exec(sql::AddCapabilitySums(count), params)) return false;
  }
  return true;
}

}  // namespace records
