// Limits of the touch performance tests (the [touch] section of a limits file) and the
// panel geometry that turns panel units into millimetres.
#pragma once

#include <string>

namespace analysis {

struct TouchLimits {
  double ghostMax = 0;             // contacts while nothing touches
  double rateMinHz = 100;          // reports per second per contact
  double gapMaxPeriods = 3;        // longest gap, in report periods
  double jitterMaxMm = 0.5;        // held contact: largest distance from its mean
  double linearityMaxMm = 1;       // distance from the fitted line
  double linearityEdgeMaxMm = 2;   // ... within edgeMm of an edge
  double accuracyMaxMm = 1;        // distance from the true position
  double accuracyEdgeMaxMm = 2;    // ... within edgeMm of an edge
  double accuracyPassPercent = 95; // points within their limit
  double edgeMm = 3.5;
  double contactsMin = 5;          // simultaneous contacts
  double idSwapsMax = 0;
  double separationMaxMm = 8;      // smallest edge-to-edge distance still seen as two
  double fingerMm = 7;             // contact diameter, for edge-to-edge distances
  double settleMs = 200;           // jitter: left out at the start and end of a hold
};

// The [touch] keys, in the order a limits file lists them.
const char* TouchLimitKeys();
// Sets one key by its name; false for an unknown key.
bool SetTouchLimit(TouchLimits& limits, const std::string& key, double value);

// Panel units to millimetres: the coordinate ranges (largest values) and the physical size.
struct TouchGeometry {
  double xRange = 0, yRange = 0;
  double widthMm = 0, heightMm = 0;
  bool HasMm() const { return xRange > 0 && yRange > 0 && widthMm > 0 && heightMm > 0; }
  double XMm(double x) const { return x * widthMm / xRange; }
  double YMm(double y) const { return y * heightMm / yRange; }
  double XUnits(double mm) const { return mm * xRange / widthMm; }
  double YUnits(double mm) const { return mm * yRange / heightMm; }
  // Distance in millimetres to the nearest edge of a point in millimetres.
  double EdgeDistanceMm(double xMm, double yMm) const;
};

}  // namespace analysis
