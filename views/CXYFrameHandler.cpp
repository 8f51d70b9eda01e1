#include "CXYFrameHandler.h"

#include <QFontMetrics>
#include <QPainter>

#include "CDrawArea.h"
#include "link/CTransCtrl.h"

namespace {

enum DrawMode { kNoDraw = 0, kFixed = 1, kScaled = 2 };

uint16_t U16(const uint8_t* b) {
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

constexpr int kMultiTouchEntry = 6;
constexpr int kValuesCapacity = 128;  // values array of the controller's data record

}  // namespace

CXYFrameHandler::CXYFrameHandler(CTransCtrl& ctrl, CXYCoordDraw& draw, CPointStore& store)
    : ctrl_(ctrl), draw_(draw), store_(store) {
  valueTimer_.setSingleShot(true);
  valueTimer_.setInterval(kValueMapMs);
  QObject::connect(&valueTimer_, &QTimer::timeout, [this] { DrawQueuedValues(); });
}

void CXYFrameHandler::DrawQueuedValues() {
  if (!draw_.HasQueuedValues()) return;
  if (area_ == nullptr) return;
  QPainter p(&area_->Image());
  draw_.DrawQueuedValues(p);
  area_->update();
}

int CXYFrameHandler::DrawMode() {
  const int type = ctrl_.GetLinkType();
  if (type == kLinkCom) return kFixed;
  if (type != kLinkUsb) return kNoDraw;
  const int os = ctrl_.GetOSType();
  if (os == 1) return kFixed;
  if (os == 2) return kScaled;
  return kNoDraw;
}

void CXYFrameHandler::DrawStored(const TouchPoint& pt, QPainter* p) {
  const int mode = DrawMode();
  if (mode == kFixed) draw_.PlotPoint(pt.x, pt.y, pt.finger, pt.status, p);
  if (mode == kScaled) draw_.PlotPointScaled(pt.x, pt.y, pt.finger, pt.status, p);
}

void CXYFrameHandler::EndStrokes() {
  for (int f = 0; f < CXYCoordDraw::kFingers; ++f) {
    const CXYCoordDraw::FingerState& last = draw_.LastPoint(f);
    if (last.state == 0) continue;
    TouchPoint pt;  // status 0: no touch
    pt.finger = static_cast<uint8_t>(f);
    store_.Add(pt);
    draw_.PlotPoint(0, 0, f, 0, nullptr);
  }
}

void CXYFrameHandler::Replay(QPainter* p) {
  const int mode = DrawMode();
  if (mode == kNoDraw) return;
  store_.ForEach([&](const TouchPoint& pt) {
    if (mode == kFixed) {
      draw_.PlotPoint(pt.x, pt.y, pt.finger, pt.status, p);
    } else {
      draw_.PlotPointScaled(pt.x, pt.y, pt.finger, pt.status, p);
    }
  });
  if (store_.Wrapped() && p != nullptr) DrawWrappedNote(*p);
}

// A trace missing from the redrawn picture is never taken for a touch not reported.
void CXYFrameHandler::DrawWrappedNote(QPainter& p) {
  const QString text = QString::fromLatin1(kWrappedNote);
  p.save();
  const QFontMetrics fm(p.font(), p.device());
  const QRect grid = draw_.GridRect();
  const QRect box(grid.left() + 4, grid.bottom() - fm.height() - 8, fm.horizontalAdvance(text) + 12,
                  fm.height() + 4);
  p.fillRect(box, NoteColour());
  p.setPen(Qt::black);
  p.drawText(box, Qt::AlignCenter, text);
  p.restore();
}

bool CXYFrameHandler::Handle(const TransFrame& frame, QImage& img, bool printValues,
                             const PointFn& onPoint) {
  const int len = frame.len;
  const uint8_t* bytes = frame.bytes;
  if (bytes == nullptr || len < 4) return false;
  // Only what was decoded from this frame: a refused frame leaves the last record behind.
  const DataRecord* data = frame.DataReport();
  const bool values = data != nullptr && data->group == 0x4B;
  const int type = ctrl_.GetLinkType();
  if (type == kLinkCom) {
    if (bytes[0] == 0x01) {
      QPainter p(&img);
      return HandleSerialPoint(len, bytes, &p, onPoint);
    }
    return values && HandleDataFrame(*data, img, printValues);
  }
  if (type == kLinkUsb) {
    if (bytes[1] == 0x4D) {
      QPainter p(&img);
      return HandleMultiPoint(len, bytes, &p, onPoint);
    }
    return values && HandleDataFrame(*data, img, printValues);
  }
  return false;
}

bool CXYFrameHandler::HandleSerialPoint(int len, const uint8_t* bytes, QPainter* p,
                                        const PointFn& onPoint) {
  if (len < 6) return false;
  TouchPoint pt;
  pt.status = bytes[1] & 0x01;
  pt.finger = (bytes[1] >> 2) & 0x01;
  pt.x = U16(bytes + 2);
  pt.y = U16(bytes + 4);
  pt.z = len >= 8 ? U16(bytes + 6) : 0;
  if (p != nullptr) draw_.DrawQueuedValues(*p);
  store_.Add(pt);
  draw_.PlotPoint(pt.x, pt.y, pt.finger, pt.status, p);
  if (onPoint) onPoint(pt, 0, true);
  return true;
}

bool CXYFrameHandler::HandleMultiPoint(int len, const uint8_t* bytes, QPainter* p,
                                       const PointFn& onPoint) {
  if (draw_.SkipNextReport()) {
    draw_.SetSkipNextReport(false);
    return false;
  }
  const int n = bytes[3];
  const int mode = DrawMode();
  if (p != nullptr) draw_.DrawQueuedValues(*p);
  uint8_t status = 0;
  for (int k = 0; k < n; ++k) {
    const int at = 4 + kMultiTouchEntry * k;
    if (at + kMultiTouchEntry > len) break;  // never read past the frame
    const uint8_t code = bytes[at];
    if (code == 7) status = 1;
    if (code == 4) status = 2;
    if (code == 0) status = 0;
    TouchPoint pt;
    pt.status = status;
    pt.finger = bytes[at + 1];
    pt.x = U16(bytes + at + 2);
    pt.y = U16(bytes + at + 4);
    store_.Add(pt);
    if (mode == kFixed) draw_.PlotPoint(pt.x, pt.y, pt.finger, pt.status, p);
    if (mode == kScaled) draw_.PlotPointScaled(pt.x, pt.y, pt.finger, pt.status, p);
    if (onPoint) onPoint(pt, k, false);
  }
  return true;
}

bool CXYFrameHandler::HandleDataFrame(const DataRecord& rec, QImage& img, bool printValues) {
  // The point store keeps its traces: a repaint (a window switch among them) draws them
  // again over the grid.
  if (!ctrl_.CommandSent() || rec.values == nullptr) return false;
  const int count = std::min<int>(rec.count, kValuesCapacity);
  draw_.QueueValueMap(rec.startX, rec.startY, rec.direction, rec.values, count, printValues);
  if (area_ == nullptr) {
    QPainter p(&img);
    draw_.DrawQueuedValues(p);
    return true;
  }
  // The timer draws the cells and shows them: no repaint per frame.
  if (!valueTimer_.isActive()) valueTimer_.start();
  return false;
}
