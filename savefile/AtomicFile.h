// A saved output written whole or not at all: the content goes to a temporary file beside
// the target, which replaces the target only on Commit. An existing file is never lost to
// a run that fails; a reader never sees half a file. A pipe or a device named as the
// target (/dev/stdout) is written into directly. Used by every output of vantrel and by
// the views.
#pragma once

#include <fstream>
#include <string>

namespace savefile {

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();  // an uncommitted file is discarded
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file. False with the reason in error ("cannot write PATH:
  // why"); Cause() then holds the why alone, for callers that name the file themselves.
  bool Open(const std::string& path, std::string& error);
  std::ostream& Stream() { return out_; }
  // Flushes, syncs and renames over the target. False with the reason in error (the
  // temporary file is then removed).
  bool Commit(std::string& error);
  void Discard();
  bool IsOpen() const { return direct_ || !tmp_.empty(); }
  const std::string& Cause() const { return cause_; }

  // The whole content at once; cause, when given, gets the why alone on failure.
  static bool Write(const std::string& path, const std::string& content, std::string& error,
                    std::string* cause = nullptr);
  // Whether a file could be saved at path: its folder exists and is writable, the path
  // is not a folder and not a read-only file (a pipe or a device: it is writable itself).
  // Nothing is created.
  static bool CanWrite(const std::string& path, std::string& error);

 private:
  bool Fail(const std::string& path, const std::string& why, std::string& error);

  std::string target_, tmp_, cause_;
  std::ofstream out_;
  bool direct_ = false;  // writing into a pipe or a device, not a file beside it
};

}  // namespace savefile
