#include "calib/framework/TKorvikUsbScenario.h"

std::uint8_t TKorvikUsbScenario::State() const {
  for (const auto& unit : FUnits)
    if (unit->State() == TKorvikUsbScenarioUnit::StateFailed) return StateFailed;
  return FUnits.empty() ? StateCompleted : 0;
}
