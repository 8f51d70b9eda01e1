// Turns the frames delivered to the XY views into stored and drawn points and value
// maps. The XY Window and the full-screen window share it with their own options.
#pragma once

#include <QColor>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "CPointStore.h"
#include "CXYCoordDraw.h"
#include "link/TransFrame.h"

class CDrawArea;
class CTransCtrl;
class QImage;
class QPainter;

class CXYFrameHandler {
 public:
  static constexpr int kValueMapMs = 40;  // queued value map cells are drawn this often

  CXYFrameHandler(CTransCtrl& ctrl, CXYCoordDraw& draw, CPointStore& store);

  // The window's drawing area: value maps are queued and drawn into it by a timer.
  void SetArea(CDrawArea* area) { area_ = area; }
  // Draws the queued value map cells now.
  void DrawQueuedValues();

  // Called for every point stored from a report: its position k in the report and
  // whether it came from a serial single-touch report.
  using PointFn = std::function<void(const TouchPoint& pt, int k, bool serial)>;

  // Handles one frame, drawing into img. printValues prints values in the value map.
  // Returns true when img changed and should be shown. Points are drawn at once (over any
  // queued cells); value map cells are queued for the timer when there is a drawing area.
  bool Handle(const TransFrame& frame, QImage& img, bool printValues, const PointFn& onPoint);
  // Draws one stored point as the current link draws it (serial and OSType 1: fixed
  // scale; OSType 2: panel scale; otherwise not at all).
  void DrawStored(const TouchPoint& pt, QPainter* p);
  // The link is gone: every stroke ends, in the store too, so that neither the drawing
  // nor a redraw joins a finger's trace across the gap.
  void EndStrokes();
  // Draws the whole store, oldest first. When the ring has wrapped, a note on the drawing
  // says that older points are not shown.
  void Replay(QPainter* p);
  static constexpr const char* kWrappedNote = "older points not shown";
  static QColor NoteColour() { return QColor(255, 240, 160); }

 private:
  int DrawMode();
  void DrawWrappedNote(QPainter& p);
  bool HandleSerialPoint(int len, const uint8_t* bytes, QPainter* p, const PointFn& onPoint);
  bool HandleMultiPoint(int len, const uint8_t* bytes, QPainter* p, const PointFn& onPoint);
  bool HandleDataFrame(const DataRecord& rec, QImage& img, bool printValues);

  CTransCtrl& ctrl_;
  CXYCoordDraw& draw_;
  CPointStore& store_;
  CDrawArea* area_ = nullptr;
  QTimer valueTimer_;
};
