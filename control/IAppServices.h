// What dialogs and windows ask of the application.
#pragma once

#include <string>

// The link state the main window's status line shows.
enum class LinkStatus { kDisconnected, kConnected };

// "TPC Port: CONNECTED" or "TPC Port: DISCONNECTED".
inline const char* LinkStatusText(LinkStatus status) {
  return status == LinkStatus::kConnected ? "TPC Port: CONNECTED" : "TPC Port: DISCONNECTED";
}

class IAppServices {
 public:
  virtual ~IAppServices() = default;
  // Main window's status line.
  virtual void SetLinkStatus(LinkStatus status) = 0;
  // Gives X count, Y count and resolution of the settings record to the open views.
  virtual void PushViewSettings() = 0;
};
