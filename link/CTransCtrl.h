// The one place through which the engineering program talks to the controller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CDirectDeliverer.h"
#include "CTransIFBase.h"
#include "IFrameRecorder.h"
#include "ITransDeliverer.h"
#include "ITransHost.h"
#include "ITransListener.h"
#include "ListenerSlots.h"
#include "OpeningQueries.h"
#include "PanelGeometry.h"
#include "TransFrame.h"
#include "TransTypes.h"

class CTransCtrl {
 public:
  static constexpr int kSlotCount = 10;
  static constexpr int kRecvBufferSize = 4096;
  // The queries Open sends on every link: the firmware version, the panel information.
  static constexpr const char* kGetVersion = OpeningQueries::kGetVersion;
  static constexpr const char* kGetFirmwareDetail = OpeningQueries::kGetFirmwareDetail;

  CTransCtrl();
  virtual ~CTransCtrl();
  CTransCtrl(const CTransCtrl&) = delete;
  CTransCtrl& operator=(const CTransCtrl&) = delete;

  // Wiring, done once before Open. Without a deliverer, deliveries run on the receive thread.
  void SetDeliverer(ITransDeliverer* deliverer);
  void SetHost(ITransHost* host);
  // Creates the link object for a link type; tests hand in fake links.
  using LinkFactory = std::function<std::unique_ptr<CTransIFBase>(int linkType)>;
  void SetLinkFactory(LinkFactory factory);
  // Every frame written and read goes to the recorder too (null: none). Any thread.
  void SetRecorder(std::shared_ptr<IFrameRecorder> recorder);

  // 1 = link open; otherwise the link's Open result, or 0 for an unknown link type.
  int Open(int linkType, const SerialLineSettings* serialSettings);
  // The link's Write result, or -1 when refused, failed or queued; *queued (when given)
  // tells whether it was queued to go out once the link is free.
  int SendCmd(const char* cmd, int len, int kind, int queueIfBusy, bool* queued = nullptr);
  int SendCmdDirect(const char* cmd, int len, int kind);
  void Close();

  int32_t GetLinkState();
  // When the last frame arrived from the device (the link's LastFrameUs; a listener has it
  // in its TransFrame). 0 when the link does not know.
  int64_t LastFrameUs() const;
  void SetLinkState(int32_t state);

  // The slot (a TransSlot), or -1 if the slot is above 9; mode is a ListenerMode.
  int RegisterListener(uint16_t slot, int mode, ITransListener* listener);
  int UnregisterListener(uint16_t slot);
  bool IsListenerActive(uint16_t slot) const;

  virtual int GetOSType();
  virtual int ReservedQuery1();
  virtual int ReservedQuery2();

  // Identity table: entry 0 from the first identity, entries 1 and 2 from the second.
  void SetIdentity(int entry, uint16_t vid, uint16_t pid, uint16_t osType);
  uint16_t VendorId(int entry) const;
  uint16_t ProductId(int entry) const;
  uint16_t OSType(int entry) const;
  // The USB interface of an entry's pipe (1 unless set), and the one device to open when
  // several match (hidraw node, USB port path or serial number; "" = the first).
  void SetInterface(int entry, uint16_t iface);
  uint16_t Interface(int entry) const;
  void SetDeviceChoice(const std::string& choice);

  // State the windows read. Listeners have the records in their TransFrame; these give
  // the ones of the frame being delivered (afterwards, of the last one delivered).
  int CommandSent() const;
  const DataRecord& GetDataRecord() const;              // valid during a delivery
  // The data report decoded from the frame being delivered; null when the decoder
  // refused that frame or it was no data report (the record above keeps the last one).
  const DataRecord* DecodedData() const;
  const CoordinateRecord& GetCoordinateRecord() const;  // valid during a delivery
  std::string FirmwareVersion() const;

  // The panel's geometry, configured and reported (any thread), and the one in force.
  PanelGeometry Geometry() const;
  PanelInfo Panel() const;
  // The configured counts and resolution (settings file, settings dialog): in force from
  // now on, until the controller reports its panel.
  void SetPanelCounts(int xCount, int yCount, int resolution);
  bool IsReceiving() const;
  int GetLinkType() const;
  // The current link's account of why its last Open failed (see CTransIFBase).
  std::string OpenFailureText() const;
  // The open link's identity or line settings ("" when none is open).
  std::string LinkDescription() const;
  // Frames the open link dropped because they arrived cut short (0 when none is open).
  uint64_t TruncatedFrames() const;
  // The device the open link uses (node empty when none is open).
  LinkDevice Device() const;
  // The last command whose write failed, and why ("could not send GetVersion: Broken
  // pipe"); SendFailures counts them. WritesStalled: the last write failed because the
  // device took nothing in time (more writes would only wait too).
  std::string LastSendFailure() const;
  uint64_t SendFailures() const;
  // Why an opening query (version, report settings, panel information) could not be
  // written even when tried again; empty when all went out.
  std::string OpeningFailure() const;
  bool WritesStalled() const;
  // After SendCmd(cmd) failed with the writes stalled: 1 when its write went out after all
  // (a busy host, not a stalled device: its answer comes as any other), 0 while it is
  // still under way, -1 when it failed in the end (LastSendFailure says why) or was never
  // begun.
  int SettleLateCommand(const char* cmd);
  int ReportTarget() const;
  int ReportPermission() const;

  // The process-wide queue of commands that met a busy link.
  static size_t PendingCount();
  static void ClearPending();

  // Benchmarks: the plain poll loop (sleeps 10 ms per empty poll after 20, never waits
  // on the device) instead of waiting on the link.
  void SetPlainPolling(bool on);

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};
