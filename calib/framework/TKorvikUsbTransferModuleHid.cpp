#include "TKorvikUsbTransferModuleHid.h"

TKorvikUsbTransferModuleHid TKorvikUsbTransferModuleHid::Library() {
  TKorvikUsbTransferModuleHid hid;
  hid.Open = [](void* host) { return hidOpen(host); };
  hid.OpenMyDevice = [](uint32_t vid, uint32_t pid, uint32_t iface) {
    return hidOpenMyDevice(vid, pid, iface);
  };
  hid.EnableRecv = [](int on) { return hidEnableRecv(on); };
  hid.Recv = [](uint8_t* buf, int timeoutMs) { return hidRecvReport(buf, timeoutMs); };
  hid.Send = [](const uint8_t* buf) { return hidSend(buf); };
  hid.CloseMyDevice = [] { return hidCloseMyDevice(); };
  hid.Close = [] { return hidClose(); };
  hid.SetNoticeCallback = [](HidNoticeFn fn, void* user) { return hidSetNoticeCallback(fn, user); };
  hid.LastError = [] { return hidLastError(); };
  return hid;
}
