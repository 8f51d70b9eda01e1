// The data view windows driven through the real transfer controller with a scripted
// link: frames, registration, window switches, report counters and CSV logs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "TestUiDeliverer.h"
#include "control/CSettingsRecord.h"
#include "link/CTransCtrl.h"
#include "views/CDrawArea.h"
#include "views/CPointStore.h"
#include "views/CSnapshot.h"
#include "views/CWaveGraph.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"
#include "views/CWndXYFullDialog.h"
#include "views/CXYCoordDraw.h"

namespace {

using Frame = std::vector<uint8_t>;

// Hands out pushed frames one per Read.
class ViewLink : public CTransIFBase {
 public:
  int osType = 1;
  int Open(const void*) override {
    state_ = kLinkIdle;
    return 1;
  }
  void Close() override { state_ = kLinkClosed; }
  int32_t GetState() override { return state_; }
  void SetState(int32_t s) override { state_ = s; }
  int GetOSType() override { return osType; }
  int Write(const uint8_t*, int len) override { return len; }
  int Read(uint8_t* buf) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frames_.empty()) return 0;
    const Frame f = frames_.front();
    frames_.pop_front();
    std::copy(f.begin(), f.end(), buf);
    return static_cast<int>(f.size());
  }
  void Push(const Frame& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(f);
  }

 private:
  std::mutex mutex_;
  std::deque<Frame> frames_;
  std::atomic<int32_t> state_{kLinkClosed};
};

struct Rig {
  CSettingsRecord settings;
  UiDeliverer deliverer;
  CTransCtrl ctrl;
  ViewLink* link = nullptr;
  long long now = 0;
  QStringList messages;
  QStringList notices;
  bool overwrite = true;
  QTemporaryDir dir;

  explicit Rig(int linkType = kLinkUsb, int osType = 1) {
    ctrl.SetDeliverer(&deliverer);
    ctrl.SetLinkFactory([this, osType](int) {
      auto l = std::make_unique<ViewLink>();
      l->osType = osType;
      link = l.get();
      return l;
    });
    ctrl.SetPanelCounts(16, 12, 64);
    EXPECT_EQ(ctrl.Open(linkType, linkType == kLinkCom ? &settings.comPort : nullptr), 1);
  }
  ~Rig() { ctrl.Close(); }

  template <typename W>
  void Answer(W& w, const QString& file) {
    if constexpr (requires { w.clock; }) w.clock = [this] { return now; };
    w.prompts.chooseFile = [file](const QString&) { return file; };
    w.prompts.openFile = [file](const QString&) { return file; };
    w.prompts.notice = [this](const QString& t) { notices << t; };
    w.prompts.askYesNo = [this](const QString&) { return overwrite; };
    w.prompts.message = [this](const QString& t) { messages << t; };
  }
  QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

Frame DataFrame(uint8_t code, uint8_t sx, uint8_t sy, uint8_t dir, std::vector<int> values) {
  Frame f{0x02, 0x4B, 0, code, sx, sy, dir};
  for (int v : values) {
    f.push_back(static_cast<uint8_t>(v & 0xFF));
    f.push_back(static_cast<uint8_t>(v >> 8));
  }
  f[2] = static_cast<uint8_t>(f.size() - 3);
  return f;
}

struct Touch {
  uint8_t code, finger;
  uint16_t x, y;
};
Frame MultiTouch(const std::vector<Touch>& pts) {
  Frame f{0x02, 0x4D, 0, static_cast<uint8_t>(pts.size())};
  for (const Touch& t : pts) {
    f.insert(f.end(),
             {t.code, t.finger, static_cast<uint8_t>(t.x & 0xFF), static_cast<uint8_t>(t.x >> 8),
              static_cast<uint8_t>(t.y & 0xFF), static_cast<uint8_t>(t.y >> 8)});
  }
  f[2] = static_cast<uint8_t>(f.size() - 3);
  return f;
}

bool WaitFor(const std::function<bool()>& cond) {
  return QTest::qWaitFor(cond, 5000);
}

}  // namespace

TEST(WaveWindow, StoresFramesAndLogsThemExactly) {
  Rig rig;
  CWndGraphDialog w(rig.ctrl, rig.settings, nullptr);
  EXPECT_EQ(rig.settings.startup.WaveWindow, 1);
  EXPECT_TRUE(rig.ctrl.IsListenerActive(CWndGraphDialog::kSlot));
  w.SetCounts(38, 22);
  rig.Answer(w, rig.Path("wave.csv"));

  rig.now = 1000;
  w.OnBnClickedLogFile();
  ASSERT_TRUE(w.IsLogging());
  rig.now = 2250;
  rig.link->Push(DataFrame(0x00, 10, 0, 1, {1012, 997, 1000}));
  ASSERT_TRUE(WaitFor([&] { return w.Graph().Values(CWaveGraph::kAxisX)[10] == 1012; }));
  EXPECT_EQ(w.Graph().Values(CWaveGraph::kAxisX)[9], 1000);
  EXPECT_EQ(w.Graph().Values(CWaveGraph::kAxisX)[11], 997);

  // Past the end of the arrays: kept inside, logged whole.
  rig.now = 12345;
  std::vector<int> ten(10, 1100);
  rig.link->Push(DataFrame(0x01, 0, 250, 0, ten));
  ASSERT_TRUE(WaitFor([&] { return w.Graph().Values(CWaveGraph::kAxisY)[254] == 1100; }));

  const QByteArray want =
      "\r\nTime, Length, Start Point X, Start Point Y, Direction, Data\r\n"
      "0001.250,3,10,0,X Axis ,12,-3,0\r\n"
      "0011.345,10,0,250,Y Axis ,100,100,100,100,100,100,100,100,100,100\r\n";
  EXPECT_EQ(ReadAll(rig.Path("wave.csv")), want);

  // Close hides the window; it stays registered and keeps logging.
  w.show();
  w.close();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(rig.settings.startup.WaveWindow, 0);
  EXPECT_TRUE(rig.ctrl.IsListenerActive(CWndGraphDialog::kSlot));
  rig.link->Push(DataFrame(0x00, 0, 0, 1, {1001}));
  ASSERT_TRUE(WaitFor([&] { return w.Graph().Values(CWaveGraph::kAxisX)[0] == 1001; }));
  EXPECT_TRUE(ReadAll(rig.Path("wave.csv")).endsWith(",1,0,0,X Axis ,1\r\n"));
  EXPECT_TRUE(rig.messages.isEmpty());
}

