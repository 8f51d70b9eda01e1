#include "cli/DwellWindow.h"

#include <algorithm>

#include "cli/Interrupt.h"

std::optional<ControllerSession::Received> SessionDwellSource::Next(int timeoutMs) {
  return s_.ReceiveDecoded(timeoutMs, ControllerSession::kStreamBatch);
}

bool SessionDwellSource::Lost(std::string& why) {
  if (!s_.LinkLost()) return false;
  why = s_.LostMessage();
  return true;
}

bool CollectDwell(const DwellWindow& w, DwellSource& source,
                  const std::function<void(const ControllerSession::Received&)>& take,
                  std::string& why) {
  const int64_t giveUpUs = w.endUs + int64_t{w.lateMs} * 1000;
  for (;;) {
    const int64_t now = ControllerSession::NowUs();
    auto f = source.Next(static_cast<int>(std::max<int64_t>(0, (giveUpUs - now) / 1000 + 1)));
    if (Interrupted()) return false;
    if (!f) {
      if (source.Lost(why)) return false;
      if (ControllerSession::NowUs() >= giveUpUs) return true;
      continue;
    }
    if (f->arrivedUs >= w.endUs) return true;
    if (f->arrivedUs >= w.fromUs) take(*f);
  }
}
