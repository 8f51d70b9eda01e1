// What the transfer controller needs of the application. Called on the user-interface
// thread (through the deliverer).
#pragma once

#include "TransTypes.h"

class ITransHost {
 public:
  virtual ~ITransHost() = default;
  // The controller reported its panel; info is now the geometry in force (the
  // controller's Geometry() has both). The open views take it.
  virtual void ApplyPanelInfo(const PanelInfo& info) = 0;
  // The controller reported no panel: the configured geometry, info, is in force again.
  virtual void RestorePanelInfo(const PanelInfo& /*info*/) {}
  // Shows "Fail to read the panel information" (posted: the receive thread does not wait).
  virtual void ShowPanelInfoFailure() = 0;
  // The device under the open link went away (a serial port hung up).
  virtual void OnLinkLost() {}
};