TEST(WaveWindow, MaxLinesBoundAndAppendAfterNo) {
  Rig rig;
  CWndGraphDialog w(rig.ctrl, rig.settings, nullptr);
  rig.Answer(w, rig.Path("bound.csv"));
  auto* edit = w.findChild<QLineEdit*>("id1018");
  ASSERT_NE(edit, nullptr);
  edit->selectAll();
  QTest::keyClicks(edit, "3");
  EXPECT_EQ(w.MaxLogLines(), 3);
  QTest::keyClicks(edit, "x");
  EXPECT_EQ(rig.messages, QStringList{"Please enter an integer."});
  EXPECT_EQ(w.MaxLogLines(), 3);
  rig.messages.clear();

  auto logFrames = [&](int n) {
    for (int i = 0; i < n; ++i) rig.link->Push(DataFrame(0x00, 0, 0, 1, {1000 + i}));
    return WaitFor([&] { return w.Graph().Values(CWaveGraph::kAxisX)[0] == 1000 + n - 1; });
  };
  w.OnBnClickedLogFile();
  EXPECT_FALSE(edit->isEnabled());
  ASSERT_TRUE(logFrames(5));
  const QByteArray first = ReadAll(rig.Path("bound.csv"));
  EXPECT_EQ(first.count("X Axis"), 3);

  w.OnBnClickedLogFile();  // Stop Log
  EXPECT_FALSE(w.IsLogging());
  EXPECT_TRUE(edit->isEnabled());
  rig.overwrite = false;  // No: append after the old content
  w.OnBnClickedLogFile();
  ASSERT_TRUE(w.IsLogging());
  EXPECT_EQ(w.LogLineNumber(), 1);
  ASSERT_TRUE(logFrames(4));
  const QByteArray second = ReadAll(rig.Path("bound.csv"));
  ASSERT_TRUE(second.startsWith(first));
  const QByteArray added = second.mid(first.size());
  EXPECT_TRUE(added.startsWith("\r\nTime, Length,"));
  EXPECT_EQ(added.count("X Axis"), 3);

  w.OnBnClickedLogFile();
  rig.overwrite = true;  // Yes: created anew
  w.OnBnClickedLogFile();
  EXPECT_EQ(ReadAll(rig.Path("bound.csv")),
            "\r\nTime, Length, Start Point X, Start Point Y, Direction, Data\r\n");
  w.OnBnClickedLogFile();

  // A file that cannot be opened is reported and logging stays off.
  rig.Answer(w, rig.Path("missing/dir/x.csv"));
  w.OnBnClickedLogFile();
  EXPECT_FALSE(w.IsLogging());
  EXPECT_EQ(rig.messages, QStringList{"Could not Open File"});
  // Cancelling the chooser changes nothing.
  rig.Answer(w, QString());
  w.OnBnClickedLogFile();
  EXPECT_FALSE(w.IsLogging());
}

TEST(WaveWindow, EscapeUnregistersUntilThePaint) {
  Rig rig;
  CWndGraphDialog w(rig.ctrl, rig.settings, nullptr);
  w.show();
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.IsRegistered());
  EXPECT_FALSE(rig.ctrl.IsListenerActive(CWndGraphDialog::kSlot));
  const uint8_t frame[9] = {0x02, 0x4B, 6, 0, 0, 0, 1, 0xE8, 0x03};
  EXPECT_EQ(w.OnTransCallback(TransFrame::Raw(9, frame)), 1);
  w.OnPaint();
  EXPECT_TRUE(rig.ctrl.IsListenerActive(CWndGraphDialog::kSlot));
  const uint8_t reply[5] = {0x02, 0x4E, 2, 4, 1};
  EXPECT_EQ(w.OnTransCallback(TransFrame::Raw(5, reply)), 0);
}

TEST(XYWindow, CountsReportsAndLogsPoints) {
  Rig rig;
  CXYCoordDraw draw;
  CPointStore store;
  CWndXYDialog xy(rig.ctrl, rig.settings, draw, store, nullptr);
  EXPECT_EQ(rig.settings.startup.XYWindow, 1);
  rig.Answer(xy, rig.Path("xy.csv"));
  const uint8_t early[4] = {0x02, 0x4D, 1, 0};
  EXPECT_EQ(xy.OnTransCallback(TransFrame::Raw(4, early)), 1);  // refused until the first paint
  xy.OnPaint();
  ASSERT_TRUE(xy.IsRegistered());

  rig.now = 500;
  xy.OnBnClickedLogFile();
  ASSERT_TRUE(xy.IsLogging());
  rig.link->Push(MultiTouch({{7, 0, 512, 300}, {4, 1, 512, 300}, {0, 2, 10, 20}}));
  ASSERT_TRUE(WaitFor([&] { return store.Count() == 3; }));
  EXPECT_EQ(xy.ReportCounter(0), 1);
  EXPECT_EQ(xy.ReportCounter(2), 1);
  EXPECT_EQ(xy.ReportCounter(3), 0);
  EXPECT_EQ(store.Slot(2).status, 2);
  rig.now = 3000;
  // Twelve points: counters stop at position 9; an unknown code keeps the last status.
  std::vector<Touch> twelve(12, Touch{7, 0, 100, 100});
  twelve[1].code = 9;
  rig.link->Push(MultiTouch(twelve));
  ASSERT_TRUE(WaitFor([&] { return store.Count() == 15; }));
  EXPECT_EQ(xy.ReportCounter(9), 1);
  EXPECT_EQ(store.Slot(5).status, 1);

  xy.OnTimer();
  EXPECT_EQ(xy.RateText(0), "02");
  EXPECT_EQ(xy.RateText(3), "01");
  EXPECT_EQ(xy.ReportCounter(0), 0);
  xy.OnTimer();
  EXPECT_EQ(xy.RateText(0), "00");

  const QByteArray log = ReadAll(rig.Path("xy.csv"));
  ASSERT_TRUE(
      log.startsWith("\r\nTime,X1,Y1,Z1,X2,Y2,Z2,Pen,Up/Down\r\n"
                     "?,512,300,0,,,,0,Down\r\n"
                     "?,,,,512,300,0,1,Up\r\n"
                     "?,,,,10,20,0,2,Clear\r\n"
                     "0002.500,100,100,0,,,,0,Down\r\n"));
  EXPECT_EQ(log.count("\r\n"), 2 + 3 + 12);

  // Clear and close empty the store; close leaves slot 1.
  xy.OnBnClickedClear();
  EXPECT_EQ(store.Size(), 0);
  store.Add(TouchPoint{});
  xy.show();
  xy.close();
  EXPECT_EQ(store.Size(), 0);
  EXPECT_FALSE(rig.ctrl.IsListenerActive(CWndXYDialog::kSlot));
  EXPECT_EQ(rig.settings.startup.XYWindow, 0);
}

TEST(XYWindow, DataFrameColoursCellsAndKeepsTheTraces) {
  Rig rig;
  CXYCoordDraw draw;
  CPointStore store;
  CWndXYDialog xy(rig.ctrl, rig.settings, draw, store, nullptr);
  xy.OnPaint();
  store.Add(TouchPoint{1, 0, 5, 5, 0});
  rig.link->Push(DataFrame(0x08, 2, 5, 1, {1255, 745}));
  const QImage& img = xy.DrawArea()->Image();
  // Cells are drawn by the window's timer, not per frame.
  ASSERT_TRUE(WaitFor(
      [&] { return img.pixelColor(draw.Column(2) + 5, draw.Row(5) + 5) == QColor(255, 255, 0); }));
  EXPECT_EQ(store.Size(), 1);  // the trace is drawn again at the next repaint
  EXPECT_EQ(img.pixelColor(draw.Column(3) + 5, draw.Row(5) + 5), QColor(255, 0, 255));
  EXPECT_EQ(img.pixelColor(draw.Column(4) + 5, draw.Row(5) + 5), QColor(255, 255, 255));

  // A point that comes after a frame is drawn over its cells, not under them.
  int px = 0, py = 0;
  draw.MapFixed(600, 20, px, py);
  std::vector<int> row(16, 1255);
  rig.link->Push(DataFrame(0x08, 0, 0, 1, row));
  rig.link->Push(MultiTouch({{7, 0, 600, 20}}));
  ASSERT_TRUE(WaitFor([&] { return store.Size() == 2; }));
  EXPECT_FALSE(draw.HasQueuedValues());  // nothing left to cover the point later
  EXPECT_EQ(img.pixelColor(px, py + 1), QColor(0, 0, 255));
  EXPECT_EQ(img.pixelColor(draw.Column(1) + 5, draw.Row(0) + 5), QColor(255, 255, 0));
}

