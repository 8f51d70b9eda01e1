// The link over a serial port: STX / hexadecimal / CR packets.
#pragma once

#include <atomic>
#include <mutex>

#include "CSerialFrameAssembler.h"
#include "CSerialPort.h"
#include "CTransIFBase.h"

class CTransCOM : public CTransIFBase {
 public:
  CTransCOM() = default;
  ~CTransCOM() override;

  // settings: a SerialLineSettings (port number, line, optional device path).
  int Open(const void* settings) override;
  void Close() override;
  int32_t GetState() override { return state_.load(); }
  void SetState(int32_t state) override { state_.store(state); }
  int BytesWaiting() override { return port_.BytesWaiting(); }
  int Read(uint8_t* buf) override;
  // Writes the whole buffer: the number of bytes written, or -1 when there is no
  // port or the write fails.
  int Write(const uint8_t* data, int len) override;
  bool WaitForInput(int ms) override;
  bool CanWaitForInput() const override { return port_.IsOpen(); }
  bool CanWaitUntilWoken() const override { return port_.IsOpen() && port_.CanBeWoken(); }
  void WakeWaiter() override { port_.Wake(); }
  bool IsGone() override { return port_.HungUp(); }
  std::string Describe() const override;
  int LastWriteError() const override { return writeError_.load(); }
  LinkDevice Device() const override;

  // The line settings read back from the port after opening.
  const SerialLineSettings& LineSettings() const { return line_; }
  int PortNumber() const { return portNum_; }

 private:
  std::atomic<int32_t> state_{kLinkClosed};
  int portNum_ = 0;
  SerialLineSettings line_;
  CSerialPort port_;
  CSerialFrameAssembler assembler_;
  std::atomic<int> writeError_{0};
};
