#include "calib/framework/TKorvikMcuTable.h"

const std::array<TKorvikMcuRow, 6> KorvikMcuTable = {{
    {0x101, "Nuc100"},
    {0x102, "Nuc102"},
    {0x201, "TR16C"},
    {0x202, "M45"},
    {0x401, "R8C3GA"},
    {0x402, "R8C3MU"},
}};

int KorvikFindMcu(std::uint16_t id) {
  for (std::size_t i = 0; i < KorvikMcuTable.size(); ++i)
    if (KorvikMcuTable[i].Id == id) return static_cast<int>(i);
  return -1;
}
