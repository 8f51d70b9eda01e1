#include "BusyWaveUi.h"

#include <QPainter>

namespace {
constexpr int kFrameW = 760;
constexpr int kFrameH = 160;
constexpr int kMargin = 8;
constexpr int kYTop = kMargin + kFrameH + CWaveGraph::kIndexOffset + CWaveGraph::kIndexHeight +
                      kMargin + CWaveGraph::kLabelHeight;
}  // namespace

BusyWaveUi::BusyWaveUi(int xCount, int yCount)
    : image_(kFrameW + 2 * kMargin + 8, kYTop + kFrameH + kMargin, QImage::Format_RGB32) {
  graph_.SetFrameSize(kFrameW, kFrameH);
  graph_.SetCounts(xCount, yCount);
  timer_.setInterval(100);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Paint(); });
}

void BusyWaveUi::Start() {
  timer_.start();
}

void BusyWaveUi::Stop() {
  timer_.stop();
}

void BusyWaveUi::Store(const DataRecord& r) {
  if (r.values == nullptr) return;
  if (r.direction == 1) {
    graph_.Store(CWaveGraph::kAxisX, r.startX, r.values, r.count);
  } else {
    graph_.Store(CWaveGraph::kAxisY, r.startY, r.values, r.count);
  }
}

void BusyWaveUi::Paint() {
  image_.fill(QColor(240, 240, 240));
  QPainter p(&image_);
  for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
    p.save();
    p.translate(kMargin, axis == CWaveGraph::kAxisX ? kMargin : kYTop);
    graph_.DrawWaveFrame(p, axis);
    graph_.DrawWaveBars(p, axis);
    p.restore();
  }
  ++paints_;
}
