#include "EmulatedController.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/SimHex.h"

namespace {

constexpr size_t kKernelQueue = 64;  // reports hidraw keeps for a reader
constexpr unsigned kTickMs = 2;
constexpr unsigned kTouchEveryTicks = 5;

tpcsim::ControllerConfig ConfigFor(const HidNodeSpec& node) {
  tpcsim::ControllerConfig c;
  c.link = tpcsim::LinkKind::Usb;
  c.vid = node.vid;
  c.pid = node.pid;
  c.iface = static_cast<uint8_t>(node.usbInterface);
  return c;
}

}  // namespace

const Bytes EmulatedController::kTouchMarker = {0x02, 0x4C, 0x0D, 0x04, 'T', 'O', 'U', 'C',
                                                'H',  ' ',  'R',  'E',  'P', 'O', 'R', 'T'};

EmulatedController::EmulatedController(HidrawTestbed& bed, const HidNodeSpec& node, Layout layout)
    : bed_(bed),
      node_(node),
      layout_(std::move(layout)),
      devnode_("/dev/hidraw" + std::to_string(node.number)),
      firmware_(clock_, ConfigFor(node)) {
  bell_ = umockdev_testbed_get_dev_fd(bed_.Raw(), devnode_.c_str());
  char name[128];
  if (bell_ >= 0 && ::ptsname_r(bell_, name, sizeof name) == 0) {
    termios t{};
    if (::tcgetattr(bell_, &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(bell_, TCSANOW, &t);
    }
    bellTaker_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  bed_.RunOnLoop([this] {
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(OnIoctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(OnRead), this);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(OnWrite), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(OnConnected), this);
    GError* error = nullptr;
    attached_ = bellTaker_ >= 0 &&
                umockdev_testbed_attach_ioctl(bed_.Raw(), devnode_.c_str(), handler_, &error);
    if (error != nullptr) g_error_free(error);
    tick_ = g_timeout_source_new(kTickMs);
    g_source_set_callback(tick_, OnTick, this, nullptr);
    g_source_attach(tick_, g_main_context_get_thread_default());
  });
}

EmulatedController::~EmulatedController() {
  EndStalls();
  bed_.RunOnLoop([this] {
    g_source_destroy(tick_);
    g_source_unref(tick_);
    if (attached_) umockdev_testbed_detach_ioctl(bed_.Raw(), devnode_.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
  });
  if (bellTaker_ >= 0) ::close(bellTaker_);
}

void EmulatedController::SetPresent(bool present) {
  std::lock_guard lk(m_);
  if (present == present_) return;
  present_ = present;
  reports_.clear();
  if (present) {
    firmware_.PowerCycle();
    Hush();
  } else {
    Ring();  // a waiting reader wakes and finds the device gone
  }
}

void EmulatedController::FailWrites(int error, int count) {
  std::lock_guard lk(m_);
  writeError_ = error;
  writeErrorsLeft_ = error == 0 ? 0 : count;
}

void EmulatedController::StallWrites(unsigned ms) {
  std::lock_guard lk(m_);
  stallMs_ = ms;
  if (ms == 0) return;
  // Silent meanwhile: umockdev's preload lets one call on a node run at a time, so a read
  // would wait behind the stalled write, which the kernel's hidraw does not do.
  reports_.clear();
  Hush();
}

void EmulatedController::SlowWrites(unsigned ms) {
  std::lock_guard lk(m_);
  slowMs_ = ms;
}

void EmulatedController::LoseAnswer(uint8_t group, uint8_t sub) {
  std::lock_guard lk(m_);
  toLose_.emplace_back(group, sub);
}

void EmulatedController::EndStalls() {
  bed_.RunOnLoop([this] {
    std::vector<std::pair<GSource*, UMockdevIoctlClient*>> left;
    {
      std::lock_guard lk(m_);
      left.swap(stalled_);
      stallsEnded_ += left.size();
    }
    for (const auto& stall : left) {
      g_source_destroy(stall.first);
      EndStall(stall);
    }
  });
}

size_t EmulatedController::StallsEnded() {
  std::lock_guard lk(m_);
  return stallsEnded_;
}

size_t EmulatedController::StallsStarted() {
  std::lock_guard lk(m_);
  return stallsStarted_;
}

size_t EmulatedController::WritesStarted() {
  std::lock_guard lk(m_);
  return writesStarted_;
}

void EmulatedController::FailReads(int error) {
  std::lock_guard lk(m_);
  readError_ = error;
  if (error != 0)
    Ring();
  else if (reports_.empty())
    Hush();
}

std::vector<Bytes> EmulatedController::HostFrames() {
  std::lock_guard lk(m_);
  return hostFrames_;
}

std::vector<Bytes> EmulatedController::DeviceFrames() {
  std::lock_guard lk(m_);
  return deviceFrames_;
}

std::vector<std::string> EmulatedController::Malformed() {
  std::lock_guard lk(m_);
  return malformed_;
}

size_t EmulatedController::TouchReportsSent() {
  std::lock_guard lk(m_);
  return touchReports_;
}

void EmulatedController::WithFirmware(const std::function<void(tpcsim::VirtualController&)>& fn) {
  std::lock_guard lk(m_);
  fn(firmware_);
}

void EmulatedController::Ring() {
  if (rung_) return;
  const char bell = 1;
  rung_ = ::write(bell_, &bell, 1) == 1;
}

void EmulatedController::Hush() {
  char bytes[64];
  while (::read(bellTaker_, bytes, sizeof bytes) > 0) {
  }
  rung_ = false;
}

bool EmulatedController::QueueReport(Bytes report) {
  if (readers_ == 0 || !present_) return false;  // nobody has the node open: the kernel drops it
  if (stallMs_ > 0) return false;                // a device whose transfers stall sends nothing
  if (reports_.size() >= kKernelQueue) return false;
  reports_.push_back(std::move(report));
  Ring();
  return true;
}

void EmulatedController::Queue(const std::vector<tpcsim::OutFrame>& frames) {
  for (const tpcsim::OutFrame& f : frames) {
    const auto lost = std::find_if(toLose_.begin(), toLose_.end(), [&](const auto& answer) {
      return f.bytes.size() >= 4 && f.bytes[0] == 0x02 && f.bytes[1] == answer.first &&
             f.bytes[3] == answer.second;
    });
    if (lost != toLose_.end()) {
      toLose_.erase(lost);
      continue;
    }
    // A frame cut short by a fault goes out as a short report: it ends with its bytes.
    Bytes report;
    switch (layout_.framing) {
      case Framing::Unnumbered:
        report = f.bytes;
        if (!f.cut) report.resize(layout_.pipeBytes, 0);
        break;
      case Framing::VendorPipe:
        report.push_back(layout_.pipeId);
        report.insert(report.end(), f.bytes.begin(), f.bytes.end());
        if (!f.cut) report.resize(1 + layout_.pipeBytes, 0);
        break;
      case Framing::IdIsType: {
        report = f.bytes;
        const auto size = layout_.idBytes.find(report.empty() ? 0 : report[0]);
        if (size == layout_.idBytes.end()) continue;  // no such input report
        if (!f.cut) report.resize(size->second, 0);
        break;
      }
    }
    if (QueueReport(std::move(report))) deviceFrames_.push_back(f.bytes);
  }
}

void EmulatedController::HandleWrite(const uint8_t* data, size_t size) {
  if (size == 0) return;
  Bytes frame;
  const auto wrong = [&](const std::string& why) {
    malformed_.push_back(why + ": " + tpcsim::HexLine({data, size}));
  };
  switch (layout_.framing) {
    case Framing::Unnumbered:
      if (data[0] != 0 || size != 1 + layout_.pipeBytes) return wrong("not id 0 + 64 bytes");
      frame.assign(data + 1, data + size);
      break;
    case Framing::VendorPipe:
      if (data[0] != layout_.pipeId || size != 1 + layout_.pipeBytes)
        return wrong("not the pipe's id and size");
      frame.assign(data + 1, data + size);
      break;
    case Framing::IdIsType: {
      const auto it = layout_.idBytes.find(data[0]);
      if (it == layout_.idBytes.end() || size != it->second) return wrong("not an id's size");
      frame.assign(data, data + size);
      break;
    }
  }
  size_t len = tpcsim::FrameLength(frame);
  if (len == 0) len = frame.size();
  frame.resize(len);
  hostFrames_.push_back(frame);
  Queue(firmware_.HandleHostFrame(frame));
}

gboolean EmulatedController::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                     gpointer user) {
  auto* self = static_cast<EmulatedController*>(user);
  std::lock_guard lk(self->m_);
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (!self->present_) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  const Bytes& desc = self->layout_.descriptor;
  GError* error = nullptr;
  UMockdevIoctlData* data = nullptr;
  if (request == HIDIOCGRDESCSIZE) {
    data = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), &error);
    if (data != nullptr) *reinterpret_cast<int*>(data->data) = static_cast<int>(desc.size());
  } else if (request == HIDIOCGRDESC) {
    data = umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), &error);
    if (data != nullptr) {
      auto* d = reinterpret_cast<hidraw_report_descriptor*>(data->data);
      // The kernel copies what was asked for, at most the descriptor.
      const size_t n = std::min<size_t>(d->size, desc.size());
      std::memcpy(d->value, desc.data(), n);
    }
  } else if (request == HIDIOCGRAWINFO) {
    data = umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_devinfo), &error);
    if (data != nullptr) {
      auto* info = reinterpret_cast<hidraw_devinfo*>(data->data);
      info->bustype = self->node_.bus;
      info->vendor = static_cast<int16_t>(self->node_.vid);
      info->product = static_cast<int16_t>(self->node_.pid);
    }
  } else {
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
  }
  if (error != nullptr) g_error_free(error);
  umockdev_ioctl_client_complete(client, data != nullptr ? 0 : -1, data != nullptr ? 0 : EFAULT);
  return TRUE;
}

