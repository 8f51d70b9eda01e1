#include "CTransCtrl.h"

#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

#include "CPendingQueue.h"
#include "CReceiveLoop.h"
#include "CTransCOM.h"
#include "CTransUSB.h"
#include "CommandString.h"
#include "LinkTrace.h"
#include "ReceiveSession.h"
#include "TransCore.h"

static_assert(CTransCtrl::kSlotCount == CListenerTable::kSlotCount);
static_assert(CTransCtrl::kRecvBufferSize == ReceiveSession::kBufferSize);

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kCloseWaitMs = 3000;

// Marks an Open or Close in progress; false when one already was.
class ChangeGuard {
 public:
  explicit ChangeGuard(std::atomic<bool>& flag) : flag_(flag), owner_(!flag.exchange(true)) {}
  ~ChangeGuard() {
    if (owner_) flag_.store(false);
  }
  bool Owner() const { return owner_; }

 private:
  std::atomic<bool>& flag_;
  bool owner_;
};

}  // namespace

struct CTransCtrl::Impl {
  std::shared_ptr<TransCore> core = std::make_shared<TransCore>();
  std::shared_ptr<ReceiveSession> session;
  std::thread thread;
  // Set while Open or Close runs. Close lets pending hand-overs run while it waits, and
  // one of them may run an event loop in which a timer calls Open or Close again: such
  // a nested call is refused, the outer one finishes on a consistent controller.
  std::atomic<bool> changing{false};

  // The link object for a link type (null for an unknown type).
  std::shared_ptr<CTransIFBase> MakeLink(int linkType) const;
  void StartThread(std::shared_ptr<CTransIFBase> link);
  void CloseLink();
  // Stops the receive thread; false when it did not end in time. The thread then closes
  // its link when it ends, unless closeAtOnce: the caller closes it now.
  bool StopThread(bool closeAtOnce);
};

// ---------------------------------------------------------------- link lifecycle

std::shared_ptr<CTransIFBase> CTransCtrl::Impl::MakeLink(int linkType) const {
  if (linkType != kLinkUsb && linkType != kLinkCom) return nullptr;
  if (core->factory) return core->factory(linkType);
  if (linkType == kLinkUsb) return std::make_shared<CTransUSB>();
  return std::make_shared<CTransCOM>();
}

void CTransCtrl::Impl::StartThread(std::shared_ptr<CTransIFBase> link) {
  session = std::make_shared<ReceiveSession>();
  session->link = std::move(link);
  thread = std::thread([c = core, s = session] { CReceiveLoop(*c, *s).Run(); });
}

bool CTransCtrl::Impl::StopThread(bool closeAtOnce) {
  if (!thread.joinable()) return true;
  session->running.store(false);
  if (session->link) session->link->WakeWaiter();
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();  // Close from within a delivery on the receive thread
    return false;
  }
  auto deadline = Clock::now() + milliseconds(kCloseWaitMs);
  std::unique_lock<std::mutex> lock(session->mutex);
  while (!session->done && Clock::now() < deadline) {
    lock.unlock();
    core->Deliverer()->RunPending();  // lets a delivery the thread waits on run
    lock.lock();
    session->ended.wait_for(lock, milliseconds(1), [this] { return session->done; });
  }
  bool ended = session->done;
  if (!ended && !closeAtOnce) session->closeLinkOnExit = true;
  lock.unlock();
  if (ended) {
    thread.join();
  } else {
    LinkTrace("[CTransCtrl::Close] receive thread still busy, left to end on its own\n");
    thread.detach();
  }
  return ended;
}

void CTransCtrl::Impl::CloseLink() {
  TransCore& c = *core;
  // hidpipe has one device per process: a USB link closed later by a thread left behind
  // would close whatever device the next Open opened. It is closed now; its thread then
  // only sees a closed device.
  const bool usb = c.link.Type() == kLinkUsb;
  bool threadEnded = StopThread(usb);
  c.link.SetType(kLinkNone);
  c.link.SetEncoding(kEncodingNone);
  std::shared_ptr<CTransIFBase> link = c.link.Take();
  // A serial thread that is still running closes its link (its own port) when it ends.
  if (link && (threadEnded || usb)) link->Close();
  session.reset();
  // Commands queued on this link are not sent on the next one, ahead of its opening.
  CPendingQueue::Instance().Clear();
}

CTransCtrl::CTransCtrl() : d(std::make_unique<Impl>()) {}

