/* hidpipe: the HID transport both programs load.
 *
 * One device at a time per process. Every call returns non-zero for success.
 * Backends: hidapi over hidraw (default), or the tpcsim simulator when the
 * environment variable HIDPIPE_SIM names its Unix socket.
 */
#ifndef HIDPIPE_H
#define HIDPIPE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HIDPIPE_REPORT_SIZE 64

/* Device notice events (the numbers are those of a device arrival and of a
 * completed device removal). */
#define HIDPIPE_ARRIVAL 0x8000
#define HIDPIPE_REMOVAL 0x8004

/* A notice callback receives the event and the device path. The path text
 * carries "VID_xxxx", "PID_xxxx" and "MI_xx" (hexadecimal, upper case). It is
 * called on a thread of the library; the callee hands it to its own thread. */
typedef void (*HidNoticeFn)(int event, const char* path, void* user);

/* Starts the library (the host handle is kept only for the caller's sake). */
int hidOpen(void* host);

/* Opens the first device whose vendor, product and interface number match (the
 * interface only on USB: I2C and Bluetooth devices have none) and whose report
 * layout the protocol can use. Vendor 0 or product 0 never matches. Closes a
 * device opened before. */
int hidOpenMyDevice(uint32_t vid, uint32_t pid, uint32_t iface);

/* Why the calling thread's last hidOpenMyDevice failed, when a matching device was
 * found but could not be used: the device path, then the reason (no access, or a report
 * layout the protocol cannot use, with the layout found). Empty when no device matched
 * or the open succeeded. After hidSend refused a frame that the device's report
 * layout cannot carry, why; after a failed hidDeviceDescriptor (hidpipe_diag.h), why.
 * The text stays valid until the thread's next hidOpenMyDevice, hidSend or
 * hidDeviceDescriptor. */
const char* hidLastError(void);

/* Turns reception on (1) or off (0) for the open device. */
int hidEnableRecv(int on);

/* Takes one 64-byte input report into buf (at least 64 bytes). Waits up to
 * timeoutMs milliseconds for one when none is waiting (0 = do not wait; negative =
 * until a report, hidRecvWake or the device's end). Returns 1 for a report, 0 when
 * no report came. */
int hidRecv(uint8_t* buf, int timeoutMs);

/* Makes a hidRecv or hidRecvReport that is waiting, or else the next one that waits,
 * return 0 at once (one wake). Any thread: a reader that waits without limit is
 * stopped or given other work this way. */
int hidRecvWake(void);

/* As hidRecv, and says how much of the report arrived: returns the number of its
 * bytes that came from the device (1 to 64; buf is zero-filled after them), 0 when
 * no report came. Reports are normally whole (64); a device that sent less gives
 * fewer. */
int hidRecvReport(uint8_t* buf, int timeoutMs);

/* When the report the last hidRecv or hidRecvReport gave arrived from the device, in
 * microseconds of the monotonic clock (CLOCK_MONOTONIC), taken by the thread that read
 * it from the device: a caller that was late to take it still knows when it came.
 * 0 before any report. */
int64_t hidLastReportTime(void);

/* 1 when report (as hidRecvReport filled it, received bytes of it arrived) holds
 * less than the frame its header announces (type 0x02: byte 2 + 3; F1, F3: 8;
 * F2, F4: 64; never more than 64): a truncated frame, whose zero tail is
 * padding, not data. Callers drop such a frame. 0 otherwise (also for a type whose
 * length the header does not give). */
int hidFrameTruncated(const uint8_t* report, int received);

/* Sends one output report: the frame at the start of buf followed by zeros.
 * The frame's length comes from its own header (type 0x02: byte 2 + 3;
 * F1, F3: 8; F2, F4: 64) and nothing past it is read. A frame that claims
 * more than 64 bytes, or of an unknown type, is refused (returns 0), as is
 * one the device's report layout cannot carry (see hidLastError).
 * The device is written on a thread of the library: hidSend waits for it at most
 * about 100 ms. A write that takes longer (a device whose transfers stall) fails
 * with ETIMEDOUT and goes on in the background; until it ends every hidSend fails at
 * once with EBUSY, writing nothing. hidSendErrno and hidLastError say why a send failed. */
int hidSend(const uint8_t* buf);

/* The errno of the calling thread's last hidSend: 0 when it went out; ETIMEDOUT when the
 * device did not take it in time (it may still go out: hidSendLate); EBUSY when an
 * earlier write was still under way (nothing was written); EMSGSIZE when the layout
 * cannot carry it; ENODEV when no device is open or it went away; otherwise the device's
 * own error (EPIPE...). */
int hidSendErrno(void);

/* The fate of the last write that outlasted its hidSend (ETIMEDOUT): -1 while it is still
 * under way (the device has not taken it yet, or a busy host has not finished it; a send
 * made meanwhile fails at once with EBUSY and writes nothing), else the errno it ended
 * with, 0 when it went out after all. 0 when no write ever outlasted its hidSend. */
int hidSendLate(void);

/* Restricts every later hidOpenMyDevice to the device choice names: its hidraw node
 * ("/dev/hidraw3" or "hidraw3"), its USB port path ("1-2.3") or its serial number
 * (USB iSerial, HID_UNIQ). NULL or "" lifts the restriction. Among several devices that
 * match, hidOpenMyDevice opens the first by bus and node. */
int hidChooseDevice(const char* choice);

/* The open device as found. Strings are NUL-terminated and cut to their fields. */
typedef struct HidDeviceDesc {
  char path[256];    /* "/dev/hidraw3"; the simulator's "sim:SOCKET" */
  char serial[128];  /* serial number, "" when the device has none */
  char port[64];     /* USB port path ("1-2.3"), "" off USB */
  char product[128]; /* product name, "" when none */
  uint16_t vid, pid;
  int iface;         /* USB interface number, -1 when the bus has none */
  int bus;           /* 1 USB, 2 Bluetooth, 3 I2C, 4 SPI, 0 unknown */
} HidDeviceDesc;

/* Fills out with the open device; 0 when none is open. */
int hidOpenedDevice(HidDeviceDesc* out);

/* 1 when the open device failed as a pulled one does (EIO or ENODEV on a read or a
 * write, a hang-up), with or without a removal from udev. Such a failure is announced to
 * the notice callback as a removal, exactly as udev's is (once per device). */
int hidDeviceGone(void);

/* Closes the open device; succeeds also when none was open. */
int hidCloseMyDevice(void);

/* Releases the library; the notice registration stays. */
int hidClose(void);

/* Registers (or with fn = NULL removes) the device notice callback. Notices
 * start flowing at registration, whether or not a device is open. */
int hidSetNoticeCallback(HidNoticeFn fn, void* user);

/* Input reports the library had to drop since the device was opened. */
uint64_t hidDroppedReports(void);

/* Drain ring on (1, default) or off (0): with it off, hidRecv reads the
 * device's own queue directly (as a plain reader would). For benchmarks. */
int hidSetDrainRing(int on);

#ifdef __cplusplus
}
#endif

#endif /* HIDPIPE_H */
