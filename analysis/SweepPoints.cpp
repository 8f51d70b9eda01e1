#include "analysis/SweepPoints.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace analysis {

namespace {

// A point on file: hz, ghosts, jitter (flag, value), rate, scans, verdict, electrodes
// (count; stddev, p2p, snr flag and value each).
struct Head {
  double hz, jitterMm, rateHz;
  uint64_t scans;
  int32_t ghosts;
  uint8_t hasJitter, pass;
  uint32_t electrodes;
};
struct Cell {
  double stddev, p2p, snrDb;
  uint8_t hasSnr;
};

}  // namespace

SweepPoints::~SweepPoints() {
  if (file_) std::fclose(file_);
}

bool SweepPoints::Open(std::string& why) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string name = (dir / "vantrel-sweep.XXXXXX").string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    why = "cannot make a temporary file for the measured points in " + dir.string() + ": " +
          std::strerror(errno);
    return false;
  }
  ::unlink(name.c_str());  // gone with the program, whatever ends it
  file_ = ::fdopen(fd, "w+b");
  if (!file_) {
    why = std::string("cannot keep the measured points: ") + std::strerror(errno);
    ::close(fd);
  }
  return file_ != nullptr;
}

bool SweepPoints::Add(const NoisePoint& p, bool pass, std::string& why) {
  const Head h{p.hz,     p.jitterMm.value_or(0),
               p.rateHz, p.scans,
               p.ghosts, static_cast<uint8_t>(p.jitterMm.has_value()),
               pass,     static_cast<uint32_t>(p.electrodes.size())};
  bool ok = std::fwrite(&h, sizeof h, 1, file_) == 1;
  for (const ElectrodeNoise& e : p.electrodes) {
    const Cell c{e.stddev, e.p2p, e.snrDb.value_or(0), static_cast<uint8_t>(e.snrDb.has_value())};
    ok = ok && std::fwrite(&c, sizeof c, 1, file_) == 1;
  }
  if (!ok) {
    why = std::string("cannot keep the measured points: ") + std::strerror(errno);
    return false;
  }
  ++size_;
  failed_ += pass ? 0 : 1;
  return true;
}

bool SweepPoints::ForEach(const std::function<void(const NoisePoint&, bool)>& fn) const {
  if (size_ == 0) return true;
  if (std::fflush(file_) != 0) return false;
  // Read at its own offset: a pass inside another, or an Add after one, finds the file as
  // it was.
  const int fd = ::fileno(file_);
  auto read = [&](void* into, size_t n, off_t& at) {
    if (::pread(fd, into, n, at) != static_cast<ssize_t>(n)) return false;
    at += static_cast<off_t>(n);
    return true;
  };
  NoisePoint p;
  std::vector<Cell> cells;
  off_t at = 0;
  for (size_t i = 0; i < size_; ++i) {
    Head h;
    if (!read(&h, sizeof h, at)) return false;
    cells.resize(h.electrodes);
    if (!read(cells.data(), cells.size() * sizeof(Cell), at)) return false;
    p.hz = h.hz;
    p.ghosts = h.ghosts;
    p.jitterMm = h.hasJitter ? std::optional<double>(h.jitterMm) : std::nullopt;
    p.rateHz = h.rateHz;
    p.scans = h.scans;
    p.electrodes.resize(cells.size());
    for (size_t e = 0; e < cells.size(); ++e) {
      p.electrodes[e].stddev = cells[e].stddev;
      p.electrodes[e].p2p = cells[e].p2p;
      p.electrodes[e].snrDb =
          cells[e].hasSnr ? std::optional<double>(cells[e].snrDb) : std::nullopt;
    }
    fn(p, h.pass != 0);
  }
  return true;
}

}  // namespace analysis