TEST(XYWindow, ExpandAndBackSwitchSlotsAndSkipOneReport) {
  Rig rig;
  CXYCoordDraw draw;
  CPointStore store;
  CWndXYDialog xy(rig.ctrl, rig.settings, draw, store, nullptr);
  xy.show();
  xy.OnPaint();
  EXPECT_EQ(xy.FullScreen(), nullptr);
  xy.OnBnClickedExpand();
  CWndXYFullDialog* full = xy.FullScreen();
  ASSERT_NE(full, nullptr);
  EXPECT_TRUE(xy.IsFullScreenVisible());
  EXPECT_FALSE(xy.isVisible());
  EXPECT_TRUE(draw.IsSuspended());
  EXPECT_FALSE(rig.ctrl.IsListenerActive(CWndXYDialog::kSlot));
  EXPECT_TRUE(rig.ctrl.IsListenerActive(CWndXYFullDialog::kSlot));
  EXPECT_EQ(full->geometry(), QGuiApplication::primaryScreen()->geometry());
  full->OnPaint();

  // The first report after the switch is dropped, the next one is drawn.
  rig.link->Push(MultiTouch({{7, 0, 1, 1}, {7, 1, 2, 2}}));
  rig.link->Push(MultiTouch({{7, 0, 300, 400}}));
  ASSERT_TRUE(WaitFor([&] { return store.Count() > 0; }));
  EXPECT_EQ(store.Count(), 1);
  EXPECT_EQ(store.Slot(1).x, 300);
  EXPECT_EQ(xy.ReportCounter(0), 0);  // the full-screen view keeps no counters

  // The heat map of the full-screen window.
  rig.link->Push(DataFrame(0x08, 0, 0, 0, {1255}));
  EXPECT_TRUE(WaitFor([&] {
    return full->DrawArea()->Image().pixelColor(draw.Column(0) + 2, draw.Row(1) - 3) ==
           QColor(255, 255, 0);
  }));

  // Escape performs Back.
  QTest::keyClick(full, Qt::Key_Escape);
  EXPECT_FALSE(full->isVisible());
  EXPECT_TRUE(xy.isVisible());
  EXPECT_FALSE(draw.IsSuspended());
  EXPECT_FALSE(rig.ctrl.IsListenerActive(CWndXYFullDialog::kSlot));
  EXPECT_TRUE(draw.SkipNextReport());
  xy.OnPaint();
  EXPECT_TRUE(rig.ctrl.IsListenerActive(CWndXYDialog::kSlot));
  rig.link->Push(MultiTouch({{7, 0, 1, 1}}));
  rig.link->Push(MultiTouch({{7, 0, 500, 500}}));
  ASSERT_TRUE(WaitFor([&] { return store.Count() > 1; }));
  EXPECT_EQ(store.Count(), 2);
  EXPECT_EQ(store.Slot(2).x, 500);

  // Expand again reuses the window; the menu's Back ends it.
  xy.OnBnClickedExpand();
  EXPECT_EQ(xy.FullScreen(), full);
  xy.OnBnClickedBack();
  EXPECT_FALSE(xy.IsFullScreenVisible());
}

TEST(XYWindow, SerialReportsUseThePenBit) {
  Rig rig(kLinkCom);
  CXYCoordDraw draw;
  CPointStore store;
  CWndXYDialog xy(rig.ctrl, rig.settings, draw, store, nullptr);
  rig.Answer(xy, rig.Path("serial.csv"));
  xy.OnPaint();
  rig.now = 10;
  xy.OnBnClickedLogFile();
  rig.now = 1234;
  rig.link->Push(Frame{0x01, 0x05, 0x00, 0x02, 0x00, 0x01, 0x07, 0x00});
  rig.link->Push(Frame{0x01, 0x00, 0x10, 0x00, 0x20, 0x00, 0x00, 0x00});
  ASSERT_TRUE(WaitFor([&] { return store.Count() == 2; }));
  EXPECT_EQ(store.Slot(1).finger, 1);
  EXPECT_EQ(store.Slot(1).z, 7);
  EXPECT_EQ(xy.ReportCounter(0), 0);
  EXPECT_TRUE(ReadAll(rig.Path("serial.csv"))
                  .endsWith("0001.224,,,,512,256,0,1,Down\r\n0001.224,16,32,0,,,,0,Up\r\n"))
      << ReadAll(rig.Path("serial.csv")).toStdString();
}

namespace {

int PixelsOf(const QImage& img, const QColor& c) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += img.pixelColor(x, y) == c;
  return n;
}

}  // namespace

// The drawing areas are white: marking a cell, and moving the mark, must not leave boxes
// of the dialog's face colour behind.
TEST(XYWindow, MarkingCellsErasesToTheDrawingAreasOwnBackground) {
  Rig rig;
  CXYCoordDraw draw;
  CPointStore store;
  CWndXYDialog xy(rig.ctrl, rig.settings, draw, store, nullptr);
  xy.show();
  xy.OnPaint();
  const QColor face = xy.palette().color(QPalette::Window);
  ASSERT_NE(face, QColor(Qt::white));
  const QImage& img = xy.DrawArea()->Image();
  ASSERT_EQ(PixelsOf(img, face), 0);
  xy.OnDoubleClick(QPoint(200, 150), Qt::LeftButton, Qt::NoModifier);
  EXPECT_EQ(PixelsOf(img, face), 0) << "first marking";
  const QRect first = draw.MarkerLabelBox();
  xy.OnDoubleClick(QPoint(400, 300), Qt::LeftButton, Qt::NoModifier);
  EXPECT_EQ(PixelsOf(img, face), 0) << "second marking";
  EXPECT_EQ(PixelsOf(img.copy(first), QColor(255, 128, 0)), 0) << "the first label stays";

  xy.OnBnClickedExpand();
  CWndXYFullDialog* full = xy.FullScreen();
  full->OnPaint();
  full->OnDoubleClick(QPoint(300, 200), Qt::LeftButton);
  full->OnDoubleClick(QPoint(500, 400), Qt::LeftButton);
  EXPECT_EQ(PixelsOf(full->DrawArea()->Image(), face), 0) << "full-screen marking";
}

// The full-screen view covers its monitor as a full-screen window, tells how to leave
// for a moment, and a close request from the window manager returns to the XY Window.
TEST(XYWindow, FullScreenWindowIsFullScreenHintsAndClosesToTheXYWindow) {
  Rig rig;
  CXYCoordDraw draw;
  CPointStore store;
  CWndXYDialog xy(rig.ctrl, rig.settings, draw, store, nullptr);
  xy.show();
  xy.OnPaint();
  xy.OnBnClickedExpand();
  CWndXYFullDialog* full = xy.FullScreen();
  ASSERT_NE(full, nullptr);
  EXPECT_TRUE(full->windowState() & Qt::WindowFullScreen);
  EXPECT_EQ(full->screen(), QGuiApplication::primaryScreen());

  full->close();
  EXPECT_FALSE(full->isVisible());
  EXPECT_TRUE(xy.isVisible());
  EXPECT_FALSE(draw.IsSuspended());
  EXPECT_FALSE(rig.ctrl.IsListenerActive(CWndXYFullDialog::kSlot));
  xy.OnPaint();
  EXPECT_TRUE(rig.ctrl.IsListenerActive(CWndXYDialog::kSlot));

  // Shown again: full screen again, with the hint for a moment.
  xy.OnBnClickedExpand();
  EXPECT_TRUE(full->isVisible());
  EXPECT_TRUE(full->windowState() & Qt::WindowFullScreen);
  auto* hint = full->findChild<QLabel*>("escHint");
  ASSERT_NE(hint, nullptr);
  EXPECT_EQ(hint->text(), "Esc: back");
  EXPECT_TRUE(hint->isVisible());
  EXPECT_TRUE(WaitFor([&] { return !hint->isVisible(); }));
}

namespace {

// One M0 raw scan of a 16 x 12 panel: X electrode 3 carries x3, every other value is 1000.
void PushScan(ViewLink& link, int x3) {
  std::vector<int> x(16, 1000), y(12, 1000);
  x[3] = x3;
  link.Push(DataFrame(0x00, 0, 0, 1, x));
  link.Push(DataFrame(0x00, 0, 0, 0, y));
}

// One M1 X raw scan (code 0x08, routed to the XY views): X electrode 3 carries x3.
void PushXScan(ViewLink& link, int x3) {
  std::vector<int> x(16, 1000);
  x[3] = x3;
  link.Push(DataFrame(0x08, 0, 0, 1, x));
}

}  // namespace

