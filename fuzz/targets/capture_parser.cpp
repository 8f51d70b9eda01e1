// The capture parser and the replay built on what it read: any text parses without a
// crash, every error names a line within the text, the frames kept come before it and
// fit their link, and a replay of them answers any host frame.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "capture/CReplayPlayer.h"
#include "capture/CaptureFormat.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t hostLen = in.Byte() % 16;
  std::span<const uint8_t> host = in.Take(hostLen);
  std::span<const uint8_t> body = in.Rest();
  std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());

  capture::ParseResult r = capture::ParseCapture(text);
  const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  Check(r.Ok() == (r.errorLine == 0));
  Check(r.errorLine <= lines);
  Check(r.Ok() || r.error.rfind("line " + std::to_string(r.errorLine) + ": ", 0) == 0);
  Check(static_cast<int>(r.frames.size()) <= lines);
  int64_t last = 0;
  for (const capture::Frame& f : r.frames) {
    Check(f.us >= last && !f.bytes.empty() && f.bytes.size() <= 4096);
    last = f.us;
  }
  // What was read writes back to the same frames (under the longest limit: a later link
  // line may have changed the kind).
  capture::Header plain = r.header;
  plain.link = capture::LinkKind::kUnknown;
  std::string again = capture::HeaderText(plain);
  for (const capture::Frame& f : r.frames) {
    capture::AppendFrameLine(again, f.us, f.dir, f.bytes.data(), int(f.bytes.size()));
  }
  capture::ParseResult back = capture::ParseCapture(again);
  Check(back.Ok() && back.frames == r.frames);

  if (r.frames.empty()) return 0;  // nothing to replay: a player is never made of none
  int64_t now = 0;
  capture::CReplayPlayer player(plain, r.frames, [&now] { return now; });
  player.SetSpeed(capture::CReplayPlayer::kAsFastAsPossible);
  player.Play();
  if (!host.empty()) player.HostFrame(host.data(), static_cast<int>(host.size()));
  uint8_t buf[4096];
  for (int i = 0; i < 64 && player.Next(buf, sizeof buf) > 0; ++i) now += 1000;
  player.Seek(player.Duration() / 2);
  player.Step();
  Check(player.Next(buf, sizeof buf) >= 0);
  return 0;
}
