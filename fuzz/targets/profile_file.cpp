// The profile-file loader: any bytes parse, write back unchanged, and an edited key reads
// back as written while every other line stays; the settings record loads any file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "control/CProfileFile.h"
#include "control/CSettingsRecord.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

const std::string& ScratchFile() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/vt-fuzz-profile-XXXXXX";
    int fd = ::mkstemp(tmpl);
    Check(fd >= 0);
    ::close(fd);
    return std::string(tmpl);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int value = int(in.Word()) - 30000;
  std::span<const uint8_t> body = in.Rest();
  std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());

  CProfileFile f = CProfileFile::Parse(text);
  Check(f.Text() == text);  // nothing is lost or changed by reading

  f.GetInt("SETTING", "X_Count", 38);
  f.GetString("HID", "VID1");
  f.SetInt("setting", "x_count", value);
  Check(f.GetInt("SETTING", "X_COUNT", value + 1) == value);
  CProfileFile again = CProfileFile::Parse(f.Text());
  Check(again.GetInt("Setting", "X_Count", value + 1) == value);
  Check(again.Text() == f.Text());

  // The settings record reads the same bytes from a file.
  std::FILE* out = std::fopen(ScratchFile().c_str(), "wb");
  Check(out != nullptr);
  if (!body.empty()) std::fwrite(body.data(), 1, body.size(), out);
  std::fclose(out);
  CSettingsRecord record;
  record.LoadSettings(ScratchFile(), nullptr);
  Check(record.xCount >= 1 && record.xCount <= 255 && record.yCount >= 1 && record.yCount <= 255);
  Check(record.fingerCount >= 1 && record.fingerCount <= 12);
  return 0;
}