TEST(WaveStatistics, SettingsKeepTheirKeysAndSeedKeysStay) {
  Rig rig;
  const QString ini = rig.Path("ZUZIvor.ini");
  const QByteArray seed = "[SETTING]\r\nX_Count=16\r\nY_Count=12\r\n[STARTUP]\r\nWaveWindow=1\r\n";
  {
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(seed);
  }
  rig.settings.SetFilePath(ini.toStdString());
  {
    CWndGraphDialog w(rig.ctrl, rig.settings, nullptr);
    auto* box = w.findChild<QCheckBox*>("statistics");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isChecked());  // off by default
    EXPECT_FALSE(w.Table()->isVisibleTo(&w));
    const int offHeight = w.height();
    box->setChecked(true);
    EXPECT_TRUE(w.StatisticsOn());
    EXPECT_TRUE(w.Table()->isVisibleTo(&w));
    EXPECT_GT(w.height(), offHeight);
    auto* scans = w.findChild<QLineEdit*>("statsScans");
    ASSERT_NE(scans, nullptr);
    EXPECT_EQ(scans->text(), "100");
    scans->setText("40");
    emit scans->editingFinished();
    EXPECT_EQ(w.Live().Window(), 40);
  }
  const QByteArray after = ReadAll(ini);
  EXPECT_TRUE(after.contains("X_Count=16")) << after.constData();
  EXPECT_TRUE(after.contains("WaveWindow=1")) << after.constData();
  EXPECT_TRUE(after.contains("[LIVE_ANALYSIS]")) << after.constData();
  EXPECT_TRUE(after.contains("Statistics=1")) << after.constData();
  EXPECT_TRUE(after.contains("Scans=40")) << after.constData();

  // The next window opens as the last one was left.
  CSettingsRecord again;
  again.LoadSettings(ini.toStdString(), nullptr);
  EXPECT_EQ(again.live.statistics, 1);
  EXPECT_EQ(again.live.scans, 40);
  CWndGraphDialog w2(rig.ctrl, again, nullptr);
  EXPECT_TRUE(w2.StatisticsOn());
  EXPECT_EQ(w2.Live().Window(), 40);
}

TEST(WaveStatistics, WhiskersTableFreezeAndPictures) {
  Rig rig;
  rig.settings.SetFilePath(rig.Path("ZUZIvor.ini").toStdString());
  CWndGraphDialog w(rig.ctrl, rig.settings, nullptr);
  w.SetCounts(16, 12);
  rig.Answer(w, rig.Path("pic.png"));
  w.SetStatistics(true);
  const int32_t seq[] = {1100, 1000, 1170, 915};
  for (int32_t v : seq) PushScan(*rig.link, v);
  ASSERT_TRUE(WaitFor([&] { return w.Live().TotalScans() == 4; }));
  w.OnTimer();

  // X electrode 3: min 915, max 1170, mean 1046.25 over its bar (last value 915).
  const CWaveGraph& g = w.Graph();
  const QImage& img = w.Canvas()->Image();
  const QPoint o(8, 8);  // the X frame's origin
  const int left = o.x() + g.BarLeft(3), mid = left + g.BarWidth() / 2;
  EXPECT_EQ(img.pixelColor(left, o.y() + g.ValueRow(1170)), CWaveGraph::WhiskerColour());
  EXPECT_EQ(img.pixelColor(left, o.y() + g.ValueRow(915)), CWaveGraph::WhiskerColour());
  EXPECT_EQ(img.pixelColor(left, o.y() + g.ValueRow(1046.25)), CWaveGraph::MeanColour());
  EXPECT_EQ(img.pixelColor(mid, o.y() + g.ValueRow(1100)), CWaveGraph::WhiskerColour());
  // Electrode 4 never moved: no whisker above its bar.
  EXPECT_EQ(img.pixelColor(o.x() + g.BarLeft(4), o.y() + g.ValueRow(1170)), QColor(Qt::white));

  // The table: one row per electrode, X3 the worst and highlighted.
  QTableWidget* t = w.Table();
  ASSERT_EQ(t->rowCount(), 28);
  EXPECT_EQ(t->item(3, 0)->text(), "X3");
  EXPECT_EQ(t->item(3, 1)->text(), "915");
  EXPECT_EQ(t->item(3, 2)->text(), "1170");
  EXPECT_EQ(t->item(3, 5)->text(), "255");
  EXPECT_NE(t->item(3, 0)->background(), t->item(20, 0)->background());

  // Freeze: the screen keeps its picture, data are still counted.
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  const QImage before = w.Canvas()->Shown().copy();
  QTest::keyClick(&w, Qt::Key_Space);
  EXPECT_TRUE(w.IsFrozen());
  EXPECT_TRUE(w.StatusText().contains("FROZEN"));
  PushScan(*rig.link, 1255);
  ASSERT_TRUE(WaitFor([&] { return w.Live().TotalScans() == 5; }));
  w.OnTimer();
  EXPECT_EQ(w.Canvas()->Shown(), before);
  EXPECT_EQ(t->item(3, 2)->text(), "1170");
  QTest::keyClick(&w, Qt::Key_Space);
  EXPECT_FALSE(w.IsFrozen());
  EXPECT_FALSE(w.StatusText().contains("FROZEN"));
  w.OnTimer();
  EXPECT_NE(w.Canvas()->Shown(), before);
  EXPECT_EQ(t->item(3, 2)->text(), "1255");

  // "Save table..." writes the figures as CSV.
  rig.Answer(w, rig.Path("table.csv"));
  auto* saveTable = w.findChild<QPushButton*>("statsSaveTable");
  ASSERT_NE(saveTable, nullptr);
  saveTable->click();
  const QByteArray csv = ReadAll(rig.Path("table.csv"));
  EXPECT_TRUE(
      csv.startsWith("electrode,min,max,mean,stddev,p2p,flag,stream,scans,limits\nX0,1000,1000,"))
      << csv.constData();
  EXPECT_TRUE(csv.contains("\nX3,915,1255,")) << csv.constData();
  EXPECT_EQ(csv.count('\n'), 1 + 28);
  rig.Answer(w, rig.Path("pic.png"));

  // Reset empties the window of scans.
  w.OnStatisticsReset();
  EXPECT_EQ(w.Live().Held(), 0);

  // Ctrl+S: a PNG of the window's size that decodes.
  QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
  QImageReader reader(rig.Path("pic.png"));
  const QImage saved = reader.read();
  ASSERT_FALSE(saved.isNull()) << reader.errorString().toStdString();
  // The caption lies below the window, over none of it (the table's last row).
  EXPECT_EQ(saved.size(), w.size() + QSize(0, snapshot::CaptionHeight()));
  EXPECT_TRUE(rig.messages.isEmpty());

  // Off again: the seed's drawing, no whiskers.
  w.SetStatistics(false);
  w.Canvas()->RepaintIfStale();
  EXPECT_NE(img.pixelColor(left, o.y() + g.ValueRow(1170)), CWaveGraph::WhiskerColour());
}

