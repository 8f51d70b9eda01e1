#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "calib/framework/TKorvikObj.h"

// One step of a scenario. State: 0 not started, 1 completed, 3 failed (others: running).
class TKorvikUsbScenarioUnit : public TKorvikObj {
 public:
  static constexpr std::uint8_t StateNew = 0;
  static constexpr std::uint8_t StateCompleted = 1;
  static constexpr std::uint8_t StateFailed = 3;

  explicit TKorvikUsbScenarioUnit(TKorvikObj* owner) : TKorvikObj(owner) {}

  virtual void Start() {}
  virtual void Step() {}

  std::uint8_t State() const { return FState; }
  void SetState(std::uint8_t state) { FState = state; }
  bool Keep() const { return FKeep; }
  void SetKeep(bool keep) { FKeep = keep; }

 private:
  std::uint8_t FState = StateNew;
  bool FKeep = false;
};

// A sequence of units stepped by the panel's dispatch tick; owns its units.
class TKorvikUsbScenario : public TKorvikObj {
 public:
  static constexpr std::uint8_t StateCompleted = 1;
  static constexpr std::uint8_t StateFailed = 3;

  explicit TKorvikUsbScenario(TKorvikObj* owner, bool dfu = false) : TKorvikObj(owner), FDfu(dfu) {}

  // 1 completed, 3 failed, anything else running. By default: failed when a unit failed,
  // completed when no unit is left.
  virtual std::uint8_t State() const;

  bool IsDfu() const { return FDfu; }
  void AddUnit(std::unique_ptr<TKorvikUsbScenarioUnit> unit) { FUnits.push_back(std::move(unit)); }
  std::vector<std::unique_ptr<TKorvikUsbScenarioUnit>>& Units() { return FUnits; }
  const std::vector<std::unique_ptr<TKorvikUsbScenarioUnit>>& Units() const { return FUnits; }

 private:
  std::vector<std::unique_ptr<TKorvikUsbScenarioUnit>> FUnits;
  bool FDfu = false;
};
