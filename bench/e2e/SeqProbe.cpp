#include "SeqProbe.h"

#include <algorithm>

#include "CpuClock.h"

int SeqProbe::OnTransCallback(const TransFrame& frame) {
  const int len = frame.len;
  const uint8_t* bytes = frame.bytes;
  if (len < 15 || bytes[0] != 0x02 || bytes[1] != 0x4B) return 0;
  const DataRecord& r = ctrl_.GetDataRecord();
  if (r.values == nullptr || r.count < 4 || r.group != 0x4B) return 0;
  const uint32_t now = CpuClock::MonotonicUs32();
  const auto seq = static_cast<int64_t>(static_cast<uint32_t>(r.values[0] & 0xFFFF) |
                                        (static_cast<uint32_t>(r.values[1] & 0xFFFF) << 16));
  const uint32_t sent = static_cast<uint32_t>(r.values[2] & 0xFFFF) |
                        (static_cast<uint32_t>(r.values[3] & 0xFFFF) << 16);
  {
    std::lock_guard<std::mutex> lock(m_);
    latencyUs_.push_back(now - sent);
    if (lastSeq_ >= 0 && seq > lastSeq_ + 1) gaps_ += seq - lastSeq_ - 1;
    if (lastSeq_ >= 0 && seq <= lastSeq_) ++reordered_;
    lastSeq_ = seq;
  }
  delivered_.fetch_add(1);
  lastUs_.store(CpuClock::MonotonicNs() / 1000);
  if (view) view(r);
  return 0;
}

void SeqProbe::Reset() {
  std::lock_guard<std::mutex> lock(m_);
  latencyUs_.clear();
  latencyUs_.reserve(1 << 20);
  gaps_ = 0;
  reordered_ = 0;
  lastSeq_ = -1;
  delivered_.store(0);
}

SeqProbe::Figures SeqProbe::Take() {
  std::lock_guard<std::mutex> lock(m_);
  Figures f;
  f.delivered = delivered_.load();
  f.gaps = gaps_;
  f.reordered = reordered_;
  if (!latencyUs_.empty()) {
    std::vector<uint32_t> v = latencyUs_;
    auto at = [&v](double q) {
      const size_t k =
          std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())));
      std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
      return v[k] / 1000.0;
    };
    f.medianMs = at(0.5);
    f.p99Ms = at(0.99);
    f.maxMs = *std::max_element(v.begin(), v.end()) / 1000.0;
  }
  return f;
}
