// A user-interface thread with work to do: keeps a Wave Window's values from the data
// records it is handed and paints the whole window into an image every 100 ms.
#pragma once

#include <QImage>
#include <QTimer>
#include <cstdint>

#include "link/TransTypes.h"
#include "views/CWaveGraph.h"

class BusyWaveUi {
 public:
  BusyWaveUi(int xCount, int yCount);

  void Start();
  void Stop();
  // Called on the UI thread for every delivered data record.
  void Store(const DataRecord& r);
  int64_t Paints() const { return paints_; }

 private:
  void Paint();

  CWaveGraph graph_;
  QImage image_;
  QTimer timer_;
  int64_t paints_ = 0;
};
