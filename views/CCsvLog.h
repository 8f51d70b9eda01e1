// One CSV log file: 8-bit text, CR LF line ends, each line written and flushed at once.
#pragma once

#include <cstdio>
#include <string>

class CCsvLog {
 public:
  CCsvLog() = default;
  ~CCsvLog() { Close(); }
  CCsvLog(const CCsvLog&) = delete;
  CCsvLog& operator=(const CCsvLog&) = delete;

  // True when path names a file that can be opened for reading and writing.
  static bool Exists(const std::string& path);
  // Opens path: truncate creates the file anew, otherwise lines are appended after its
  // content. Returns false when it cannot be opened.
  bool Open(const std::string& path, bool truncate);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }
  // Writes text and CR LF; false when the line could not be written completely.
  bool WriteLine(const std::string& text);

  // Milliseconds of the process clock (steady, from the first call).
  static long long ProcessClockMs();
  // "%04d.%03d" of seconds and milliseconds.
  static std::string FormatTime(long long ms);

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};