CTransCtrl::~CTransCtrl() {
  Close();
}

void CTransCtrl::SetDeliverer(ITransDeliverer* deliverer) {
  d->core->deliverer.store(deliverer);
}
void CTransCtrl::SetHost(ITransHost* host) {
  d->core->host.store(host);
}
void CTransCtrl::SetLinkFactory(LinkFactory factory) {
  d->core->factory = std::move(factory);
}
void CTransCtrl::SetRecorder(std::shared_ptr<IFrameRecorder> recorder) {
  d->core->link.SetRecorder(std::move(recorder));
}

int CTransCtrl::Open(int linkType, const SerialLineSettings* serialSettings) {
  LinkTrace("++[CTransCtrl::Open]\n");
  ChangeGuard guard(d->changing);
  if (!guard.Owner()) {
    LinkTrace("--[CTransCtrl::Open] refused within another Open or Close\n");
    return 0;
  }
  TransCore& c = *d->core;
  if (d->thread.joinable()) d->CloseLink();  // never replace a link under a running thread
  if (auto old = c.link.Take()) old->Close();
  c.link.SetType(linkType);
  std::shared_ptr<CTransIFBase> link = d->MakeLink(linkType);
  if (!link) {
    c.link.SetType(kLinkNone);
    c.link.SetEncoding(kEncodingNone);
    LinkTrace("--[CTransCtrl::Open]\n");
    return 0;
  }
  if (linkType == kLinkUsb) c.identity.ApplyTo(*link);
  c.send.Reset();
  c.link.SetEncoding(linkType == kLinkUsb ? kEncodingBinary : kEncodingAscii);
  c.link.Set(link);
  const int opened = link->Open(serialSettings);
  if (opened != 1) {
    LinkTrace("--[CTransCtrl::Open]\n");
    return opened;
  }
  d->StartThread(link);
  for (const char* cmd : OpeningQueries::kAll) {
    if (OpeningQueries::UsbOnly(cmd) && linkType != kLinkUsb) continue;
    c.send.SendOpening(cmd);
    if (!OpeningFailure().empty()) break;  // a device that takes nothing: no use going on
  }
  LinkTrace("--[CTransCtrl::Open]\n");
  return 1;
}

void CTransCtrl::Close() {
  LinkTrace("++[CTransCtrl::Close]\n");
  ChangeGuard guard(d->changing);
  if (guard.Owner()) d->CloseLink();
  LinkTrace("--[CTransCtrl::Close]\n");
}

// ---------------------------------------------------------------- sending

int CTransCtrl::SendCmd(const char* cmd, int len, int /*kind*/, int queueIfBusy, bool* queued) {
  LinkTrace("++[CTransCtrl::SendCmd]\n");
  int result = -1;
  CSendPath::Outcome outcome = CSendPath::Outcome::kRefused;
  if (cmd != nullptr && len >= 0 && len <= CommandString::kMaxLength) {
    std::string_view text(cmd, strnlen(cmd, static_cast<size_t>(len)));
    outcome = d->core->send.Send(text, queueIfBusy, result);
  }
  if (queued != nullptr) *queued = outcome == CSendPath::Outcome::kQueued;
  LinkTrace("--[CTransCtrl::SendCmd]\n");
  return result;
}

int CTransCtrl::SendCmdDirect(const char* cmd, int len, int /*kind*/) {
  LinkTrace("++[CTransCtrl::SendCmdDirect]\n");
  int result = -1;
  if (cmd != nullptr && len >= 0) {
    result = d->core->send.SendDirect(std::string_view(cmd, strnlen(cmd, size_t(len))));
  }
  LinkTrace("--[CTransCtrl::SendCmdDirect]\n");
  return result;
}

// ---------------------------------------------------------------- listeners

int CTransCtrl::RegisterListener(uint16_t slot, int mode, ITransListener* listener) {
  return d->core->listeners.Register(slot, mode, listener);
}
int CTransCtrl::UnregisterListener(uint16_t slot) {
  return d->core->listeners.Unregister(slot);
}
bool CTransCtrl::IsListenerActive(uint16_t slot) const {
  return d->core->listeners.IsActive(slot);
}

// ---------------------------------------------------------------- the link's accounts

