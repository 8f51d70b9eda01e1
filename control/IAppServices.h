// What dialogs and windows ask of the application.
#pragma once

#include <string>

class IAppServices {
 public:
  virtual ~IAppServices() = default;
  // Main window's status line ("TPC Port: CONNECTED" / "TPC Port: DISCONNECTED").
  virtual void SetStatusText(const std::string& text) = 0;
  // Gives X count, Y count and resolution of the settings record to the open views.
  virtual void PushViewSettings() = 0;
};
