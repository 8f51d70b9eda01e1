#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>

#include "capture/HexCodec.h"
#include "cli/Subcommands.h"
#include "link/FrameCodec.h"

using Result = ControllerSession::Result;

namespace {

std::string Hex(const uint8_t* b, size_t n) {
  return capture::ToHex(std::span<const uint8_t>(b, n), ' ');
}

int RunSend(const GlobalOptions& g, const std::string& cmd, bool raw) {
  // "SEND", blanks, the frame's bytes as pairs of hexadecimal digits, blanks.
  if (cmd.rfind("SEND", 0) == 0) {
    const size_t first = cmd.find_first_not_of(' ', 4);
    const size_t end = cmd.find_last_not_of(' ');
    const std::string hex =
        first == std::string::npos || first < 5 ? "" : cmd.substr(first, end + 1 - first);
    const bool ok =
        !hex.empty() && hex.size() % 2 == 0 && std::all_of(hex.begin(), hex.end(), [](char c) {
          return std::isxdigit(static_cast<unsigned char>(c));
        });
    if (!ok)
      return Complain("bad hex in \"" + cmd +
                      "\": after SEND and a blank, the frame's bytes as pairs of hexadecimal "
                      "digits, e.g. \"SEND 024C020400 \"");
  }
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  ControllerSession::Frame f;
  const Result r = s->Command(cmd, g.TimeoutMs(), &f);
  if (!f.empty() && f[1] == 0x4E && f[3] != 0x80 && r == Result::kOk) s->MarkStreamStarted();
  if (f.empty()) return Complain(s->Error(), ExitFor(r));
  char head[32];
  std::snprintf(head, sizeof head, "reply %02X/%02X: ", f[1], f[3]);
  std::string text = head;
  PanelInfo panel;
  if (f[1] == 0x4C && f[3] == 0x04) {
    std::string version;
    FrameCodec::ParseVersion(f.data(), static_cast<int>(f.size()), version);
    text += "version \"" + version + "\"";
  } else if (f[1] == 0x4C && f[3] == 0x06 &&
             FrameCodec::ParsePanelInfo(f.data(), static_cast<int>(f.size()), panel) ==
                 FrameCodec::PanelResult::kValid) {
    text += "panel " + std::to_string(panel.xCount) + " x " + std::to_string(panel.yCount) +
            ", resolution " + std::to_string(panel.resolution);
    if (f.size() >= 17)
      text += ", range " + std::to_string(panel.xRange) + " x " + std::to_string(panel.yRange);
  } else {
    text += r == Result::kOk ? "OK" : "NOT OK";
    if (f.size() > 5) text += ", data " + Hex(f.data() + 5, f.size() - 5);
  }
  std::cout << text << "\n";
  if (raw) std::cout << "raw: " << Hex(f.data(), f.size()) << "\n";
  return r == Result::kOk ? kExitPass : kExitFail;
}

}  // namespace

Subcommand AddSendCommand(CLI::App& app, const GlobalOptions& g) {
  struct Options {
    std::string cmd;
    bool raw = false;
  };
  auto o = std::make_shared<Options>();
  auto* sub = app.add_subcommand("send", "send one command string, print the reply");
  sub->add_option("command", o->cmd, "command string, e.g. \"SEND 024C020400 \"")->required();
  sub->add_flag("--raw", o->raw, "also print the reply's bytes in hex");
  return {sub, [&g, o] { return RunSend(g, o->cmd, o->raw); }};
}
