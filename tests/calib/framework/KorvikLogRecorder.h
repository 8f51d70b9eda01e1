#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calib/framework/TKorvikObj.h"

// Collects log calls of framework objects.
struct KorvikLogRecorder {
  struct Entry {
    std::string text;
    std::uint8_t level;
  };
  std::vector<Entry> entries;

  TKorvikLogEvent Sink() {
    return [this](const std::string& text, std::uint8_t level) {
      entries.push_back({text, level});
    };
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : entries)
      if (e.text.rfind(prefix, 0) == 0) ++n;
    return n;
  }
};
