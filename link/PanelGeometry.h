// The panel's geometry as the transfer controller keeps it: what the settings configure
// and what the controller reported, apart.
#pragma once

#include "TransTypes.h"

struct PanelGeometry {
  // X_Count, Y_Count and XY_Coord_Resolution of the settings (no ranges).
  PanelInfo configured{38, 22, 256, 0, 0};
  // The controller's last panel information; its ranges stay known once reported.
  PanelInfo reported;
  // The reported counts win from the report on, until the configured ones are set again
  // or the controller reports none.
  bool reportedInForce = false;

  // The geometry in force.
  PanelInfo InForce() const {
    if (reportedInForce) return reported;
    return {configured.xCount, configured.yCount, configured.resolution, reported.xRange,
            reported.yRange};
  }
};
