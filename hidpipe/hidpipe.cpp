// The C entry points of libhidpipe.
#include "hidpipe/hidpipe.h"

#include <string>

#include "DeviceMatch.h"
#include "FrameLength.h"
#include "HidPipe.h"
#include "OpenError.h"

using hidpipe::HidPipe;

extern "C" {

int hidOpen(void* /*host*/) {
  return HidPipe::instance().open();
}

int hidOpenMyDevice(uint32_t vid, uint32_t pid, uint32_t iface) {
  hidpipe::setOpenError({});
  return HidPipe::instance().openDevice(vid, pid, iface);
}

const char* hidLastError(void) {
  return hidpipe::openError().c_str();
}

int hidEnableRecv(int on) {
  return HidPipe::instance().enableRecv(on);
}

int hidRecv(uint8_t* buf, int timeoutMs) {
  return HidPipe::instance().recv(buf, timeoutMs);
}

int hidRecvReport(uint8_t* buf, int timeoutMs) {
  return HidPipe::instance().recvReport(buf, timeoutMs);
}

int hidRecvWake(void) {
  return HidPipe::instance().recvWake();
}

int64_t hidLastReportTime(void) {
  return HidPipe::instance().lastReportUs();
}

int hidFrameTruncated(const uint8_t* report, int received) {
  if (report == nullptr) return 0;
  return hidpipe::frameTruncated(report, received < 0 ? 0 : size_t(received)) ? 1 : 0;
}

int hidSend(const uint8_t* buf) {
  return HidPipe::instance().send(buf);
}

int hidSendErrno(void) {
  return hidpipe::sendError();
}

int hidSendLate(void) {
  return HidPipe::instance().sendLate();
}

int hidChooseDevice(const char* choice) {
  return HidPipe::instance().chooseDevice(choice != nullptr ? choice : "");
}

int hidOpenedDevice(HidDeviceDesc* out) {
  hidpipe::HidDeviceInfo info;
  if (out == nullptr || !HidPipe::instance().openedDevice(info)) return 0;
  hidpipe::describeDevice(info, *out);
  return 1;
}

int hidDeviceGone(void) {
  return HidPipe::instance().deviceGone() ? 1 : 0;
}

int hidCloseMyDevice(void) {
  return HidPipe::instance().closeDevice();
}

int hidClose(void) {
  return HidPipe::instance().close();
}

int hidSetNoticeCallback(HidNoticeFn fn, void* user) {
  return HidPipe::instance().setNoticeCallback(fn, user);
}

uint64_t hidDroppedReports(void) {
  return HidPipe::instance().droppedReports();
}

int hidSetDrainRing(int on) {
  return HidPipe::instance().setDrainRing(on);
}

}  // extern "C"
