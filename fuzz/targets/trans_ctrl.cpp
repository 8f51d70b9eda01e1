// The receive path of the transfer controller, frame by frame, over a scripted link:
// decoding, version and panel information replies, routing to every listener slot.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "FuzzInput.h"
#include "link/CTransCtrl.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

using Frame = std::vector<uint8_t>;

// Hands out the scripted frames, then reports that the receive thread came back empty.
struct ScriptState {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Frame> frames;
  bool drained = false;
};

class ScriptLink : public CTransIFBase {
 public:
  explicit ScriptLink(std::shared_ptr<ScriptState> s) : s_(std::move(s)) {}
  int Open(const void*) override {
    state_ = kLinkIdle;
    return 1;
  }
  void Close() override { state_ = kLinkClosed; }
  int32_t GetState() override { return state_; }
  void SetState(int32_t st) override { state_ = st; }
  int Read(uint8_t* buf) override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (s_->frames.empty()) {
      s_->drained = true;
      s_->changed.notify_all();
      return 0;
    }
    Frame f = std::move(s_->frames.front());
    s_->frames.pop_front();
    std::memcpy(buf, f.data(), f.size());
    return int(f.size());
  }
  bool CanWaitForInput() const override { return true; }
  bool WaitForInput(int ms) override {
    std::unique_lock<std::mutex> lock(s_->mutex);
    return s_->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                [this] { return !s_->frames.empty(); });
  }
  int Write(const uint8_t* data, int len) override {
    Check(len > 0 && len <= 130);
    volatile uint8_t sink = 0;
    for (int i = 0; i < len; ++i) sink = sink + data[i];
    return len;
  }

 private:
  std::shared_ptr<ScriptState> s_;
  std::atomic<int32_t> state_{kLinkClosed};
};

// Reads every delivered byte and the records a window would read.
class Listener : public ITransListener {
 public:
  explicit Listener(CTransCtrl& c) : ctrl_(c) {}
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* bytes = frame.bytes;
    Check(len >= 1 && len <= 4095);
    unsigned sum = 0;
    for (int i = 0; i < len; ++i) sum += bytes[i];
    const DataRecord& d = ctrl_.GetDataRecord();
    if (d.values != nullptr) {
      for (int i = 0; i < d.count; ++i) sum += unsigned(d.values[i]);
    }
    sum += ctrl_.GetCoordinateRecord().x;
    sink_ = sum;
    return 0;
  }

 private:
  CTransCtrl& ctrl_;
  volatile unsigned sink_ = 0;
};

class Host : public ITransHost {
 public:
  void ApplyPanelInfo(const PanelInfo& info) override {
    Check(info.xCount >= 0 && info.xCount <= 255 && info.yCount >= 0 && info.yCount <= 255);
  }
  void ShowPanelInfoFailure() override {}
};

}  // namespace

// One open controller per link kind, kept for the whole run; each input is a batch of
// frames for one of them.
struct Rig {
  std::shared_ptr<ScriptState> state = std::make_shared<ScriptState>();
  CTransCtrl ctrl;
  Host host;
  std::vector<std::unique_ptr<Listener>> listeners;

  explicit Rig(int linkType) {
    ctrl.SetHost(&host);
    for (uint16_t slot = 0; slot < CTransCtrl::kSlotCount; ++slot) {
      listeners.push_back(std::make_unique<Listener>(ctrl));
      ctrl.RegisterListener(slot, 2, listeners.back().get());
    }
    ctrl.SetLinkFactory([s = state](int) { return std::make_unique<ScriptLink>(s); });
    Check(ctrl.Open(linkType, nullptr) == 1);
  }

  void Run(std::deque<Frame> frames) {
    std::unique_lock<std::mutex> lock(state->mutex);
    state->frames = std::move(frames);
    state->drained = false;
    state->changed.notify_all();
    // Drained: every frame was taken and handled, and the thread polled again.
    state->changed.wait(lock, [&] { return state->drained; });
  }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig usb(kLinkUsb);
  static Rig com(kLinkCom);
  FuzzInput in(data, size);
  Rig& rig = (in.Byte() & 1) ? com : usb;
  std::deque<Frame> frames;
  // Each frame: a length (1 to 4095, two bytes) and its bytes.
  while (!in.Empty() && frames.size() < 64) {
    size_t len = in.Word() % 4095 + 1;
    auto bytes = in.Take(len);
    if (bytes.empty()) break;
    frames.emplace_back(bytes.begin(), bytes.end());
  }
  rig.Run(std::move(frames));
  CTransCtrl::ClearPending();
  PanelInfo p = rig.ctrl.Panel();
  Check(p.xCount >= 0 && p.xCount <= 255 && p.yCount >= 0 && p.yCount <= 255);
  return 0;
}
