#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Log sink of every framework object: text and a level byte
// (0 progress, 1 correction or device text, 3 command not created,
// 5 link or transaction failure, 7 named command failed or malformed content).
using TKorvikLogEvent = std::function<void(const std::string& text, std::uint8_t level)>;

// Base of every framework object: name, owner (not owned), creation time and one log event.
// Every live object is listed in the process-wide registry (TKorvikObjControl).
// Framework objects are built and freed on the main thread only.
class TKorvikObj {
 public:
  explicit TKorvikObj(TKorvikObj* owner = nullptr);
  virtual ~TKorvikObj();

  TKorvikObj(const TKorvikObj&) = delete;
  TKorvikObj& operator=(const TKorvikObj&) = delete;

  virtual void SetCreateTime(double value);
  virtual void SetName(const std::string& value);
  virtual void SetOnLog(TKorvikLogEvent handler);

  // Local time at construction, days since 1899-12-30 with the fraction of a day.
  double CreateTime() const { return FCreateTime; }
  const std::string& Name() const { return FName; }
  TKorvikObj* Owner() const { return FOwner; }
  const TKorvikLogEvent& OnLog() const { return FOnLog; }
  bool HasOnLog() const { return static_cast<bool>(FOnLog); }

  // Calls OnLog when assigned; otherwise does nothing.
  void Log(const std::string& text, std::uint8_t level) const;

  // Current local date and time in the CreateTime encoding.
  static double Now();

 private:
  double FCreateTime = 0.0;
  TKorvikLogEvent FOnLog;
  std::string FName;
  TKorvikObj* FOwner = nullptr;
};

// printf-style formatting for log texts.
std::string KorvikFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
