// A serial port over POSIX termios: raw, non-blocking reads, exclusive, whole writes.
// One thread may write while another reads.
//
// Line settings: any standard termios speed (another rate refuses the open, with a
// message on stderr). Data bits 5 to 8; parity 0 none, 1 odd, 2 even,
// 3 mark, 4 space; stop bits 0 one, 2 two, and 1 (one and a half, which termios does
// not offer) gives two. Other data bit or parity values refuse the open.
#pragma once

#include <termios.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "TransTypes.h"

class CSerialPort {
 public:
  CSerialPort();
  ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // Opens the device exclusively and applies the line settings. False (port closed)
  // when it cannot be opened, is in use, or its settings cannot be read or applied.
  bool Open(const std::string& path, const SerialLineSettings& line);
  void Close();
  bool IsOpen() const { return fd_.load() >= 0; }

  // Bytes in the input queue, 0 when closed or unknown.
  int BytesWaiting() const;
  // Reads up to max bytes already queued; 0 when none, -1 on error.
  int Read(uint8_t* buf, int max);
  // Writes all len bytes (waiting up to timeoutMs for room); len or -1.
  int Write(const uint8_t* data, int len, int timeoutMs = 2000);
  // Waits up to ms (negative: without limit) for input, a hang-up or Wake; true when
  // input is waiting.
  bool WaitForInput(int ms) const;
  // Ends a WaitForInput under way, or else the next one (any thread).
  void Wake() const;
  bool CanBeWoken() const { return wakeFd_ >= 0; }
  // True once the device hung up or failed (a USB adapter pulled, the other end of a
  // pseudo-terminal closed); the port stays so until it is opened again.
  bool HungUp() const { return hungUp_.load(); }

  // The port's current line settings as read back from the device.
  bool ReadLineSettings(SerialLineSettings& line) const;

  // Raw mode, no flow control, non-blocking reads and the given line on a termios record;
  // false for data bits, parity or stop bits out of range.
  static bool ApplyLineSettings(termios& tio, const SerialLineSettings& line);
  static void DecodeLineSettings(const termios& tio, SerialLineSettings& line);

  // Standard speed used for a requested baud rate, and its termios constant.
  static uint32_t StandardBaud(uint32_t requested);
  static speed_t SpeedConstant(uint32_t standardBaud);

 private:
  std::atomic<int> fd_{-1};
  int wakeFd_ = -1;  // eventfd for Wake
  mutable std::atomic<bool> hungUp_{false};
  std::mutex writeMutex_;
};
