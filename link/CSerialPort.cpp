#include "CSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iterator>

#include "LinkTrace.h"

namespace {

struct BaudEntry {
  uint32_t baud;
  speed_t constant;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

bool CSerialPort::ApplyLineSettings(termios& tio, const SerialLineSettings& line) {
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (line.byteSize < 5 || line.byteSize > 8 || line.parity > 4 || line.stopBits > 2) {
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= kSizes[line.byteSize - 5];
  switch (line.parity) {
    case 1:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      tio.c_cflag |= PARENB;
      break;
    case 3:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case 4:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (line.stopBits != 0) tio.c_cflag |= CSTOPB;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  // A rate the port cannot run at is refused, not rounded to another one.
  if (CSerialPort::StandardBaud(line.baudRate) != line.baudRate) {
    LinkTrace("[CSerialPort] %u baud is not a rate this port can run at\n", line.baudRate);
    std::fprintf(stderr, "serial port: %u baud is not a rate this port can run at\n",
                 line.baudRate);
    return false;
  }
  speed_t speed = CSerialPort::SpeedConstant(line.baudRate);
  return cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0;
}

CSerialPort::CSerialPort() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CSerialPort::~CSerialPort() {
  Close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

uint32_t CSerialPort::StandardBaud(uint32_t requested) {
  uint32_t chosen = kBauds[0].baud;
  for (const auto& entry : kBauds) {
    if (entry.baud <= requested) chosen = entry.baud;
  }
  return chosen;
}

speed_t CSerialPort::SpeedConstant(uint32_t standardBaud) {
  for (const auto& entry : kBauds) {
    if (entry.baud == standardBaud) return entry.constant;
  }
  return B38400;
}

bool CSerialPort::Open(const std::string& path, const SerialLineSettings& line) {
  Close();
  if (path.empty()) return false;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  termios tio{};
  bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd, TIOCEXCL) == 0;
  if (ok && ::tcgetattr(fd, &tio) != 0) {
    LinkTrace("[CTransCOM::f_com_connect]GetCommState error\n");
    ok = false;
  }
  ok = ok && ApplyLineSettings(tio, line) && ::tcsetattr(fd, TCSANOW, &tio) == 0;
  if (!ok) {
    ::close(fd);
    return false;
  }
  hungUp_.store(false);
  fd_.store(fd);
  return true;
}

void CSerialPort::Close() {
  std::lock_guard<std::mutex> lock(writeMutex_);
  int fd = fd_.exchange(-1);
  if (fd >= 0) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
  }
}

int CSerialPort::BytesWaiting() const {
  int fd = fd_.load();
  int count = 0;
  if (fd < 0 || ::ioctl(fd, FIONREAD, &count) != 0) return 0;
  return count;
}

int CSerialPort::Read(uint8_t* buf, int max) {
  int fd = fd_.load();
  if (fd < 0 || max <= 0) return fd < 0 ? -1 : 0;
  ssize_t got = ::read(fd, buf, static_cast<size_t>(max));
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (got < 0) hungUp_.store(true);
  if (got < 0) return -1;
  return static_cast<int>(got);
}

int CSerialPort::Write(const uint8_t* data, int len, int timeoutMs) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  int fd = fd_.load();
  if (fd < 0 || data == nullptr || len < 0) return -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int done = 0;
  while (done < len) {
    ssize_t put = ::write(fd, data + done, static_cast<size_t>(len - done));
    if (put > 0) {
      done += static_cast<int>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return -1;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return -1;
  }
  return done;
}

bool CSerialPort::WaitForInput(int ms) const {
  int fd = fd_.load();
  if (fd < 0) return false;
  pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  const bool wakeable = wakeFd_ >= 0;
  int r = ::poll(p, wakeable ? 2 : 1, ms < 0 && wakeable ? -1 : (ms < 0 ? 0 : ms));
  if (r > 0 && (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) hungUp_.store(true);
  if (r > 0 && wakeable && (p[1].revents & POLLIN) != 0) {
    uint64_t count = 0;
    (void)!::read(wakeFd_, &count, sizeof count);
  }
  return r > 0 && (p[0].revents & POLLIN) != 0;
}

void CSerialPort::Wake() const {
  const uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
}

bool CSerialPort::ReadLineSettings(SerialLineSettings& line) const {
  int fd = fd_.load();
  termios tio{};
  if (fd < 0 || ::tcgetattr(fd, &tio) != 0) return false;
  DecodeLineSettings(tio, line);
  return true;
}

void CSerialPort::DecodeLineSettings(const termios& tio, SerialLineSettings& line) {
  speed_t speed = cfgetospeed(&tio);
  for (const auto& entry : kBauds) {
    if (entry.constant == speed) line.baudRate = entry.baud;
  }
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      line.byteSize = 5;
      break;
    case CS6:
      line.byteSize = 6;
      break;
    case CS7:
      line.byteSize = 7;
      break;
    default:
      line.byteSize = 8;
      break;
  }
  if ((tio.c_cflag & PARENB) == 0) {
    line.parity = 0;
  } else if (tio.c_cflag & CMSPAR) {
    line.parity = (tio.c_cflag & PARODD) ? 3 : 4;
  } else {
    line.parity = (tio.c_cflag & PARODD) ? 1 : 2;
  }
  line.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
}
