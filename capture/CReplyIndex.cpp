#include "capture/CReplyIndex.h"

#include <algorithm>

namespace capture {

void OpenCommands::Host(const uint8_t* frame, int len, int64_t us) {
  Bytes key = CommandKey(frame, len);
  // A command sent again before its answer came: the first one got none.
  std::erase_if(open_, [&](const Open& o) {
    return o.key.size() >= 4 && key.size() >= 4 && o.key[0] == key[0] && o.key[1] == key[1] &&
           o.key[3] == key[3];
  });
  if (open_.size() >= kMax) open_.erase(open_.begin());
  open_.push_back({us, std::move(key)});
}

bool OpenCommands::Answers(const uint8_t* frame, int len, Bytes* command, int64_t* commandUs) {
  auto it = std::find_if(open_.begin(), open_.end(),
                         [&](const Open& o) { return IsReplyTo(o.key, frame, len); });
  if (it == open_.end()) return false;
  if (command != nullptr) *command = std::move(it->key);
  if (commandUs != nullptr) *commandUs = it->us;
  open_.erase(it);
  return true;
}

void CReplyIndex::Add(const Bytes& command, int64_t commandUs, const uint8_t* reply, int len) {
  std::vector<Answer>& list = answers_[command];
  if (!list.empty() && std::equal(list.back().reply.begin(), list.back().reply.end(), reply,
                                  reply + len)) {
    return;
  }
  if (count_ >= kMaxAnswers) return;
  list.push_back({commandUs, Bytes(reply, reply + len)});
  ++count_;
}

const Bytes* CReplyIndex::Find(const Bytes& command, int64_t us) const {
  auto it = answers_.find(command);
  if (it == answers_.end() || it->second.empty()) return nullptr;
  const auto& list = it->second;
  auto after = std::upper_bound(list.begin(), list.end(), us,
                                [](int64_t t, const Answer& a) { return t < a.commandUs; });
  return after == list.begin() ? &list.front().reply : &std::prev(after)->reply;
}

}  // namespace capture