TEST(FullScreenModes, NoiseBaselineDifferenceFreezeAndPicture) {
  Rig rig;
  CXYCoordDraw draw;
  CPointStore store;
  CWndXYDialog xy(rig.ctrl, rig.settings, draw, store, nullptr);
  xy.show();
  xy.OnPaint();
  xy.OnBnClickedExpand();
  CWndXYFullDialog* full = xy.FullScreen();
  ASSERT_NE(full, nullptr);
  full->SetCounts(16, 12);
  rig.Answer(*full, rig.Path("full.png"));
  auto* hint = full->findChild<QLabel*>("modeHint");
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->text().startsWith("Map: value"));

  // X3 swings by +-60, every other electrode is still.
  for (int k = 0; k < 10; ++k) PushXScan(*rig.link, k % 2 ? 1060 : 940);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 10; }));
  QTest::keyClick(full, Qt::Key_N);
  EXPECT_EQ(full->Mode(), MapMode::kNoise);
  EXPECT_TRUE(hint->text().startsWith("Map: noise (10 scans of M1 X raw data)"))
      << hint->text().toStdString();
  EXPECT_EQ(full->Live().Hottest(MapMode::kNoise), 3);
  // The noisy cell is coloured (stddev 60), a still one keeps the white of zero (corners
  // away from the printed figures).
  const QImage& img = full->DrawArea()->Image();
  EXPECT_EQ(img.pixelColor(draw.Column(4) - 2, draw.Row(1) - 2), CXYCoordDraw::ValueColour(60));
  EXPECT_EQ(img.pixelColor(draw.Column(6) - 2, draw.Row(1) - 2), CXYCoordDraw::ValueColour(0));
  QTest::keyClick(full, Qt::Key_P);
  EXPECT_EQ(full->Live().MapValues(MapMode::kPeakToPeak)[3], 120);
  EXPECT_EQ(img.pixelColor(draw.Column(4) - 2, draw.Row(1) - 2), CXYCoordDraw::ValueColour(120));

  // Difference: none before a baseline, then near zero for the same stream and the
  // change where X3 moves.
  QTest::keyClick(full, Qt::Key_D);
  EXPECT_TRUE(hint->text().contains("no baseline")) << hint->text().toStdString();
  QTest::keyClick(full, Qt::Key_B);
  ASSERT_TRUE(full->Live().HasBaseline());
  for (double d : full->Live().MapValues(MapMode::kDifference)) EXPECT_NEAR(d, 0, 1e-9);
  full->Live().Reset();
  for (int k = 0; k < 4; ++k) PushXScan(*rig.link, 1100);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 4; }));
  const std::vector<double> diff = full->Live().MapValues(MapMode::kDifference);
  EXPECT_DOUBLE_EQ(diff[3], 100);
  EXPECT_DOUBLE_EQ(diff[4], 0);
  full->DrawModeMap();
  EXPECT_EQ(img.pixelColor(draw.Column(4) - 2, draw.Row(1) - 2), CXYCoordDraw::ValueColour(100));

  // Baseline saved and loaded back (Ctrl+B, Ctrl+L).
  rig.Answer(*full, rig.Path("base.toml"));
  QTest::keyClick(full, Qt::Key_B, Qt::ControlModifier);
  ASSERT_TRUE(QFile::exists(rig.Path("base.toml")));
  full->Live().TakeBaseline();
  QTest::keyClick(full, Qt::Key_L, Qt::ControlModifier);
  EXPECT_NEAR(full->Live().Baseline()[3], 1000, 1e-9);
  EXPECT_TRUE(rig.messages.isEmpty()) << rig.messages.join(";").toStdString();

  // Freeze: the screen keeps its picture while the figures go on.
  QTest::keyClick(full, Qt::Key_Space);
  EXPECT_TRUE(full->IsFrozen());
  EXPECT_TRUE(hint->text().contains("FROZEN"));
  const QImage still = full->DrawArea()->Shown().copy();
  for (int k = 0; k < 4; ++k) PushXScan(*rig.link, 1200);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 8; }));
  full->DrawModeMap();
  EXPECT_EQ(full->DrawArea()->Shown(), still);
  EXPECT_NE(full->DrawArea()->Image(), still);
  QTest::keyClick(full, Qt::Key_Space);
  EXPECT_FALSE(full->IsFrozen());
  EXPECT_FALSE(hint->text().contains("FROZEN"));

  // Ctrl+S: a PNG of the full-screen window's size.
  rig.Answer(*full, rig.Path("full.png"));
  QTest::keyClick(full, Qt::Key_S, Qt::ControlModifier);
  const QImage saved(rig.Path("full.png"));
  ASSERT_FALSE(saved.isNull());
  EXPECT_EQ(saved.size(), full->size() + QSize(0, snapshot::CaptionHeight()));

  // Back to the value map: the seed's drawing of the values as they come.
  QTest::keyClick(full, Qt::Key_V);
  EXPECT_EQ(full->Mode(), MapMode::kValue);
  xy.OnBnClickedBack();

  // The XY Window saves its picture too.
  rig.Answer(xy, rig.Path("xy.png"));
  EXPECT_TRUE(xy.OnSaveImage());
  const QImage xyPic(rig.Path("xy.png"));
  ASSERT_FALSE(xyPic.isNull());
  EXPECT_EQ(xyPic.size(), xy.size() + QSize(0, snapshot::CaptionHeight()));
}

// One M0 raw scan with every X electrode at x and every Y electrode at y.
void PushM0Scan(ViewLink& link, int xCount, int yCount, int x, int y) {
  link.Push(DataFrame(0x00, 0, 0, 1, std::vector<int>(static_cast<size_t>(xCount), x)));
  link.Push(DataFrame(0x00, 0, 0, 0, std::vector<int>(static_cast<size_t>(yCount), y)));
}

// The cell (i, j) of the full-screen map holds one colour and no printed figure.
bool CellIsPlain(const QImage& img, const CXYCoordDraw& draw, int i, int j, QColor colour) {
  for (int y = draw.Row(j) + 1; y < draw.Row(j + 1) - 1; ++y) {
    for (int x = draw.Column(i) + 1; x < draw.Column(i + 1) - 1; ++x) {
      if (img.pixelColor(x, y) != colour) return false;
    }
  }
  return true;
}

// The windows of the first-use tests over one scripted link; each test opens those it needs.
class FirstUse : public ::testing::Test {
 protected:
  // The Wave Window of a 16 x 12 panel.
  CWndGraphDialog& OpenWave() {
    wave_ = std::make_unique<CWndGraphDialog>(rig.ctrl, rig.settings, nullptr);
    wave_->SetCounts(16, 12);
    return *wave_;
  }
  // The XY Window, shown and painted.
  CWndXYDialog& OpenXY() {
    xy_ = std::make_unique<CWndXYDialog>(rig.ctrl, rig.settings, draw, store, nullptr);
    xy_->show();
    xy_->OnPaint();
    return *xy_;
  }
  // The XY Window, then its full-screen view.
  CWndXYFullDialog* OpenFullScreen() {
    OpenXY().OnBnClickedExpand();
    return xy_->FullScreen();
  }
  CWndXYDialog& XY() { return *xy_; }
  // n M0 raw scans of the 16 x 12 panel at 1000; shape changes the X values of scan k.
  void PushM0Scans(int n, const std::function<void(int k, std::vector<int>& x)>& shape) {
    for (int k = 0; k < n; ++k) {
      std::vector<int> x(16, 1000), y(12, 1000);
      shape(k, x);
      rig.link->Push(DataFrame(0x00, 0, 0, 1, x));
      rig.link->Push(DataFrame(0x00, 0, 0, 0, y));
    }
  }

  Rig rig;
  CXYCoordDraw draw;
  CPointStore store;

 private:
  std::unique_ptr<CWndGraphDialog> wave_;
  std::unique_ptr<CWndXYDialog> xy_;
};

