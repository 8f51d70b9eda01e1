#include "cli/CaptureConvert.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "capture/CaptureSink.h"
#include "capture/HidRecording.h"
#include "cli/Commands.h"
#include "cli/Progress.h"

CLI::App* AddCaptureConvert(CLI::App& capture, ConvertArgs& args) {
  auto* convert = capture.add_subcommand(
      "convert",
      "convert a capture into the text format of the Linux HID tools' recorder (for their "
      "replay into a virtual kernel device), or such a recording into a capture; a name "
      "ending in .zst is compressed");
  convert->add_option("in", args.in, "capture or HID recording to read")
      ->required()
      ->check(CLI::ExistingFile);
  convert->add_option("out", args.out, "file to write (replaced only once complete)")->required();
  return convert;
}

int RunCaptureConvert(const ConvertArgs& args) {
  std::error_code ec;
  if (std::filesystem::equivalent(args.in, args.out, ec)) {
    std::cerr << "vantrel: capture convert: IN and OUT are the same file\n";
    return kExitCannotRun;
  }
  const bool toRecording = capture::LooksLikeCapture(args.in);
  // The direction follows the input: an output named as a capture must get a capture.
  const std::string outName = std::filesystem::path(args.out).filename().string();
  auto endsWith = [&](const std::string& tail) {
    return outName.size() >= tail.size() &&
           outName.compare(outName.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (toRecording && (endsWith(".capture") || endsWith(".capture.zst"))) {
    std::cerr << "vantrel: capture convert: " << args.in << " is a capture, so " << args.out
              << " would get HID recorder text, not a capture: give the recording another "
                 "name (e.g. .hid)\n";
    return kExitCannotRun;
  }
  // Written beside OUT and renamed when whole: a failed run leaves OUT as it was.
  const std::string part = args.out + ".part";
  capture::CaptureSink sink;
  if (!sink.Open(capture::IsCompressedName(args.out) ? part + ".zst" : part)) {
    std::cerr << "vantrel: " << sink.Error() << "\n";
    return kExitCannotRun;
  }
  Progress progress(toRecording ? "to HID recording" : "to capture", 1000);
  auto onProgress = [&](double f) { progress.Update(static_cast<long>(f * 1000)); };
  const std::string program = std::string("vantrel ") + VANTREL_VERSION;
  capture::ConvertStats stats;
  std::string error;
  const bool ok =
      toRecording
          ? capture::CaptureToHidRecording(args.in, sink, program, stats, error, onProgress)
          : capture::HidRecordingToCapture(args.in, sink, program, stats, error, onProgress);
  progress.Finish();
  const std::string written = sink.Path();
  if (!sink.Close() && ok) error = sink.Error();
  if (!ok || !error.empty()) {
    std::filesystem::remove(written, ec);
    std::cerr << "vantrel: " << args.in << ": " << error << "\n";
    return kExitCannotRun;
  }
  std::filesystem::rename(written, args.out, ec);
  if (ec) {
    std::filesystem::remove(written, ec);
    std::cerr << "vantrel: cannot write " << args.out << ": " << ec.message() << "\n";
    return kExitCannotRun;
  }
  for (const std::string& w : stats.warnings) std::cerr << "vantrel: " << args.in << ": " << w << "\n";
  std::cout << stats.frames << " frames written to " << args.out << "\n";
  if (stats.skipped > 0) {
    std::cout << stats.skipped << " reports that are not controller frames were skipped\n";
  }
  return kExitPass;
}
