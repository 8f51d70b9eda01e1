// Built only with the thread sanitizer: a worker thread and a timer slot on the
// user-interface thread write one plain int with nothing ordering them. The sanitizer
// run must report it; if it does not, races with the UI thread are hidden from it.
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

namespace {
int g_shared = 0;  // deliberately unguarded
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::atomic<bool> started{false};
  std::thread worker([&] {
    started = true;
    for (int i = 0; i < 100000; ++i) ++g_shared;
  });
  QTimer tick;
  int ticks = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    ++g_shared;
    if (++ticks == 20) app.quit();
  });
  tick.start(1);
  const int rc = app.exec();
  worker.join();
  return rc == 0 && started ? 0 : 1;
}