TEST_F(FirstUse, FullScreenModesTakeM0StreamsAndThePanelOfEachOpening) {
  rig.ctrl.SetPanelCounts(16, 12, 64);
  CWndXYFullDialog* full = OpenFullScreen();
  CWndXYDialog& xy = XY();
  ASSERT_NE(full, nullptr);
  QTest::keyClick(full, Qt::Key_N);
  EXPECT_TRUE(full->HintText().contains("waiting for a data stream"))
      << full->HintText().toStdString();

  // M0 reports never reach the XY views' slot: the statistics still see them.
  for (int k = 0; k < 3; ++k) PushM0Scan(*rig.link, 16, 12, k % 2 ? 1040 : 960, 1000);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 3; }));
  full->DrawModeMap();
  EXPECT_TRUE(full->HintText().startsWith("Map: noise (3 scans of M0 raw data)"))
      << full->HintText().toStdString();
  EXPECT_GT(full->Live().MapValues(MapMode::kNoise)[0], 30);

  // Another panel before the next opening: the statistics wait for its counts.
  xy.OnBnClickedBack();
  rig.ctrl.SetPanelCounts(8, 6, 64);
  xy.OnBnClickedExpand();
  full->OnPaint();
  for (int k = 0; k < 2; ++k) PushM0Scan(*rig.link, 8, 6, 1000, 1000);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 2; }));
  EXPECT_EQ(full->Live().Layout().xCount, 8);
  EXPECT_EQ(full->Live().Layout().yCount, 6);
  xy.OnBnClickedBack();
}

// Each map shows the stream it names: cells another stream drew go blank when the stream
// changes, and V shows the values of streams the XY views are not sent (M0, Open/Short).
TEST_F(FirstUse, FullScreenMapsShowOnlyTheStreamTheyName) {
  CWndXYFullDialog* full = OpenFullScreen();
  full->SetCounts(16, 12);
  const QImage& img = full->DrawArea()->Image();
  const QColor white = CXYCoordDraw::Background();
  QTest::keyClick(full, Qt::Key_N);
  for (int k = 0; k < 6; ++k) {
    std::vector<int> y(12, 1000);
    y[5] = k % 2 ? 1040 : 960;
    rig.link->Push(DataFrame(0x00, 0, 0, 1, std::vector<int>(16, 1000)));
    rig.link->Push(DataFrame(0x00, 0, 0, 0, y));
  }
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 6; }));
  full->DrawModeMap();
  ASSERT_FALSE(CellIsPlain(img, draw, 0, 5, white));  // Y5's noise

  // M1 X raw carries no Y data: the Y column is blank under its name.
  for (int k = 0; k < 4; ++k) PushXScan(*rig.link, k % 2 ? 1060 : 940);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 4; }));
  full->DrawArea()->RepaintIfStale();
  full->DrawModeMap();
  EXPECT_TRUE(full->HintText().contains("of M1 X raw data")) << full->HintText().toStdString();
  EXPECT_TRUE(CellIsPlain(img, draw, 0, 5, white));
  EXPECT_FALSE(CellIsPlain(img, draw, 3, 0, white));

  // Open/Short X is not sent to the XY views: V shows its last scan, not the noise.
  for (int k = 0; k < 4; ++k) {
    std::vector<int> x(16, 1000);
    x[3] = k % 2 ? 1100 : 1000;
    rig.link->Push(DataFrame(0x1C, 0, 0, 1, x));
  }
  ASSERT_TRUE(WaitFor([&] {
    return full->HintText().contains("Open/Short") && full->Live().TotalScans() == 4;
  })) << full->HintText().toStdString();
  full->DrawArea()->RepaintIfStale();
  full->DrawModeMap();
  ASSERT_FALSE(CellIsPlain(img, draw, 3, 0, white));
  QTest::keyClick(full, Qt::Key_V);
  full->DrawArea()->RepaintIfStale();
  full->DrawModeMap();
  EXPECT_EQ(img.pixelColor(draw.Column(3) + 2, draw.Row(1) - 3), CXYCoordDraw::ValueColour(100));

  // An M0 stream in V: its values, as they come.
  for (int k = 0; k < 2; ++k) PushScan(*rig.link, 1200);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 2; }));
  full->DrawArea()->RepaintIfStale();
  full->DrawModeMap();
  EXPECT_EQ(img.pixelColor(draw.Column(3) + 2, draw.Row(1) - 3), CXYCoordDraw::ValueColour(200));
  EXPECT_TRUE(full->HintText().startsWith("Map: value (last scan of M0 raw data)"))
      << full->HintText().toStdString();
  XY().OnBnClickedBack();
}

// A redraw shows the newest 9999 points of the ring: the drawing says so once it wrapped.
TEST_F(FirstUse, RedrawOfAWrappedPointRingSaysOlderPointsAreNotShown) {
  const auto noted = [](const QImage& img) {
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (img.pixelColor(x, y) == CXYFrameHandler::NoteColour()) return true;
    return false;
  };
  CWndXYDialog& xy = OpenXY();
  for (int k = 0; k < 50; ++k) store.Add(TouchPoint{1, 0, static_cast<uint16_t>(100 + k), 200, 0});
  xy.OnPaint();
  EXPECT_FALSE(noted(xy.DrawArea()->Image()));
  for (int k = 0; k < CPointStore::kSlots; ++k) store.Add(TouchPoint{1, 0, 300, 300, 0});
  xy.OnPaint();
  EXPECT_TRUE(noted(xy.DrawArea()->Image()));
  xy.OnBnClickedExpand();
  xy.FullScreen()->OnPaint();
  EXPECT_TRUE(noted(xy.FullScreen()->DrawArea()->Image()));
  xy.OnBnClickedBack();
}

// The link lost mid-stroke: the finger's next touch starts a new stroke, on the drawing
// and on a redraw.
TEST_F(FirstUse, ALostLinkEndsEveryStroke) {
  CWndXYDialog& xy = OpenXY();
  rig.link->Push(MultiTouch({{7, 0, 200, 600}}));
  rig.link->Push(MultiTouch({{7, 0, 250, 600}}));
  ASSERT_TRUE(WaitFor([&] { return store.Count() == 2; }));
  xy.EndStrokes();
  rig.link->Push(MultiTouch({{7, 0, 800, 600}}));
  ASSERT_TRUE(WaitFor([&] { return store.Count() == 4; }));
  int px = 0, py = 0;
  draw.MapFixed(500, 600, px, py);
  const auto joined = [&] {
    const QImage& img = xy.DrawArea()->Image();
    for (int dy = -2; dy <= 2; ++dy)
      if (img.pixelColor(px, py + dy) == CXYCoordDraw::FingerColour(0)) return true;
    return false;
  };
  EXPECT_FALSE(joined());
  xy.OnPaint();
  EXPECT_FALSE(joined());
  draw.MapFixed(225, 600, px, py);
  EXPECT_TRUE(joined());  // the stroke before the gap is still drawn
}

// The main window's status line may be covered: the window that saved says where.
TEST_F(FirstUse, TheWindowThatSavedSaysWhere) {
  CWndGraphDialog& w = OpenWave();
  w.SetStatistics(true);
  PushScan(*rig.link, 1100);
  ASSERT_TRUE(WaitFor([&] { return w.Live().TotalScans() == 1; }));
  w.prompts.chooseFile = [this](const QString&) { return rig.Path("t.csv"); };
  ASSERT_TRUE(w.OnSaveTable());
  EXPECT_TRUE(w.Canvas()->Notice().contains("t.csv")) << w.Canvas()->Notice().toStdString();
  CWndXYDialog& xy = OpenXY();
  xy.prompts.chooseFile = [this](const QString&) { return rig.Path("xy.png"); };
  ASSERT_TRUE(xy.OnSaveImage());
  EXPECT_TRUE(xy.DrawArea()->Notice().contains("xy.png")) << xy.DrawArea()->Notice().toStdString();
}