gboolean EmulatedController::OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                    gpointer user) {
  auto* self = static_cast<EmulatedController*>(user);
  std::lock_guard lk(self->m_);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (!self->present_) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  if (self->readError_ != 0) {
    umockdev_ioctl_client_complete(client, -1, self->readError_);
    return TRUE;
  }
  if (self->reports_.empty()) {
    self->Hush();  // a bell byte that reached the node late
    umockdev_ioctl_client_complete(client, -1, EAGAIN);
    return TRUE;
  }
  Bytes report = std::move(self->reports_.front());
  self->reports_.pop_front();
  if (self->reports_.empty()) self->Hush();
  // A reader's buffer smaller than the report gets its first bytes, as from the kernel.
  const size_t n = std::min<size_t>(report.size(), static_cast<size_t>(arg->data_len));
  umockdev_ioctl_data_update(arg, 0, report.data(), static_cast<gint>(n));
  umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
  return TRUE;
}

gboolean EmulatedController::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                     gpointer user) {
  auto* self = static_cast<EmulatedController*>(user);
  std::lock_guard lk(self->m_);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (!self->present_) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  ++self->writesStarted_;
  if (self->writeErrorsLeft_ != 0) {
    if (self->writeErrorsLeft_ > 0) --self->writeErrorsLeft_;
    umockdev_ioctl_client_complete(client, -1, self->writeError_);
    return TRUE;
  }
  if (self->stallMs_ > 0 || self->slowMs_ > 0) {
    // Taken later, as the kernel's time-out does: the writer stays blocked meanwhile.
    ++self->stallsStarted_;
    GSource* later = g_timeout_source_new(self->stallMs_ > 0 ? self->stallMs_ : self->slowMs_);
    self->stalled_.push_back({later, UMOCKDEV_IOCTL_CLIENT(g_object_ref(client))});
    g_source_set_callback(later, OnStallEnd, self, nullptr);
    g_source_attach(later, g_main_context_get_thread_default());
    return TRUE;
  }
  self->HandleWrite(arg->data, static_cast<size_t>(arg->data_len));
  umockdev_ioctl_client_complete(client, arg->data_len, 0);
  return TRUE;
}

