#include "CWaveGraph.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kRowStep = 13;  // value label rows
constexpr int kRowBoxW = 16;  // box of one label row
constexpr const char kLabelCharset[] = "0123456789-";

}  // namespace

CWaveGraph::CWaveGraph() : font_("Arial") {
  font_.setPointSize(8);
  runIndex_.reserve(8);
  runPos_.reserve(8);
  ResetValues();
}

void CWaveGraph::SetCounts(int xCount, int yCount) {
  count_[kAxisX] = std::clamp(xCount, 0, kMaxValues);
  count_[kAxisY] = std::clamp(yCount, 0, kMaxValues);
}

void CWaveGraph::SetFrameSize(int width, int height) {
  width_ = width;
  height_ = height;
}

void CWaveGraph::ResetValues() {
  for (auto& axis : values_) axis.fill(kZero);
}

int CWaveGraph::BarWidth() const {
  const int n = std::max(count_[kAxisX], count_[kAxisY]);
  if (n == 0) return 0;
  return width_ / n - 1;
}

int CWaveGraph::BarLength(int value) const {
  const int v = std::clamp(value - kZero, -255, 255);
  return ((height_ / 2 - 4) * v) / 255;
}

void CWaveGraph::LabelChars(int value, char (&rows)[4]) {
  const int v = std::clamp(value - kZero, -255, 255);
  const int a = std::abs(v);
  rows[0] = v < 0 ? '-' : ' ';
  rows[1] = a < 100 ? ' ' : static_cast<char>('0' + a / 100);
  rows[2] = a < 10 ? ' ' : static_cast<char>('0' + (a / 10) % 10);
  rows[3] = static_cast<char>('0' + a % 10);
}

std::array<std::string, 4> CWaveGraph::LabelRows(int value) {
  char c[4];
  LabelChars(value, c);
  return {std::string(1, c[0]), std::string(1, c[1]), std::string(1, c[2]), std::string(1, c[3])};
}

int CWaveGraph::Store(Axis a, int start, const int32_t* values, int count) {
  if (values == nullptr || start < 0) return 0;
  int stored = 0;
  for (int k = 0; k < count && start + k < kMaxValues; ++k) {
    values_[a][start + k] = values[k];
    ++stored;
  }
  return stored;
}

void CWaveGraph::DrawWaveFrame(QPainter& p, Axis a) {
  const int w = BarWidth();
  const int c = height_ / 2;
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(background_);
  p.drawRect(0, 0, width_ - 1, height_ - 1);
  p.setBrush(Qt::NoBrush);
  if (a == kAxisX) p.fillRect(-5, height_ + kIndexOffset, width_, kIndexHeight, face_);
  if (w <= 0) return;
  p.setFont(font_);
  p.setBackgroundMode(Qt::TransparentMode);
  text_.Use(p);
  const QColor bar = BarColour(a);
  for (int i = 0; i < count_[a]; ++i) {
    const int x = BarLeft(i);
    p.fillRect(x, c - 2, w, 2, bar);
    if (a == kAxisX && i % 5 == 0) {
      p.setPen(Qt::black);
      CGlyphTextCache::Draw(p, x + 1 + (w - 16) / 2, height_ + kIndexOffset, 40, kIndexHeight,
                            i < 10 ? text_.Text(QString::asprintf("%02d", i)) : text_.Number(i));
    }
  }
}

bool CWaveGraph::PrepareLabelGlyphs() {
  QRawFont font;
  const QRectF box(0, 0, kRowBoxW, kRowStep);
  for (const char* ch = kLabelCharset; *ch != '\0'; ++ch) {
    const CGlyphTextCache::Entry& e = text_.Char(*ch);
    LabelGlyphs& g = labelGlyphs_[static_cast<unsigned char>(*ch)];
    g.n = 0;
    if (e.runs.size() != 1 || !box.contains(e.bounds)) return false;
    const QGlyphRun& run = e.runs.front();
    if (!font.isValid()) font = run.rawFont();
    const QList<quint32> index = run.glyphIndexes();
    const QList<QPointF> pos = run.positions();
    if (run.rawFont() != font || run.flags() != QGlyphRun::GlyphRunFlags() || index.size() > 2 ||
        index.size() != pos.size())
      return false;
    g.n = static_cast<int>(index.size());
    for (int k = 0; k < g.n; ++k) {
      g.index[k] = index[k];
      g.pos[k] = pos[k];
    }
  }
  labelRun_ = QGlyphRun();
  labelRun_.setRawFont(font);
  return true;
}

