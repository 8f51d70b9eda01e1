#include "instruments/ScpiLink.h"

#include <cstdlib>

#include "instruments/TcpScpiLink.h"
#include "instruments/UsbtmcScpiLink.h"

namespace instruments {

bool ScpiLink::TakeLine(std::string& pending, std::string& line) {
  const size_t nl = pending.find('\n');
  if (nl == std::string::npos) return false;
  line = pending.substr(0, nl);
  pending.erase(0, nl + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::unique_ptr<ScpiLink> ScpiLink::FromAddress(const std::string& address, std::string& error) {
  if (address.rfind("tcp://", 0) == 0) {
    std::string rest = address.substr(6);
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    int port = TcpScpiLink::kDefaultPort;
    std::string host = rest;
    const size_t colon = rest.rfind(':');
    const bool bracketed = !rest.empty() && rest.front() == '[';
    if (colon != std::string::npos && (!bracketed || rest.find(']') < colon)) {
      host = rest.substr(0, colon);
      const std::string p = rest.substr(colon + 1);
      char* end = nullptr;
      const long v = std::strtol(p.c_str(), &end, 10);
      if (p.empty() || *end != '\0' || v < 1 || v > 65535) {
        error = address + ": the port must be a number 1 to 65535";
        return nullptr;
      }
      port = static_cast<int>(v);
    }
    if (bracketed && host.size() > 2 && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) {
      error = address + ": no host (tcp://HOST:5025)";
      return nullptr;
    }
    return std::make_unique<TcpScpiLink>(host, port);
  }
  if (address.rfind("usbtmc:", 0) == 0 && address.size() > 7)
    return std::make_unique<UsbtmcScpiLink>(address.substr(7));
  error = address + ": not an instrument address (tcp://HOST:5025 or usbtmc:/dev/usbtmc0)";
  return nullptr;
}

}  // namespace instruments
