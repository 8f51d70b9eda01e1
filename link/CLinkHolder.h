// The link in use, its kind, how commands become frames on it, and the recorder that
// sees every frame. Shared by the user-interface thread and the receive thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "CTransIFBase.h"
#include "IFrameRecorder.h"
#include "TransTypes.h"

class CLinkHolder {
 public:
  std::shared_ptr<CTransIFBase> Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return link_;
  }
  void Set(std::shared_ptr<CTransIFBase> link) {
    std::lock_guard<std::mutex> lock(mutex_);
    link_ = std::move(link);
  }
  // Takes the link out; the holder has none afterwards.
  std::shared_ptr<CTransIFBase> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(link_);
  }

  int Type() const { return type_.load(); }
  int Encoding() const { return encoding_.load(); }
  void SetType(int type) { type_.store(type); }
  void SetEncoding(int encoding) { encoding_.store(encoding); }

  std::shared_ptr<IFrameRecorder> Recorder() const { return recorder_.load(); }
  void SetRecorder(std::shared_ptr<IFrameRecorder> recorder) { recorder_.store(std::move(recorder)); }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<CTransIFBase> link_;
  std::atomic<int> type_{kLinkNone};
  std::atomic<int> encoding_{kEncodingNone};
  std::atomic<std::shared_ptr<IFrameRecorder>> recorder_;
};
