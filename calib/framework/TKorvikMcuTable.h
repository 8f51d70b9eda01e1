#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Microcontrollers a boot loader reports by id.
struct TKorvikMcuRow {
  std::uint16_t Id;
  const char* Name;
};

extern const std::array<TKorvikMcuRow, 6> KorvikMcuTable;

// Row of the first entry with this id, or -1.
int KorvikFindMcu(std::uint16_t id);
