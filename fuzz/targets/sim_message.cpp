// Messages of the hidpipe simulator socket: a stream cut at arbitrary points gives the
// same messages as the whole stream read at once, and every message encodes back to
// the bytes it came from.
#include <cstdlib>
#include <vector>

#include "FuzzInput.h"
#include "hidpipe/SimMessage.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Outcome {
  std::vector<hidpipe::SimMessage> messages;
  bool bad = false;
};

bool Same(const hidpipe::SimMessage& a, const hidpipe::SimMessage& b) {
  return a.type == b.type && a.payload == b.payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const size_t splitCount = in.Byte() % 8 + 1;
  std::vector<size_t> splits;
  for (size_t i = 0; i < splitCount; ++i) splits.push_back(size_t(in.Word() % 1200) + 1);
  std::span<const uint8_t> stream = in.Rest();

  // Whole stream, one message after another.
  Outcome whole;
  for (size_t pos = 0; pos < stream.size();) {
    hidpipe::SimMessage m;
    auto r = hidpipe::parseSimMessage(stream.subspan(pos), m);
    if (r.status == hidpipe::SimParse::Bad) {
      whole.bad = true;
      break;
    }
    if (r.status == hidpipe::SimParse::NeedMore) break;
    Check(r.consumed >= hidpipe::kSimHeaderSize && r.consumed <= stream.size() - pos);
    Check(m.payload.size() <= hidpipe::kSimMaxPayload);
    auto encoded = hidpipe::encodeSimMessage(m.type, m.payload);
    Check(encoded.size() == r.consumed);
    Check(std::equal(encoded.begin(), encoded.end(), stream.begin() + long(pos)));
    whole.messages.push_back(std::move(m));
    pos += r.consumed;
  }

  // The same bytes in pieces through the stream parser.
  Outcome pieces;
  hidpipe::SimStreamParser parser;
  size_t pos = 0;
  for (size_t k = 0; pos < stream.size() && !pieces.bad; ++k) {
    size_t n = std::min(splits[k % splits.size()], stream.size() - pos);
    parser.feed(stream.subspan(pos, n));
    pos += n;
    for (;;) {
      hidpipe::SimMessage m;
      auto status = parser.next(m);
      if (status == hidpipe::SimParse::NeedMore) break;
      if (status == hidpipe::SimParse::Bad) {
        pieces.bad = true;
        break;
      }
      pieces.messages.push_back(std::move(m));
    }
  }
  Check(pieces.bad == whole.bad);
  Check(pieces.messages.size() == whole.messages.size());
  for (size_t i = 0; i < whole.messages.size(); ++i) {
    Check(Same(pieces.messages[i], whole.messages[i]));
  }
  return 0;
}
