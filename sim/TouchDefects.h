// Defects of a touch panel applied to the coordinate reports the fingers make: position
// noise, a pincushion bending straight lines, an offset, dropped reports, ghost contacts,
// swapped ids and the merging of close contacts. Sizes are in millimetres of the panel.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/TouchScript.h"

namespace tpcsim {

struct TouchDefectSettings {
  double noiseMm = 0;       // each point moved by up to this much (uniform in a disc)
  double pincushionMm = 0;  // depth of the bend (README: how it is measured)
  double offsetXMm = 0, offsetYMm = 0;
  int dropCount = 0;        // reports dropped in a row ...
  int dropEvery = 50;       // ... out of every this many
  int ghosts = 0;           // contacts that appear with nothing on the glass
  int noiseGhosts = 0;      // ... only while the noise source is on
  int swapA = -1, swapB = -1;  // fingers reported with each other's id
  double mergeMm = 0;       // two contacts closer than this (centres) are reported as one
  bool Any() const;
  std::string Text() const;  // for the status line
};

class TouchDefects {
 public:
  static constexpr int kGhostId = 10;  // ghost contacts carry ids from here

  void SetPanel(double widthMm, double heightMm, uint16_t xMax, uint16_t yMax);
  TouchDefectSettings& Settings() { return s_; }
  const TouchDefectSettings& Settings() const { return s_; }
  void Reset() { *this = TouchDefects{}; }

  // The bench's noise source (a charger, a lamp, a generator) beside the panel: a sound
  // panel takes no notice of it.
  void SetNoiseSource(bool on) { noiseSource_ = on; }
  bool NoiseSource() const { return noiseSource_; }
  // Noise coupled in by a generator: ghost contacts, and every point moved by up to
  // jitterMm more.
  void SetConducted(int ghosts, double jitterMm) {
    conductedGhosts_ = ghosts;
    conductedMm_ = jitterMm;
  }

  // Reports are needed while nothing touches (ghost contacts).
  bool NeedsReports() const { return Ghosts() > 0 || ghostsDown_; }

  // Applies the defects to the samples of one report; false when the report is dropped.
  bool Apply(int64_t nowUs, std::vector<TouchScript::Sample>& samples);

 private:
  void Distort(TouchScript::Sample& s);
  void Merge(std::vector<TouchScript::Sample>& samples);
  void AddGhosts(int64_t nowUs, std::vector<TouchScript::Sample>& samples);
  FingerPoint Clamp(double x, double y) const;
  int Ghosts() const {
    return s_.ghosts + (noiseSource_ ? s_.noiseGhosts : 0) + conductedGhosts_;
  }

  TouchDefectSettings s_;
  double widthMm_ = 190, heightMm_ = 110;
  uint16_t xMax_ = 2432, yMax_ = 1408;
  std::mt19937 rng_{20261208};
  uint64_t reports_ = 0;
  uint32_t merged_ = 0;  // fingers folded into another
  bool noiseSource_ = false;
  int conductedGhosts_ = 0;
  double conductedMm_ = 0;
  bool ghostsDown_ = false;
  int ghostPhase_ = 0;  // 0 idle, 1 down, 2 lifted, 3 cleared
  int ghostsShown_ = 0;  // ghosts down in this cycle
  int64_t ghostCycle_ = -1;
};

}  // namespace tpcsim
