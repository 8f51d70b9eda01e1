#include "HidPipe.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FrameLength.h"
#include "HidrawBackend.h"
#include "OpenError.h"
#include "ReadPace.h"
#include "SimBackend.h"

namespace hidpipe {

namespace {
HidBackend* volatile gAbandoned = nullptr;  // a store never elided
}  // namespace

HidPipe::HidPipe(const std::string& simSocket) {
  if (simSocket.empty())
    backend_ = std::make_unique<HidrawBackend>(hub_);
  else
    backend_ = std::make_unique<SimBackend>(simSocket, hub_);
}

HidPipe::~HidPipe() {
  {
    std::lock_guard lk(ctl_);
    closeDeviceLocked();
  }
  hub_.setCallback(nullptr, nullptr);
  backend_->setNotices(false);
  // A write stuck in the kernel still runs in the backend: it is left to the process's end,
  // held where a leak checker sees it is still in use.
  if (writer_.busy())
    gAbandoned = backend_.release();
  else
    backend_.reset();
}

HidPipe& HidPipe::instance() {
  static HidPipe lib([] {
    const char* sim = std::getenv("HIDPIPE_SIM");
    return std::string(sim != nullptr ? sim : "");
  }());
  return lib;
}

int HidPipe::open() {
  std::lock_guard lk(ctl_);
  return backend_->start() ? 1 : 0;
}

int HidPipe::openDevice(uint32_t vid, uint32_t pid, uint32_t iface) {
  std::lock_guard lk(ctl_);
  closeDeviceLocked();
  if (vid == 0 || pid == 0) return 0;
  if (!backend_->open(vid, pid, iface, choice_)) return 0;
  ring_.reset();
  devOpen_ = true;
  updateDrainLocked();
  return 1;
}

int HidPipe::enableRecv(int on) {
  std::lock_guard lk(ctl_);
  recvOn_ = on != 0;
  updateDrainLocked();
  return devOpen_ ? 1 : 0;
}

int HidPipe::setDrainRing(int on) {
  std::lock_guard lk(ctl_);
  ringOn_ = on != 0;
  updateDrainLocked();
  return 1;
}

int HidPipe::recv(uint8_t* buf, int timeoutMs) {
  return recvReport(buf, timeoutMs) > 0 ? 1 : 0;
}

int HidPipe::recvReport(uint8_t* buf, int timeoutMs) {
  if (buf == nullptr) return 0;
  size_t received = 0;
  int64_t at = 0;
  if (ringOn_) return ring_.pop(buf, timeoutMs, &received, &at) == 1 ? took(received, at) : 0;
  if (timeoutMs < 0) timeoutMs = kRingOffWaitMs;
  // Ring off: what the ring still holds first, then the device's own queue.
  if (ring_.pop(buf, 0, &received, &at) == 1) return took(received, at);
  if (devOpen_ && recvOn_) {
    const int r = backend_->read(buf, timeoutMs, received);
    if (r == 1) {
      at = backend_->lastArrivalUs();
      return took(received, at != 0 ? at : ReportQueue::NowUs());
    }
    if (r == 0) return 0;
  }
  // Nothing to read: wait out the timeout.
  return ring_.pop(buf, timeoutMs, &received, &at) == 1 ? took(received, at) : 0;
}

int HidPipe::recvWake() {
  ring_.wake();
  return 1;
}

int HidPipe::send(const uint8_t* frame) {
  std::array<uint8_t, HIDPIPE_REPORT_SIZE> report{};
  if (!buildOutputReport(frame, report.data())) {
    setSendError(EINVAL, "frame not sent: not a frame the protocol defines");
    return 0;
  }
  if (!devOpen_) {
    setSendError(ENODEV, "frame not sent: no device is open");
    return 0;
  }
  const std::string refusal = backend_->refusal(report.data());
  if (!refusal.empty()) {
    setSendError(EMSGSIZE, "frame not sent: " + refusal);
    return 0;
  }
  HidBackend* backend = backend_.get();
  const int error = writer_.run([backend, report] { return backend->write(report.data()); },
                                kWriteWaitMs);
  if (error == 0) {
    setSendError(0, {});
    return 1;
  }
  const std::string wait = std::to_string(kWriteWaitMs) + " ms";
  if (error == ReportWriter::kStillWriting)
    setSendError(ETIMEDOUT, "could not send: the device took no report within " + wait);
  else if (error == ReportWriter::kRefused)
    setSendError(EBUSY, "could not send: the device took no report within " + wait +
                            " (an earlier one is still waiting)");
  else
    setSendError(error, std::string("could not send: ") + std::strerror(error));
  return 0;
}

int HidPipe::chooseDevice(const std::string& choice) {
  std::lock_guard lk(ctl_);
  choice_ = choice;
  return 1;
}

bool HidPipe::openedDevice(HidDeviceInfo& info) const {
  if (!devOpen_) return false;
  info = backend_->opened();
  return !info.path.empty();
}

bool HidPipe::deviceGone() const {
  return devOpen_ && backend_->gone();
}

int HidPipe::closeDevice() {
  std::lock_guard lk(ctl_);
  closeDeviceLocked();
  return 1;
}

int HidPipe::close() {
  std::lock_guard lk(ctl_);
  closeDeviceLocked();
  recvOn_ = false;
  return 1;
}

int HidPipe::setNoticeCallback(HidNoticeFn fn, void* user) {
  if (fn == nullptr) {
    {
      std::lock_guard lk(noticeCtl_);
      backend_->setNotices(false);
    }
    // Waits for a callback in flight; not under noticeCtl_, so that callback may call us.
    hub_.setCallback(nullptr, nullptr);
    return 1;
  }
  hub_.setCallback(fn, user);
  std::lock_guard lk(noticeCtl_);
  return backend_->setNotices(true) ? 1 : 0;
}

void HidPipe::closeDeviceLocked() {
  stopDrainLocked();
  if (devOpen_) {
    devOpen_ = false;
    backend_->close();
  }
  ring_.reset();
  ring_.wake();  // a reader waiting without limit hears of the end
}

void HidPipe::updateDrainLocked() {
  const bool want = devOpen_ && recvOn_ && ringOn_;
  if (!want) {
    stopDrainLocked();
  } else if (!drain_.joinable() && !fed_) {
    // A backend with a reader thread of its own needs no second thread between it and the
    // ring.
    fed_ = backend_->feedRing(&ring_);
    if (fed_) return;
    stopDrain_ = false;
    backend_->setDraining(true);
    drain_ = std::thread([this] { drainLoop(); });
  }
}

void HidPipe::stopDrainLocked() {
  if (fed_) {
    backend_->feedRing(nullptr);
    fed_ = false;
  }
  if (!drain_.joinable()) return;
  stopDrain_ = true;
  backend_->setDraining(false);
  backend_->interrupt();
  drain_.join();
  backend_->clearInterrupt();
}

void HidPipe::drainLoop() {
  uint8_t report[HIDPIPE_REPORT_SIZE];
  size_t received = 0;
  ReadPace pace;
  while (!stopDrain_) {
    int r = backend_->read(report, -1, received);
    // Everything the device has queued is taken in one go; a fast stream is then left to
    // gather for a moment, so one wake-up takes several reports (as the simulator's socket
    // is read).
    size_t taken = 0;
    while (r == 1) {
      ring_.push(report, 0, received, backend_->lastArrivalUs());
      ++taken;
      r = stopDrain_ ? 0 : backend_->read(report, 0, received);
    }
    if (r < 0) {
      // Device closed or gone: what the ring holds stays readable, and a reader waiting
      // without limit hears of it.
      ring_.wake();
      return;
    }
    const int holdMs = taken > 0 ? pace.afterRead(ReportQueue::NowUs(), taken) : 0;
    if (holdMs > 0 && !stopDrain_) backend_->hold(holdMs);
  }
}

}  // namespace hidpipe
