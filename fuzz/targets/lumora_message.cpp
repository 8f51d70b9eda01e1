// Lumora's message factory on received buffers (and on buffers to send), and the
// multi-touch coordinates report on its own.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "calib/framework/TKorvikUsbCoordinatesReport.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Size of the input in hand: log lines may show the content, so their bound follows it.
size_t gInputSize = 0;

TKorvikObj& Owner() {
  static TKorvikObj owner;
  static bool init = [] {
    owner.SetOnLog([](const std::string& text, std::uint8_t level) {
      Check(level <= 7 && text.size() <= 256 + 8 * gInputSize);
    });
    return true;
  }();
  (void)init;
  return owner;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A receive buffer is one 64-byte report; longer content is tried as well.
  std::span<const uint8_t> content(data, size);
  gInputSize = size;
  static TKorvikUsbMessageFactory factory(&Owner());
  factory.SetOnLog(Owner().OnLog());

  for (uint8_t direction :
       {TKorvikUsbMessageFactory::DirectionReceived, TKorvikUsbMessageFactory::DirectionSend}) {
    auto message = factory.CreateUsbMessage(direction, content);
    if (!message) continue;
    // The frame as its header gives it: never longer than 255 + 3 or a 64-byte report.
    Check(message->Length() <= std::max<size_t>(size, 258));
    std::string text;
    message->ContentText(text);
    Check(text.size() + 4 <= std::max<size_t>(message->Length(), 4));
  }

  TKorvikUsbCoordinatesReport report(&Owner(), content);
  const auto& entries = report.Coordinates();
  Check(entries.size() == report.CoordinateCount());
  for (const auto& e : entries) {
    Check(e.flag == 0 || e.flag == 4 || e.flag == 7);
    if (report.EntrySize() == 0) Check(e.x == 0 && e.y == 0);
  }
  if (report.EntrySize() != 0) Check(4 + entries.size() * report.EntrySize() == report.Length());
  return 0;
}