TEST_F(FirstUse, DifferenceWithoutBaselineIsBlankAndTheHintLeavesTheMap) {
  CWndXYFullDialog* full = OpenFullScreen();
  CWndXYDialog& xy = XY();
  full->SetCounts(16, 12);
  for (int k = 0; k < 4; ++k) PushXScan(*rig.link, k % 2 ? 1060 : 940);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 4; }));
  QTest::keyClick(full, Qt::Key_D);
  full->DrawModeMap();
  EXPECT_TRUE(full->HintText().contains("no baseline: press B"));
  // No figure and no "0": blank cells, as before any value came.
  const QImage& img = full->DrawArea()->Image();
  EXPECT_TRUE(CellIsPlain(img, draw, 3, 0, CXYCoordDraw::ValueColour(0)));
  EXPECT_TRUE(CellIsPlain(img, draw, 5, 0, CXYCoordDraw::ValueColour(0)));
  QTest::keyClick(full, Qt::Key_B);
  full->DrawModeMap();
  EXPECT_FALSE(CellIsPlain(img, draw, 5, 0, CXYCoordDraw::ValueColour(0)));  // its "0"

  // The hint shows after a change, then leaves the cells; H and F1 bring it back.
  EXPECT_TRUE(full->HintShown());
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !full->HintShown(); }, CWndXYFullDialog::kModeHintMs + 3000));
  QTest::keyClick(full, Qt::Key_H);
  EXPECT_TRUE(full->HintShown());
  QTest::keyClick(full, Qt::Key_F1);
  EXPECT_FALSE(full->HintShown());
  // Space says at once that the picture stands still.
  QTest::keyClick(full, Qt::Key_Space);
  EXPECT_TRUE(full->HintShown());
  EXPECT_TRUE(full->HintText().contains("FROZEN"));
  // After a key only the map's line shows, off the top row of cells; H shows the keys.
  const QRect topRow(QPoint(draw.Column(0), draw.Row(0)),
                     QPoint(draw.Column(draw.XCount()), draw.Row(1)));
  EXPECT_FALSE(full->findChild<QLabel*>("modeHint")->geometry().intersects(topRow));
  EXPECT_FALSE(full->HintText().contains("N noise"));
  QTest::keyClick(full, Qt::Key_H);
  EXPECT_TRUE(full->HintText().contains("N noise"));
  QTest::keyClick(full, Qt::Key_Space);
  xy.OnBnClickedBack();
}

TEST_F(FirstUse, FrameTheDecoderRefusedIsNeitherShownNorLogged) {
  CWndGraphDialog& w = OpenWave();
  rig.Answer(w, rig.Path("wave.csv"));
  w.OnBnClickedLogFile();
  ASSERT_TRUE(w.IsLogging());
  rig.link->Push(DataFrame(0x00, 0, 0, 1, {1100, 1100}));
  Frame refused = DataFrame(0x00, 4, 0, 1, {1200, 1200});
  refused[2] = 62;  // a length byte the frame does not have
  rig.link->Push(refused);
  rig.link->Push(DataFrame(0x00, 8, 0, 1, {1300}));
  ASSERT_TRUE(WaitFor([&] { return w.Graph().Values(CWaveGraph::kAxisX)[8] == 1300; }));
  EXPECT_EQ(w.Graph().Values(CWaveGraph::kAxisX)[4], 1000);
  w.OnBnClickedLogFile();
  const QList<QByteArray> lines = ReadAll(rig.Path("wave.csv")).split('\n');
  int data = 0;
  for (const QByteArray& l : lines) data += l.contains("X Axis") ? 1 : 0;
  EXPECT_EQ(data, 2) << ReadAll(rig.Path("wave.csv")).constData();
}

