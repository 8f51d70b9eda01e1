// The interface every link implements, with its base behaviour.
#pragma once

#include <cstdint>
#include <string>

#include "TransTypes.h"

class CTransIFBase {
 public:
  virtual ~CTransIFBase() = default;

  // settings: the link's open settings (SerialLineSettings for a serial link), may be null.
  virtual int Open(const void* /*settings*/) { return 1; }
  virtual void Close() {}
  virtual int32_t GetState() { return 0; }
  virtual void SetState(int32_t /*state*/) {}
  virtual int BytesWaiting() { return 0; }
  // Fills buf (at least 4096 bytes) with one frame; returns its length, 0 = nothing received.
  virtual int Read(uint8_t* /*buf*/) { return 0; }
  // Returns -1 on failure.
  virtual int Write(const uint8_t* /*data*/, int /*len*/) { return 0; }
  virtual int GetOSType() { return 0; }
  virtual int ReservedQuery1() { return 0; }
  virtual int ReservedQuery2() { return 0; }
  virtual void SetVendorIds(const uint16_t* /*ids*/) {}
  virtual void SetProductIds(const uint16_t* /*ids*/) {}
  virtual void SetOSTypes(const uint16_t* /*types*/) {}
  // USB: the interface of each entry's pipe, and the one device to open among several
  // (hidraw node, USB port path or serial number; "" = any).
  virtual void SetInterfaces(const uint16_t* /*ifaces*/) {}
  virtual void SetDeviceChoice(const std::string& /*choice*/) {}
  // Waits up to ms milliseconds for input to arrive (negative: see CanWaitUntilWoken);
  // returns at once when some is waiting. A link that cannot wait returns at once; the
  // caller then sleeps instead.
  virtual bool WaitForInput(int /*ms*/) { return false; }
  // True when WaitForInput really waits on the device (the caller need not sleep).
  virtual bool CanWaitForInput() const { return false; }
  // True when WaitForInput(-1) waits without limit, until input, the device's end or
  // WakeWaiter.
  virtual bool CanWaitUntilWoken() const { return false; }
  // Makes a WaitForInput under way, or else the next one, return at once (any thread).
  virtual void WakeWaiter() {}
  // True once the device under an open link went away (hang-up or I/O error).
  virtual bool IsGone() { return false; }
  // Why the last Open failed, beyond "not found": one line per device that was found but
  // refused. Empty when there is nothing more to say.
  virtual std::string OpenFailureText() const { return {}; }
  // Identity or line settings of the open link, for session recordings.
  virtual std::string Describe() const { return {}; }
  // Frames that arrived cut short and were dropped, not delivered.
  virtual uint64_t TruncatedFrames() const { return 0; }
  // The errno of the last Write that failed (0: none failed), and its account.
  virtual int LastWriteError() const { return 0; }
  // The last write that outlasted its Write: -1 while still under way (a Write meanwhile
  // writes nothing), else the errno it ended with, 0 when it went out after all.
  virtual int LateWrite() const { return 0; }
  virtual std::string LastWriteErrorText() const { return {}; }
  // The device the open link uses; node empty when none is open.
  virtual LinkDevice Device() const { return {}; }
  // When the frame the last Read gave arrived from the device (steady clock, microseconds),
  // taken where it was read from the device; 0 when the link does not know.
  virtual int64_t LastFrameUs() const { return 0; }
};
