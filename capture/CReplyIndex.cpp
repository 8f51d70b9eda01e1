#include "capture/CReplyIndex.h"

#include <algorithm>

namespace capture {

CReplyIndex::CReplyIndex(const std::vector<Frame>& frames) : isReply_(frames.size(), false) {
  struct Open {
    size_t index;
    Bytes key;
  };
  std::vector<Open> open;  // commands still waiting for their answer, oldest first
  for (size_t i = 0; i < frames.size(); ++i) {
    const Frame& f = frames[i];
    const int len = static_cast<int>(f.bytes.size());
    if (f.dir == Direction::kHostToDevice) {
      Bytes key = CommandKey(f.bytes.data(), len);
      // A command sent again before its answer came: the first one got none.
      std::erase_if(open, [&](const Open& o) {
        return o.key.size() >= 4 && key.size() >= 4 && o.key[0] == key[0] && o.key[1] == key[1] &&
               o.key[3] == key[3];
      });
      open.push_back({i, std::move(key)});
      continue;
    }
    auto it = std::find_if(open.begin(), open.end(),
                           [&](const Open& o) { return IsReplyTo(o.key, f.bytes.data(), len); });
    if (it == open.end()) continue;
    isReply_[i] = true;
    answers_[it->key].push_back({it->index, f.bytes});
    open.erase(it);
  }
}

const Bytes* CReplyIndex::Find(const Bytes& command, size_t position) const {
  auto it = answers_.find(command);
  if (it == answers_.end() || it->second.empty()) return nullptr;
  const Answer* pick = &it->second.front();
  for (const Answer& a : it->second) {
    if (a.commandIndex <= position) pick = &a;
  }
  return &pick->reply;
}

}  // namespace capture