TEST_F(FirstUse, SavesAskBeforeReplacingTakeTheirExtensionAndSayWhere) {
  CWndGraphDialog& w = OpenWave();
  w.SetStatistics(true);
  PushScan(*rig.link, 1100);
  ASSERT_TRUE(WaitFor([&] { return w.Live().TotalScans() == 1; }));
  rig.Answer(w, rig.Path("stats-table"));
  ASSERT_TRUE(w.OnSaveTable());
  const QString csv = rig.Path("stats-table.csv");
  ASSERT_TRUE(QFile::exists(csv));
  ASSERT_EQ(rig.notices.size(), 1);
  EXPECT_TRUE(rig.notices[0].contains(QDir::toNativeSeparators(csv)))
      << rig.notices[0].toStdString();
  // Saved again to the same name: No keeps the first file.
  const QByteArray first = ReadAll(csv);
  PushScan(*rig.link, 1200);
  ASSERT_TRUE(WaitFor([&] { return w.Live().TotalScans() == 2; }));
  QStringList asked;
  w.prompts.askYesNo = [&asked](const QString& t) {
    asked << t;
    return false;
  };
  EXPECT_FALSE(w.OnSaveTable());
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(asked[0].contains("already exists"));
  EXPECT_EQ(ReadAll(csv), first);
  rig.Answer(w, rig.Path("pic"));
  ASSERT_TRUE(w.OnSaveImage());
  EXPECT_FALSE(QImage(rig.Path("pic.png")).isNull());

  // Ctrl+L asks for a file to open, never for one to save; Ctrl+B saves a .toml.
  CWndXYFullDialog* full = OpenFullScreen();
  CWndXYDialog& xy = XY();
  full->SetCounts(16, 12);
  rig.Answer(*full, rig.Path("baseline"));
  for (int k = 0; k < 2; ++k) PushXScan(*rig.link, 1000);
  ASSERT_TRUE(WaitFor([&] { return full->Live().TotalScans() == 2; }));
  ASSERT_TRUE(full->TakeBaseline());
  QTest::keyClick(full, Qt::Key_B, Qt::ControlModifier);
  ASSERT_TRUE(QFile::exists(rig.Path("baseline.toml")));
  int saveAsked = 0, openAsked = 0;
  full->prompts.chooseFile = [&](const QString&) {
    ++saveAsked;
    return rig.Path("baseline.toml");
  };
  full->prompts.openFile = [&](const QString&) {
    ++openAsked;
    return rig.Path("baseline.toml");
  };
  QTest::keyClick(full, Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(openAsked, 1);
  EXPECT_EQ(saveAsked, 0);
  EXPECT_TRUE(rig.messages.isEmpty()) << rig.messages.join(";").toStdString();
  xy.OnBnClickedBack();
}

TEST_F(FirstUse, StatisticsMarkBrokenElectrodesFirstNameTheStreamAndZoom) {
  CWndGraphDialog& w = OpenWave();
  rig.Answer(w, rig.Path("unused.csv"));
  w.SetStatistics(true);
  EXPECT_TRUE(w.StatusText().startsWith("no data stream")) << w.StatusText().toStdString();
  // X2 is open (reads 0), X5 a little noisy, the rest still.
  PushM0Scans(6, [](int k, std::vector<int>& x) {
    x[2] = 0;
    x[5] = k % 2 ? 1003 : 997;
  });
  ASSERT_TRUE(WaitFor([&] { return w.Live().TotalScans() == 6; }));
  w.OnTimer();
  QTableWidget* t = w.Table();
  ASSERT_EQ(t->columnCount(), 7);
  ASSERT_NE(t->item(2, 6), nullptr);
  EXPECT_EQ(t->item(2, 6)->text(), "open");
  EXPECT_TRUE(t->item(5, 6)->text().startsWith("noisy: std"))
      << t->item(5, 6)->text().toStdString();
  EXPECT_NE(t->item(2, 0)->background(), t->item(5, 0)->background());
  EXPECT_EQ(t->item(7, 6)->text(), "");
  EXPECT_TRUE(w.StatusText().startsWith("M0 raw data")) << w.StatusText().toStdString();

  // Zoomed to the range of the electrodes that work: a noise of 3 counts shows.
  const CWaveGraph& g = w.Graph();
  EXPECT_TRUE(g.Zoomed());
  EXPECT_GT(g.ValueRow(1000) - g.ValueRow(1003), 10);
  // Statistics off: the fixed scale of -255 ... 255 again.
  w.SetStatistics(false);
  w.OnTimer();
  EXPECT_FALSE(g.Zoomed());
  EXPECT_EQ(g.ValueRow(1003), g.ValueRow(1000));

  // Another stream of the X axis only: the Y bars of the old one turn grey.
  rig.link->Push(DataFrame(0x00, 0, 0, 0, std::vector<int>(12, 1100)));
  ASSERT_TRUE(WaitFor([&] { return g.Values(CWaveGraph::kAxisY)[0] == 1100; }));
  rig.now += 1500;
  rig.link->Push(DataFrame(0x08, 0, 0, 1, std::vector<int>(16, 1100)));
  ASSERT_TRUE(WaitFor([&] { return g.Values(CWaveGraph::kAxisX)[2] == 1100; }));
  w.Canvas()->RepaintIfStale();
  w.OnTimer();
  const QPoint yo = w.findChild<QWidget*>("id1032")->geometry().topLeft();
  const QPoint xo = w.findChild<QWidget*>("id1031")->geometry().topLeft();
  const QImage& img = w.Canvas()->Image();
  const int inBar = g.BarLeft(0) + g.BarWidth() / 2;
  EXPECT_EQ(img.pixelColor(yo + QPoint(inBar, g.ZeroLine() - 10)), CWaveGraph::StaleColour());
  EXPECT_EQ(img.pixelColor(xo + QPoint(inBar, g.ZeroLine() - 10)), g.BarColour(CWaveGraph::kAxisX));
  EXPECT_TRUE(w.StatusText().startsWith("M1 X raw data")) << w.StatusText().toStdString();
}

TEST_F(FirstUse, TouchTracesSurviveModeSwitches) {
  CWndXYFullDialog* full = OpenFullScreen();
  CWndXYDialog& xy = XY();
  full->SetCounts(16, 12);
  full->OnPaint();
  rig.link->Push(MultiTouch({{7, 0, 1, 1}}));  // dropped after the switch
  // A stroke across the middle of the panel, away from the map's row and column, then a
  // value map frame.
  for (int x = 300; x <= 700; x += 50) rig.link->Push(MultiTouch({{7, 0, uint16_t(x), 600}}));
  ASSERT_TRUE(WaitFor([&] { return store.Count() == 9; }));
  rig.link->Push(DataFrame(0x08, 0, 0, 1, {1100}));
  ASSERT_TRUE(WaitFor([&] {
    return full->DrawArea()->Image().pixelColor(draw.Column(1) - 3, draw.Row(1) - 3) ==
           CXYCoordDraw::ValueColour(100);
  }));
  const QColor blue(0, 0, 255);
  const auto traced = [&](const QImage& img) {
    const int y = 600 * img.height() / 1024;
    int n = 0;
    for (int x = 0; x < img.width(); ++x) n += img.pixelColor(x, y) == blue ? 1 : 0;
    return n;
  };
  full->DrawArea()->RepaintIfStale();
  const int before = traced(full->DrawArea()->Image());
  ASSERT_GT(before, 100);
  for (Qt::Key k : {Qt::Key_N, Qt::Key_P, Qt::Key_D, Qt::Key_V}) {
    QTest::keyClick(full, k);
    full->DrawArea()->RepaintIfStale();
    EXPECT_GE(traced(full->DrawArea()->Image()), before * 9 / 10) << k;
  }
  xy.OnBnClickedBack();
}

TEST_F(FirstUse, TouchTracesDrawnBeforeFullScreenAreThereAfterComingBack) {
  CWndXYDialog& xy = OpenXY();
  // A stroke in the XY Window, then a value map frame.
  for (int x = 300; x <= 700; x += 50) rig.link->Push(MultiTouch({{7, 0, uint16_t(x), 600}}));
  ASSERT_TRUE(WaitFor([&] { return store.Count() == 9; }));
  rig.link->Push(DataFrame(0x08, 0, 0, 1, {1100}));
  const QImage& img = xy.DrawArea()->Image();
  const QPoint cell((draw.Column(0) + draw.Column(1)) / 2, (draw.Row(0) + draw.Row(1)) / 2);
  ASSERT_TRUE(WaitFor([&] { return img.pixelColor(cell) == CXYCoordDraw::ValueColour(100); }));
  // Blue pixels along the stroke's row, on the grid the drawing object has now.
  const auto traced = [&](const QImage& on) {
    int px = 0, py = 0;
    draw.MapFixed(500, 600, px, py);
    int n = 0;
    for (int x = 0; x < on.width(); ++x) n += on.pixelColor(x, py) == QColor(0, 0, 255) ? 1 : 0;
    return n;
  };
  const int before = traced(img);
  ASSERT_GT(before, 100);

  xy.OnBnClickedExpand();
  CWndXYFullDialog* full = xy.FullScreen();
  ASSERT_NE(full, nullptr);
  full->OnPaint();
  EXPECT_GT(traced(full->DrawArea()->Image()), 100);
  xy.OnBnClickedBack();
  xy.OnPaint();
  EXPECT_GE(traced(xy.DrawArea()->Image()), before * 9 / 10);
}

TEST_F(FirstUse, StatisticsMarkElectrodesOutsideLoadedLimitsBeforeTheNoisiest) {
  CWndGraphDialog& w = OpenWave();
  const int offHeight = w.height();
  auto* button = w.findChild<QPushButton*>("statsLimits");
  auto* shown = w.findChild<QLabel*>("statsLimitsText");
  ASSERT_NE(button, nullptr);
  ASSERT_NE(shown, nullptr);
  EXPECT_FALSE(button->isVisibleTo(&w));
  w.SetStatistics(true);
  EXPECT_TRUE(button->isVisibleTo(&w));
  // X4 still at 1100, X9 moves by 2, X5 by 3, the rest still at 1000.
  PushM0Scans(6, [](int k, std::vector<int>& x) {
    x[4] = 1100;
    x[9] = k % 2 ? 1002 : 998;
    x[5] = k % 2 ? 1003 : 997;
  });
  ASSERT_TRUE(WaitFor([&] { return w.Live().TotalScans() == 6; }));
  w.OnTimer();
  QTableWidget* t = w.Table();
  EXPECT_EQ(t->item(4, 6)->text(), "");
  EXPECT_TRUE(t->item(9, 6)->text().startsWith("noisy: std"))
      << t->item(9, 6)->text().toStdString();

  const auto write = [](const QString& path, const char* text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  };
  write(rig.Path("panel.toml"),
        "[streams.m0-raw]\nlimits = [\n"
        "  { electrodes = \"all\", mean_min = 950, mean_max = 1050 },\n"
        "  { electrodes = \"X9\", stddev_max = 1 },\n]\n");
  rig.Answer(w, rig.Path("panel.toml"));
  button->click();
  EXPECT_TRUE(rig.messages.isEmpty()) << rig.messages.join(";").toStdString();
  EXPECT_EQ(t->item(4, 6)->text(), "limits: mean");
  EXPECT_EQ(t->item(9, 6)->text(), "limits: stddev");
  EXPECT_TRUE(t->item(5, 6)->text().startsWith("noisy: std"))
      << t->item(5, 6)->text().toStdString();
  EXPECT_EQ(t->item(4, 0)->background(), t->item(9, 0)->background());
  EXPECT_NE(t->item(4, 0)->background(), t->item(5, 0)->background());
  EXPECT_TRUE(shown->text().contains("panel.toml")) << shown->text().toStdString();

  // A file for electrodes this panel lacks: said, and nothing else changes.
  write(rig.Path("bad.toml"),
        "[streams.m0-raw]\nlimits = [ { electrodes = \"X99\", p2p_max = 1 } ]\n");
  rig.Answer(w, rig.Path("bad.toml"));
  button->click();
  ASSERT_EQ(rig.messages.size(), 1);
  EXPECT_TRUE(rig.messages[0].contains("bad.toml")) << rig.messages[0].toStdString();
  EXPECT_EQ(t->item(4, 6)->text(), "limits: mean");
  EXPECT_TRUE(shown->text().contains("panel.toml")) << shown->text().toStdString();

  // Statistics off: the window as it was.
  w.SetStatistics(false);
  EXPECT_FALSE(button->isVisibleTo(&w));
  EXPECT_EQ(w.height(), offHeight);
}
