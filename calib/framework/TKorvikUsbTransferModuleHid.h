// The hidpipe calls the transfer module makes, as a table tests can replace.
#pragma once

#include <cstdint>
#include <functional>

#include "hidpipe/hidpipe.h"

struct TKorvikUsbTransferModuleHid {
  std::function<int(void* host)> Open;
  std::function<int(uint32_t vid, uint32_t pid, uint32_t iface)> OpenMyDevice;
  std::function<int(int on)> EnableRecv;
  std::function<int(uint8_t* buf, int timeoutMs)> Recv;  // bytes that arrived, 0 = none
  std::function<int(const uint8_t* buf)> Send;
  std::function<int()> CloseMyDevice;
  std::function<int()> Close;
  std::function<int(HidNoticeFn fn, void* user)> SetNoticeCallback;
  // Why the last OpenMyDevice failed on this thread; may be left empty.
  std::function<const char*()> LastError;

  // The real library.
  static TKorvikUsbTransferModuleHid Library();
};
