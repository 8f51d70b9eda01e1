#include "calib/framework/TKorvikObj.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "calib/framework/TKorvikObjControl.h"

TKorvikObj::TKorvikObj(TKorvikObj* owner) : FCreateTime(Now()), FOwner(owner) {
  if (TKorvikObjControl* registry = TKorvikObjControl::Instance()) registry->Register(this);
  if (owner && owner->HasOnLog()) FOnLog = owner->OnLog();
}

TKorvikObj::~TKorvikObj() {
  if (TKorvikObjControl* registry = TKorvikObjControl::Instance()) registry->Unregister(this);
  FOwner = nullptr;
}

void TKorvikObj::SetCreateTime(double value) {
  FCreateTime = value;
}

void TKorvikObj::SetName(const std::string& value) {
  FName = value;
}

void TKorvikObj::SetOnLog(TKorvikLogEvent handler) {
  FOnLog = std::move(handler);
}

void TKorvikObj::Log(const std::string& text, std::uint8_t level) const {
  if (!FOnLog) return;
  // A copy runs: the handler may replace this object's sink while it runs.
  const TKorvikLogEvent handler = FOnLog;
  handler(text, level);
}

double TKorvikObj::Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const double millis =
      static_cast<double>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  const double localSeconds = static_cast<double>(seconds) + static_cast<double>(local.tm_gmtoff);
  // 25569 days lie between 1899-12-30 and 1970-01-01.
  return 25569.0 + (localSeconds + millis / 1000.0) / 86400.0;
}

std::string KorvikFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(size));
  }
  va_end(args);
  return text;
}