int32_t CTransCtrl::GetLinkState() {
  auto link = d->core->link.Current();
  return link ? link->GetState() : kLinkClosed;
}
int64_t CTransCtrl::LastFrameUs() const {
  auto link = d->core->link.Current();
  return link ? link->LastFrameUs() : 0;
}
void CTransCtrl::SetLinkState(int32_t state) {
  if (auto link = d->core->link.Current()) link->SetState(state);
}
int CTransCtrl::GetOSType() {
  auto link = d->core->link.Current();
  return link ? link->GetOSType() : 0;
}
int CTransCtrl::ReservedQuery1() {
  auto link = d->core->link.Current();
  return link ? link->ReservedQuery1() : 0;
}
int CTransCtrl::ReservedQuery2() {
  auto link = d->core->link.Current();
  return link ? link->ReservedQuery2() : 0;
}
std::string CTransCtrl::OpenFailureText() const {
  auto link = d->core->link.Current();
  return link ? link->OpenFailureText() : std::string();
}
std::string CTransCtrl::LinkDescription() const {
  auto link = d->core->link.Current();
  return link ? link->Describe() : std::string();
}
uint64_t CTransCtrl::TruncatedFrames() const {
  auto link = d->core->link.Current();
  return link ? link->TruncatedFrames() : 0;
}
LinkDevice CTransCtrl::Device() const {
  auto link = d->core->link.Current();
  return link ? link->Device() : LinkDevice{};
}
int CTransCtrl::GetLinkType() const {
  return d->core->link.Type();
}
bool CTransCtrl::IsReceiving() const {
  return d->core->receiving.load() != 0;
}

// ---------------------------------------------------------------- identity table

void CTransCtrl::SetIdentity(int entry, uint16_t vid, uint16_t pid, uint16_t osType) {
  d->core->identity.Set(entry, vid, pid, osType);
}
void CTransCtrl::SetInterface(int entry, uint16_t iface) {
  d->core->identity.SetInterface(entry, iface);
}
uint16_t CTransCtrl::Interface(int entry) const {
  return d->core->identity.Interface(entry);
}
void CTransCtrl::SetDeviceChoice(const std::string& choice) {
  d->core->identity.SetDeviceChoice(choice);
}
uint16_t CTransCtrl::VendorId(int entry) const {
  return d->core->identity.VendorId(entry);
}
uint16_t CTransCtrl::ProductId(int entry) const {
  return d->core->identity.ProductId(entry);
}
uint16_t CTransCtrl::OSType(int entry) const {
  return d->core->identity.OSType(entry);
}

// ---------------------------------------------------------------- decoded state

const DataRecord& CTransCtrl::GetDataRecord() const {
  return d->core->decoder.Data();
}
const DataRecord* CTransCtrl::DecodedData() const {
  return d->core->decoder.DecodedData();
}
const CoordinateRecord& CTransCtrl::GetCoordinateRecord() const {
  return d->core->decoder.Coordinate();
}
std::string CTransCtrl::FirmwareVersion() const {
  return d->core->decoder.Version();
}
PanelGeometry CTransCtrl::Geometry() const {
  return d->core->panel.Geometry();
}
PanelInfo CTransCtrl::Panel() const {
  return d->core->panel.InForce();
}
void CTransCtrl::SetPanelCounts(int xCount, int yCount, int resolution) {
  d->core->panel.SetConfigured(xCount, yCount, resolution);
}

// ---------------------------------------------------------------- sending accounts

int CTransCtrl::CommandSent() const {
  return d->core->send.CommandSent();
}
std::string CTransCtrl::LastSendFailure() const {
  return d->core->send.LastFailure();
}
std::string CTransCtrl::OpeningFailure() const {
  return d->core->send.OpeningFailure();
}
uint64_t CTransCtrl::SendFailures() const {
  return d->core->send.Failures();
}
bool CTransCtrl::WritesStalled() const {
  return d->core->send.WritesStalled();
}
int CTransCtrl::SettleLateCommand(const char* cmd) {
  switch (d->core->send.SettleLate(cmd != nullptr ? cmd : "")) {
    case CSendPath::Late::kWentOut:
      return 1;
    case CSendPath::Late::kUnderWay:
      return 0;
    default:
      return -1;
  }
}
int CTransCtrl::ReportTarget() const {
  return d->core->send.ReportTarget();
}
int CTransCtrl::ReportPermission() const {
  return d->core->send.ReportPermission();
}
size_t CTransCtrl::PendingCount() {
  return CPendingQueue::Instance().Size();
}
void CTransCtrl::ClearPending() {
  CPendingQueue::Instance().Clear();
}
void CTransCtrl::SetPlainPolling(bool on) {
  d->core->plainPolling.store(on);
}
