#include "CTransCOM.h"

#include <cerrno>

#include <cstdio>

#include "LinkTrace.h"
#include "SerialPortMap.h"

CTransCOM::~CTransCOM() {
  port_.Close();
}

int CTransCOM::Open(const void* settings) {
  if (settings == nullptr) return 0;
  const auto& requested = *static_cast<const SerialLineSettings*>(settings);
  portNum_ = requested.portNum;
  line_ = requested;
  if (portNum_ <= 0) return 0;
  if (!port_.Open(ComDevicePath(requested), requested)) return 0;
  if (!port_.ReadLineSettings(line_)) return 0;
  assembler_.Reset();
  state_.store(kLinkIdle);
  return 1;
}

void CTransCOM::Close() {
  port_.Close();
  state_.store(kLinkClosed);
}

int CTransCOM::Read(uint8_t* buf) {
  if (!assembler_.HasRaw()) {
    int waiting = port_.BytesWaiting();
    if (waiting <= 0) return 0;
    int got = port_.Read(assembler_.RawBuffer(), CSerialFrameAssembler::ReadSize(waiting));
    assembler_.SetRawCount(got);
  }
  int len = assembler_.Scan(buf);
  if (len > 0 && LinkTraceEnabled()) {
    LinkTrace("++CTransCOM::Read() Received: \n");
    for (int i = 0; i < len; ++i) LinkTrace("0x%02x,", buf[i]);
    LinkTrace("\n");
  }
  return len;
}

int CTransCOM::Write(const uint8_t* data, int len) {
  int written = port_.Write(data, len);
  if (written < 0) {
    writeError_.store(errno != 0 ? errno : EIO);
    LinkTrace("CTransCOM::Write() can't write \n");
    return -1;
  }
  return written;
}

bool CTransCOM::WaitForInput(int ms) {
  if (assembler_.HasRaw()) return true;
  return port_.WaitForInput(ms);
}

LinkDevice CTransCOM::Device() const {
  LinkDevice d;
  if (!port_.IsOpen()) return d;
  d.node = ComDevicePath(line_);
  d.bus = "serial";
  return d;
}

std::string CTransCOM::Describe() const {
  static const char kParity[] = "NOEMS";
  static const char* const kStop[] = {"1", "1.5", "2"};
  char text[200];
  std::snprintf(text, sizeof text, "%u %u%c%s port=%d path=%s", line_.baudRate,
                unsigned{line_.byteSize}, line_.parity < 5 ? kParity[line_.parity] : '?',
                line_.stopBits < 3 ? kStop[line_.stopBits] : "?", portNum_,
                ComDevicePath(line_).c_str());
  return text;
}
