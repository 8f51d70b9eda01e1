#include "instruments/ScpiInstrument.h"

#include <cstdlib>

namespace instruments {

namespace {
constexpr int kMaxQueuedErrors = 32;  // SYST:ERR? read at most this often in a row

// "0,\"No error\"" or "+0,..." is the empty queue.
bool NoError(const std::string& answer) {
  char* end = nullptr;
  const long code = std::strtol(answer.c_str(), &end, 10);
  return end != answer.c_str() && code == 0;
}
}  // namespace

bool ScpiInstrument::Reconnect(std::string& error) {
  link_->Close();
  return link_->Open(error);
}

bool ScpiInstrument::Query(const std::string& query, std::string& answer, std::string& error) {
  if (!link_->Write(query, error)) return false;
  if (!link_->ReadLine(answer, timeoutMs_, error)) {
    error = "\"" + query + "\": " + error;
    return false;
  }
  return true;
}

bool ScpiInstrument::FirstError(std::string& found, std::string& error) {
  found.clear();
  for (int i = 0; i < kMaxQueuedErrors; ++i) {
    std::string answer;
    if (!Query("SYST:ERR?", answer, error)) return false;
    if (NoError(answer)) return true;
    if (found.empty()) found = answer;
  }
  return true;
}

bool ScpiInstrument::Set(const std::string& command, std::string& error) {
  if (!link_->Write(command, error)) return false;
  std::string done;
  if (!Query("*OPC?", done, error)) {
    error = "after \"" + command + "\": " + error;
    return false;
  }
  std::string found;
  if (!FirstError(found, error)) return false;
  if (!found.empty()) {
    error = "the generator refused \"" + command + "\": " + found;
    return false;
  }
  return true;
}

}  // namespace instruments
