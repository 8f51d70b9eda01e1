#include "HidrawTestbed.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02x", v);
    text += b;
  }
  return text;
}

std::string Fmt(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

HidrawTestbed::HidrawTestbed() {
  bed_ = umockdev_testbed_new();
  gchar* root = umockdev_testbed_get_root_dir(bed_);
  dir_ = root;
  g_free(root);
  ctx_ = g_main_context_new();
  loop_ = std::thread([this] {
    g_main_context_push_thread_default(ctx_);
    while (!stop_) g_main_context_iteration(ctx_, TRUE);
    g_main_context_pop_thread_default(ctx_);
  });
}

HidrawTestbed::~HidrawTestbed() {
  stop_ = true;
  g_main_context_wakeup(ctx_);
  loop_.join();
  g_object_unref(bed_);
  g_main_context_unref(ctx_);
}

bool HidrawTestbed::Preloaded() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

bool HidrawTestbed::Add(const std::string& records) {
  GError* error = nullptr;
  if (umockdev_testbed_add_from_string(bed_, records.c_str(), &error)) return true;
  std::fprintf(stderr, "testbed: %s\n", error != nullptr ? error->message : "?");
  if (error != nullptr) g_error_free(error);
  return false;
}

std::string HidrawTestbed::AddHid(const HidNodeSpec& s) {
  const bool usb = s.bus == HidNodeSpec::kBusUsb;
  const std::string hidName = Fmt("%04X:%04X:", s.bus, s.vid) +
                              Fmt("%04X.%04X", s.pid, static_cast<unsigned>(s.number + 1));
  std::string parent;
  std::string records;
  if (usb) {
    const std::string device = "/devices/pci0000:00/0000:00:14.0/usb1/" + s.usbPort;
    parent = device + "/" + s.usbPort + Fmt(":1.%u", static_cast<unsigned>(s.usbInterface));
    // The USB device once, whichever interface comes first.
    if (!g_file_test((dir_ + "/sys" + device).c_str(), G_FILE_TEST_IS_DIR))
      records += "P: " + device + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
                 Fmt("A: idVendor=%04x\nA: idProduct=%04x\n", s.vid, s.pid) +
                 "A: manufacturer=Vantrel test\nA: product=Emulated panel\n"
                 "A: serial=" + s.serial + "\nA: bcdDevice=0100\n\n";
    records += "P: " + parent + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" +
               Fmt("A: bInterfaceNumber=%02x\nA: bInterfaceClass=03\n\n",
                   static_cast<unsigned>(s.usbInterface));
  } else {
    parent = "/devices/platform/AMDI0010:00/i2c-0/i2c-VTP0001:00";
    if (!g_file_test((dir_ + "/sys" + parent).c_str(), G_FILE_TEST_IS_DIR))
      records += "P: " + parent + "\nE: SUBSYSTEM=i2c\n\n";
  }
  const std::string hid = parent + "/" + hidName;
  records += "P: " + hid + "\nE: SUBSYSTEM=hid\n" +
             Fmt("E: HID_ID=%04X:%08X:%08X\n", s.bus, s.vid, s.pid) +
             "E: HID_NAME=Vantrel emulated panel\nE: HID_PHYS=emulated\nE: HID_UNIQ=" + s.serial +
             "\n" +
             "H: report_descriptor=" + Hex(s.descriptor) + "\n\n";
  const std::string node = Fmt("hidraw%u", static_cast<unsigned>(s.number));
  const std::string hidraw = hid + "/hidraw/" + node;
  records += "P: " + hidraw + "\nN: " + node + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + node +
             Fmt("\nE: MAJOR=%u\nE: MINOR=%u\n", 240, static_cast<unsigned>(s.number));
  if (!Add(records)) return "";
  // hidapi reads the descriptor through the node's device link.
  umockdev_testbed_set_attribute_link(bed_, ("/sys" + hidraw).c_str(), "device", "../..");
  return "/sys" + hidraw;
}

std::string HidrawTestbed::AddTty(int number) {
  const std::string tty = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/" +
                          Fmt("ttyUSB%u", number) + "/tty/" + Fmt("ttyUSB%u", number);
  const std::string records = "P: " + tty + "\nN: " + Fmt("ttyUSB%u", number) +
                              "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + Fmt("ttyUSB%u", number) +
                              "\n";
  return Add(records) ? "/sys" + tty : "";
}

void HidrawTestbed::Remove(const std::string& syspath) {
  umockdev_testbed_remove_device(bed_, syspath.c_str());
}

void HidrawTestbed::Uevent(const std::string& syspath, const char* action) {
  umockdev_testbed_uevent(bed_, syspath.c_str(), action);
}

void HidrawTestbed::RunOnLoop(const std::function<void()>& fn) {
  std::unique_lock lk(jobsMutex_);
  jobs_.push_back(&fn);
  const size_t ticket = jobsRun_ + jobs_.size();
  g_main_context_invoke(
      ctx_,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<HidrawTestbed*>(data);
        std::unique_lock jl(self->jobsMutex_);
        while (!self->jobs_.empty()) {
          const std::function<void()>* job = self->jobs_.front();
          jl.unlock();
          (*job)();
          jl.lock();
          self->jobs_.pop_front();
          ++self->jobsRun_;
          self->jobDone_.notify_all();
        }
        return G_SOURCE_REMOVE;
      },
      this);
  jobDone_.wait(lk, [&] { return jobsRun_ >= ticket; });
}
