#include "LinkDevice.h"

#include <cstdio>

std::string LinkDeviceText(const LinkDevice& d) {
  if (d.node.empty()) return {};
  std::string text = d.node + "  " + d.bus;
  if (d.vid != 0 || d.pid != 0) {
    char id[16];
    std::snprintf(id, sizeof id, "  %04X:%04X", d.vid, d.pid);
    text += id;
  }
  if (d.iface >= 0) text += "  interface " + std::to_string(d.iface);
  if (!d.port.empty()) text += "  port " + d.port;
  if (d.bus != "serial") text += "  serial " + (d.serial.empty() ? std::string("-") : d.serial);
  return text;
}
