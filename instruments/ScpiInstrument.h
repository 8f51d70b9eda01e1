// An instrument that takes SCPI text: queries answered with a line; settings followed by
// *OPC? (the instrument has finished) and SYST:ERR? (it took them), so that a refused
// setting stops the caller with the instrument's own words and the command named.
#pragma once

#include <memory>
#include <string>

#include "instruments/ScpiLink.h"

namespace instruments {

class ScpiInstrument {
 public:
  ScpiInstrument(std::unique_ptr<ScpiLink> link, int timeoutMs)
      : link_(std::move(link)), timeoutMs_(timeoutMs) {}

  bool Connect(std::string& error) { return link_->Open(error); }
  // Connects again after a lost connection.
  bool Reconnect(std::string& error);
  void Close() { link_->Close(); }

  // A query ("*IDN?") and its answer line.
  bool Query(const std::string& query, std::string& answer, std::string& error);
  // A setting ("FREQ 150000"), then *OPC? and SYST:ERR?. False with "the generator
  // refused \"FREQ 150000\": -222,\"Data out of range\"" or the link's failure.
  bool Set(const std::string& command, std::string& error);
  // The error queue read until it is empty; the first error found ("" for none).
  bool FirstError(std::string& found, std::string& error);

  bool Lost() const { return link_->Lost(); }
  std::string Address() const { return link_->Address(); }

 private:
  std::unique_ptr<ScpiLink> link_;
  int timeoutMs_;
};

}  // namespace instruments
