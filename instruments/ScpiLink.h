// The byte path to an instrument that takes SCPI text: a raw TCP socket (port 5025 by
// default) or a Linux usbtmc device file. One line out, one answer line back.
#pragma once

#include <memory>
#include <string>

namespace instruments {

class ScpiLink {
 public:
  virtual ~ScpiLink() = default;
  // Connects (again, after a lost connection). False with the reason in error.
  virtual bool Open(std::string& error) = 0;
  virtual void Close() = 0;
  // Writes one message, a newline added. False when the instrument cannot be reached.
  virtual bool Write(const std::string& message, std::string& error) = 0;
  // The next answer line (without its end) within timeoutMs. False on time-out (error
  // says so) or a lost connection (Lost() then true).
  virtual bool ReadLine(std::string& line, int timeoutMs, std::string& error) = 0;
  bool Lost() const { return lost_; }
  // "tcp://127.0.0.1:5025", "usbtmc:/dev/usbtmc0"
  virtual std::string Address() const = 0;

  // A link from its address: tcp://HOST[:PORT] or usbtmc:PATH. Nothing, with the
  // reason, for anything else.
  static std::unique_ptr<ScpiLink> FromAddress(const std::string& address, std::string& error);

 protected:
  // Takes the first whole line (its CR LF or LF end dropped) out of what was read so far;
  // false when no line is whole yet.
  static bool TakeLine(std::string& pending, std::string& line);

  bool lost_ = false;
};

}  // namespace instruments