// The four rows of a value label, top to bottom, as one glyph run when possible. Rows
// are drawn in order either way, so overlapping glyphs blend as row-by-row text would.
void CWaveGraph::DrawLabel(QPainter& p, int tx, int top, int value) {
  char rows[4];
  LabelChars(value, rows);
  if (!oneRun_) {
    for (int r = 0; r < 4; ++r) {
      if (rows[r] == ' ') continue;
      CGlyphTextCache::Draw(p, tx, top + r * kRowStep, kRowBoxW, kRowStep, text_.Char(rows[r]));
    }
    return;
  }
  runIndex_.clear();
  runPos_.clear();
  for (int r = 0; r < 4; ++r) {
    if (rows[r] == ' ') continue;
    const LabelGlyphs& g = labelGlyphs_[static_cast<unsigned char>(rows[r])];
    for (int k = 0; k < g.n; ++k) {
      runIndex_.push_back(g.index[k]);
      runPos_.push_back(g.pos[k] + QPointF(0, r * kRowStep));
    }
  }
  labelRun_.setRawData(runIndex_.data(), runPos_.data(), static_cast<int>(runIndex_.size()));
  p.drawGlyphRun(QPointF(tx, top), labelRun_);
}

void CWaveGraph::DrawWaveBars(QPainter& p, Axis a) {
  const int w = BarWidth();
  if (w <= 0) return;
  const int c = height_ / 2;
  const int count = count_[a];
  const int labelTop = LabelTop(a);
  p.setFont(font_);
  p.setBackgroundMode(Qt::TransparentMode);
  text_.Use(p);
  oneRun_ = PrepareLabelGlyphs();
  if (count != lastLabelCount_[a]) {
    p.fillRect(BarLeft(0), labelTop, width_, kLabelHeight, face_);
    lastLabelCount_[a] = count;
  }
  p.setPen(Qt::black);
  int dx = 0, dy = 0;
  QImage* img = CRasterStamps::PlainImage(p, dx, dy);
  if (img != nullptr && background_.alpha() == 255) {
    stamps_.Use(p, *img);
    if (!stamps_.Failed()) {
      DrawBarsOnImage(p, *img, dx, dy, a);
      return;
    }
  }
  const QColor bar = BarColour(a);
  const QColor white(Qt::white);
  for (int i = 0; i < count; ++i) {
    const int value = values_[a][i];
    const int b = BarLength(value);
    const int x = BarLeft(i);
    p.fillRect(x, labelTop, w, kLabelHeight, white);
    DrawLabel(p, x + 1 + (w - 8) / 2, labelTop, value);
    // Clear the column except the zero line, then fill the bar.
    if (c - 2 >= 1) p.fillRect(x, 1, w, c - 2, background_);
    // Row c belongs to the downward bar; clear it too so no stale row remains.
    if (2 * c - 3 >= c) p.fillRect(x, c, w, c - 2, background_);
    if (b > 0) p.fillRect(x, c - b, w, b, bar);
    if (b < 0) p.fillRect(x, c, w, -b, bar);
  }
}

// The painter path above, pixel for pixel, writing into the image directly; a label
// character that cannot be stamped is drawn with the painter in its turn.
void CWaveGraph::DrawBarsOnImage(QPainter& p, QImage& img, int dx, int dy, Axis a) {
  const int w = BarWidth();
  const int c = height_ / 2;
  const int top = LabelTop(a);
  const QRgb bar = BarColour(a).rgb();
  const QRgb back = background_.rgb();
  const QRgb white = qRgb(255, 255, 255);
  for (int i = 0; i < count_[a]; ++i) {
    const int value = values_[a][i];
    const int b = BarLength(value);
    const int x = BarLeft(i);
    CRasterStamps::Fill(img, x + dx, top + dy, w, kLabelHeight, white);
    char rows[4];
    LabelChars(value, rows);
    const int tx = x + 1 + (w - 8) / 2;
    for (int r = 0; r < 4; ++r) {
      if (rows[r] == ' ') continue;
      const CGlyphTextCache::Entry& e = text_.Char(rows[r]);
      const int ty = top + r * kRowStep;
      if (!stamps_.Stamp(img, tx + dx, ty + dy, kRowBoxW, kRowStep, e))
        CGlyphTextCache::Draw(p, tx, ty, kRowBoxW, kRowStep, e);
    }
    if (c - 2 >= 1) CRasterStamps::Fill(img, x + dx, 1 + dy, w, c - 2, back);
    if (2 * c - 3 >= c) CRasterStamps::Fill(img, x + dx, c + dy, w, c - 2, back);
    if (b > 0) CRasterStamps::Fill(img, x + dx, c - b + dy, w, b, bar);
    if (b < 0) CRasterStamps::Fill(img, x + dx, c + dy, w, -b, bar);
  }
}
