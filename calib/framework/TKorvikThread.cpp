#include "calib/framework/TKorvikThread.h"

TKorvikThread::TKorvikThread(TKorvikObj* ownerObject)
    : FOwnerObject(ownerObject), FLogObj(std::make_unique<TKorvikObj>(ownerObject)) {
  FLogObj->SetName("KorvikThreadObj");
}

TKorvikThread::~TKorvikThread() {
  // The worker must be gone before the log object it writes through.
  Stop();
  FLogObj.reset();
}

void TKorvikThread::Start() {
  if (FThread.joinable()) return;
  FTerminated.store(false);
  FFinished.store(false);
  FThread = std::thread([this] {
    Execute();
    FFinished.store(true);
  });
}

void TKorvikThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TKorvikThread::Stop() {
  Terminate();
  WaitFor();
}

void TKorvikThread::Log(const std::string& text, std::uint8_t level) const {
  if (FLogObj) FLogObj->Log(text, level);
}