gboolean EmulatedController::OnStallEnd(gpointer user) {
  auto* self = static_cast<EmulatedController*>(user);
  GSource* now = g_main_current_source();
  std::pair<GSource*, UMockdevIoctlClient*> stall{nullptr, nullptr};
  gssize taken = -1;
  {
    std::lock_guard lk(self->m_);
    const auto it = std::find_if(self->stalled_.begin(), self->stalled_.end(),
                                 [&](const auto& s) { return s.first == now; });
    if (it == self->stalled_.end()) return G_SOURCE_REMOVE;  // ended already (EndStalls)
    stall = *it;
    self->stalled_.erase(it);
    ++self->stallsEnded_;
    if (self->slowMs_ > 0) {  // a slow write is taken in the end
      UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(stall.second);
      self->HandleWrite(arg->data, static_cast<size_t>(arg->data_len));
      taken = static_cast<gssize>(arg->data_len);
    }
  }
  if (taken < 0) {
    self->EndStall(stall);
    return G_SOURCE_REMOVE;
  }
  umockdev_ioctl_client_complete(stall.second, taken, 0);
  g_object_unref(stall.second);
  g_source_unref(stall.first);
  return G_SOURCE_REMOVE;
}

void EmulatedController::EndStall(const std::pair<GSource*, UMockdevIoctlClient*>& stall) {
  umockdev_ioctl_client_complete(stall.second, -1, ETIMEDOUT);
  g_object_unref(stall.second);
  g_source_unref(stall.first);
}

void EmulatedController::OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                     gpointer user) {
  auto* self = static_cast<EmulatedController*>(user);
  {
    std::lock_guard lk(self->m_);
    ++self->readers_;
  }
  g_signal_connect(client, "notify::connected", G_CALLBACK(OnConnectedChanged), user);
}

void EmulatedController::OnConnectedChanged(GObject* client, GParamSpec*, gpointer user) {
  auto* self = static_cast<EmulatedController*>(user);
  if (umockdev_ioctl_client_get_connected(UMOCKDEV_IOCTL_CLIENT(client))) return;
  std::lock_guard lk(self->m_);
  if (--self->readers_ == 0) {
    self->reports_.clear();
    if (self->present_) self->Hush();
  }
}

gboolean EmulatedController::OnTick(gpointer user) {
  auto* self = static_cast<EmulatedController*>(user);
  std::lock_guard lk(self->m_);
  if (!self->present_ || self->readers_ == 0) return G_SOURCE_CONTINUE;
  self->Queue(self->firmware_.Poll());
  if (self->layout_.touchId != 0 && ++self->ticks_ % kTouchEveryTicks == 0) {
    Bytes touch{self->layout_.touchId};
    touch.insert(touch.end(), kTouchMarker.begin(), kTouchMarker.end());
    touch.resize(1 + 64, 0);
    if (self->QueueReport(std::move(touch))) ++self->touchReports_;
  }
  return G_SOURCE_CONTINUE;
}
