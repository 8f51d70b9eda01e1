// CTransCtrl driven through a scripted link.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "FakeLink.h"
#include "link/CTransCtrl.h"

namespace {

using Frame = FakeLink::Frame;

Frame UsbFrame(std::string hex) {  // "024C 020400" -> bytes
  std::erase(hex, ' ');
  Frame f;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    f.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return f;
}

Frame Packet(const std::string& hex) {
  Frame f(hex.size() + 2);
  f.front() = 0x02;
  std::copy(hex.begin(), hex.end(), f.begin() + 1);
  f.back() = 0x0D;
  return f;
}

// Records which slots got which frames (called on the receive thread).
struct SlotLog {
  std::mutex mutex;
  std::vector<int> slots;
  std::map<int, Frame> last;
  std::vector<int> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    auto s = slots;
    slots.clear();
    return s;
  }
};

struct Recorder : ITransListener {
  Recorder(SlotLog& log, int slot) : log(log), slot(slot) {}
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* bytes = frame.bytes;
    std::lock_guard<std::mutex> lock(log.mutex);
    log.slots.push_back(slot);
    log.last[slot] = Frame(bytes, bytes + len);
    return 0;
  }
  SlotLog& log;
  int slot;
};

struct FakeHost : ITransHost {
  std::vector<PanelInfo> applied;
  int failures = 0;
  void ApplyPanelInfo(const PanelInfo& info) override { applied.push_back(info); }
  void ShowPanelInfoFailure() override { ++failures; }
};

class TransCtrlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTransCtrl::ClearPending();
    ctrl.SetIdentity(0, 0x1111, 0x0001, 1);
    ctrl.SetIdentity(1, 0x2222, 0x0002, 2);
    ctrl.SetIdentity(2, 0x2222, 0x0002, 2);
    ctrl.SetLinkFactory([this](int type) {
      ++created;
      auto l = std::make_unique<FakeLink>(probe);
      l->openResult = openResult;
      l->writeResult = writeResult;
      l->HoldAtEmptyRead(holdAt);
      l->wakeable = wakeable;
      link = l.get();
      linkType = type;
      return l;
    });
  }
  void TearDown() override {
    if (link != nullptr && ctrl.GetLinkType() != kLinkNone) link->HoldAtEmptyRead(-1);
    ctrl.Close();
    CTransCtrl::ClearPending();
  }

  int Send(const std::string& cmd, int queue = 1) {
    return ctrl.SendCmd(cmd.c_str(), int(cmd.size()), 1, queue);
  }
  void ListenOnAllSlots() {
    for (int s = 0; s < CTransCtrl::kSlotCount; ++s) {
      recorders.push_back(std::make_unique<Recorder>(log, s));
      ctrl.RegisterListener(uint16_t(s), 2, recorders.back().get());
    }
  }
  // Hands one frame to the controller and returns the slots it reached, in order.
  std::vector<int> Route(const Frame& f) {
    link->Push(f);
    EXPECT_TRUE(link->WaitDrained());
    return log.Take();
  }
  void OpenQuiet(int type) {
    SerialLineSettings line;
    ASSERT_EQ(ctrl.Open(type, &line), 1);
    ASSERT_TRUE(link->WaitWrites(type == kLinkUsb ? 4 : 2));
    ASSERT_TRUE(link->WaitNextPoll());
  }

  CTransCtrl ctrl;
  std::shared_ptr<FakeLinkProbe> probe = std::make_shared<FakeLinkProbe>();
  FakeLink* link = nullptr;
  int created = 0, linkType = 0, openResult = 1, writeResult = 0, holdAt = -1;
  bool wakeable = false;
  SlotLog log;
  std::vector<std::unique_ptr<Recorder>> recorders;
};

TEST_F(TransCtrlTest, UsbOpeningSendsVersionThenQueuedSettings) {
  holdAt = 0;
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  ASSERT_TRUE(link->WaitHolds(1));
  EXPECT_EQ(linkType, kLinkUsb);
  EXPECT_EQ(link->vids, (std::vector<uint16_t>{0x1111, 0x2222, 0x2222}));
  EXPECT_EQ(link->pids, (std::vector<uint16_t>{1, 2, 2}));
  EXPECT_EQ(link->osTypes, (std::vector<uint16_t>{1, 2, 2}));
  ASSERT_EQ(link->Writes().size(), 1u);  // the rest met a busy link
  EXPECT_EQ(link->Writes()[0], UsbFrame("024C02040000"));
  EXPECT_EQ(CTransCtrl::PendingCount(), 3u);
  EXPECT_EQ(ctrl.GetLinkState(), kLinkBusy);
  EXPECT_EQ(ctrl.GetOSType(), 7);

  link->HoldAtEmptyRead(-1);
  ASSERT_TRUE(link->WaitWrites(4));
  auto writes = link->Writes();
  EXPECT_EQ(writes[1], UsbFrame("024C02050100"));
  EXPECT_EQ(writes[2], UsbFrame("024C02080000"));
  EXPECT_EQ(writes[3], UsbFrame("024C02060000"));
  EXPECT_EQ(ctrl.ReportTarget(), 1);
  EXPECT_EQ(ctrl.CommandSent(), 1);
}

TEST_F(TransCtrlTest, SerialOpeningSendsPackets) {
  SerialLineSettings line;
  line.portNum = 4;
  ASSERT_EQ(ctrl.Open(kLinkCom, &line), 1);
  EXPECT_EQ(link->openSettings, &line);
  ASSERT_TRUE(link->WaitWrites(2));
  ASSERT_TRUE(link->WaitEmptyReads(3));
  auto writes = link->Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], Packet("024C020400"));
  EXPECT_EQ(writes[1], Packet("024C020600"));
  EXPECT_TRUE(link->vids.empty());
  EXPECT_EQ(ctrl.GetOSType(), 7);
}

TEST_F(TransCtrlTest, FailedOrUnknownOpen) {
  openResult = 0;
  EXPECT_EQ(ctrl.Open(kLinkUsb, nullptr), 0);
  EXPECT_EQ(ctrl.GetLinkState(), kLinkClosed);
  EXPECT_EQ(ctrl.GetLinkType(), kLinkUsb);
  EXPECT_EQ(Send("SEND 024C020400 "), -1);
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);
  EXPECT_TRUE(link->Writes().empty());
  EXPECT_EQ(link->EmptyReads(), 0);  // no receive thread

  EXPECT_EQ(ctrl.Open(5, nullptr), 0);
  EXPECT_EQ(ctrl.GetLinkType(), kLinkNone);
  EXPECT_EQ(created, 1);
  EXPECT_TRUE(probe->closed);  // the earlier link was closed before it was replaced
  EXPECT_EQ(ctrl.GetLinkState(), kLinkClosed);
}

// A quiet link that can wait on its device is not polled: the receive thread waits until
// a frame, a command queued meanwhile or Close wakes it, and Close finds it ended.
TEST_F(TransCtrlTest, QuietLinkWaitsUntilAFrameACommandOrCloseWakesIt) {
  wakeable = true;
  ListenOnAllSlots();
  SerialLineSettings line;
  ASSERT_EQ(ctrl.Open(kLinkCom, &line), 1);
  ASSERT_TRUE(link->WaitWrites(2));
  ASSERT_TRUE(link->WaitUnlimitedWaits(1));

  int waits = link->UnlimitedWaits();
  link->Push(UsbFrame("024C020401"));
  ASSERT_TRUE(link->WaitDrained());
  EXPECT_FALSE(log.Take().empty());
  ASSERT_TRUE(link->WaitUnlimitedWaits(waits + 1));

  waits = link->UnlimitedWaits();
  ctrl.SetLinkState(kLinkBusy);
  EXPECT_EQ(Send("SEND 024E020400 "), -1);  // queued behind the busy link
  ASSERT_TRUE(link->WaitWrites(3));
  EXPECT_EQ(link->Writes()[2], Packet("024E020400"));
  ASSERT_TRUE(link->WaitUnlimitedWaits(waits + 1));

  ctrl.Close();
  std::lock_guard<std::mutex> lock(probe->mutex);
  EXPECT_TRUE(probe->closed) << "the receive thread was still waiting when Close gave up";
  EXPECT_EQ(probe->closedOn, std::this_thread::get_id());
}

TEST_F(TransCtrlTest, BusyLinkQueuesInOrder) {
  holdAt = 0;
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  ASSERT_TRUE(link->WaitHolds(1));
  EXPECT_EQ(Send("SEND 024E020400 "), -1);
  EXPECT_EQ(CTransCtrl::PendingCount(), 4u);
  // Without queue-if-busy the command goes out at once, busy or not.
  EXPECT_EQ(Send("SEND 024E0180 ", 0), 5);
  link->HoldAtEmptyRead(-1);
  ASSERT_TRUE(link->WaitWrites(6));
  ASSERT_TRUE(link->WaitNextPoll());
  auto w = link->Writes();
  EXPECT_EQ(w[1], UsbFrame("024E018000"));
  EXPECT_EQ(w[2][3], 0x05);
  EXPECT_EQ(w[3][3], 0x08);
  EXPECT_EQ(w[4][3], 0x06);
  EXPECT_EQ(w[5], UsbFrame("024E02040000"));
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);
}

TEST_F(TransCtrlTest, RefusalsNeverQueue) {
  EXPECT_EQ(Send("SEND 024C020400 "), -1);  // never opened
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);

  holdAt = 0;
  SerialLineSettings line;
  ASSERT_EQ(ctrl.Open(kLinkCom, &line), 1);
  ASSERT_TRUE(link->WaitHolds(1));
  size_t queued = CTransCtrl::PendingCount();
  EXPECT_EQ(Send("SEND " + std::string(123, '0') + " "), -1);  // 129 characters
  EXPECT_EQ(Send("GET 024C020400 "), -1);
  EXPECT_EQ(Send("SEND 024G020400 "), -1);  // not hexadecimal on serial
  EXPECT_EQ(ctrl.SendCmd(nullptr, 4, 1, 1), -1);
  EXPECT_EQ(CTransCtrl::PendingCount(), queued);

  ctrl.SetLinkState(kLinkClosed);
  EXPECT_EQ(Send("SEND 024C020400 "), -1);
  EXPECT_EQ(CTransCtrl::PendingCount(), queued);
  EXPECT_EQ(link->Writes().size(), 1u);
}

// Commands queued on a link belong to it: after a reconnect (perhaps to another device)
// they would go out ahead of the opening commands.
TEST_F(TransCtrlTest, QueuedCommandsAreDroppedWhenTheirLinkCloses) {
  holdAt = 0;  // nothing answers: the version query keeps the link busy
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  ASSERT_TRUE(link->WaitHolds(1));
  EXPECT_EQ(ctrl.GetLinkState(), kLinkBusy);
  EXPECT_EQ(CTransCtrl::PendingCount(), 3u);  // the rest of the opening waits behind it
  link->HoldAtEmptyRead(-1);
  ctrl.Close();
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);

  holdAt = -1;
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  ASSERT_TRUE(link->WaitWrites(4));
  auto w = link->Writes();
  EXPECT_EQ(w[0][3], 0x04);  // the opening sequence, in its order
  EXPECT_EQ(w[1][3], 0x05);
  EXPECT_EQ(w[2][3], 0x08);
  EXPECT_EQ(w[3][3], 0x06);
  EXPECT_EQ(ctrl.ReportTarget(), 1);
}

// A write that fails leaves no reply awaited: the link is idle again, the opening's query is
// tried once more and then given up with its reason, and a user's command is not repeated.
TEST_F(TransCtrlTest, AFailedWriteIsNamedAndNeverRepeated) {
  writeResult = -1;
  holdAt = 0;
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  EXPECT_EQ(ctrl.GetLinkState(), kLinkIdle);
  EXPECT_EQ(link->Writes().size(), 2u);  // GetVersion twice; the rest of the opening not tried
  EXPECT_EQ(ctrl.OpeningFailure(), "could not send GetVersion: the link refused it");
  EXPECT_EQ(ctrl.ReportTarget(), 0);
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);

  EXPECT_EQ(Send("SEND 024E020400 "), -1);
  EXPECT_EQ(ctrl.LastSendFailure(), "could not send GetM0RawData: the link refused it");
  link->HoldAtEmptyRead(-1);
  ASSERT_TRUE(link->WaitNextPoll());
  ASSERT_TRUE(link->WaitNextPoll());
  EXPECT_EQ(link->Writes().size(), 3u);
  EXPECT_EQ(ctrl.SendFailures(), 3u);
}

TEST_F(TransCtrlTest, SendDirectIgnoresTheState) {
  holdAt = 0;
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  ASSERT_TRUE(link->WaitHolds(1));
  ctrl.SetLinkState(kLinkClosed);
  std::string probeCmd = "SEND 024C020400 ";
  EXPECT_EQ(ctrl.SendCmdDirect(probeCmd.c_str(), int(probeCmd.size()), 1), 6);
  EXPECT_EQ(ctrl.GetLinkState(), kLinkClosed);
  EXPECT_EQ(link->Writes().back(), UsbFrame("024C02040000"));
  EXPECT_EQ(ctrl.SendCmdDirect("no command", 10, 1), -1);
}

TEST_F(TransCtrlTest, ListenerTableRules) {
  Recorder a(log, 3), b(log, 30);
  EXPECT_EQ(ctrl.RegisterListener(10, 2, &a), -1);
  EXPECT_EQ(ctrl.UnregisterListener(10), -1);
  EXPECT_EQ(ctrl.RegisterListener(4, 0, &a), 4);  // mode 0 fills nothing
  EXPECT_FALSE(ctrl.IsListenerActive(4));
  EXPECT_EQ(ctrl.RegisterListener(3, 2, &a), 3);
  EXPECT_EQ(ctrl.RegisterListener(3, 2, &b), 3);  // occupied: unchanged
  EXPECT_TRUE(ctrl.IsListenerActive(3));

  OpenQuiet(kLinkUsb);
  log.Take();
  EXPECT_EQ(Route(UsbFrame("024B080000000100000000")), (std::vector<int>{3}));
  EXPECT_EQ(ctrl.UnregisterListener(3), 3);
  EXPECT_EQ(Route(UsbFrame("024B080000000100000000")), (std::vector<int>{}));
  EXPECT_EQ(ctrl.RegisterListener(3, 2, &b), 3);
  EXPECT_EQ(Route(UsbFrame("024B080000000100000000")), (std::vector<int>{30}));
}

TEST_F(TransCtrlTest, UsbRouting) {
  ListenOnAllSlots();
  OpenQuiet(kLinkUsb);
  log.Take();
  using V = std::vector<int>;
  // Short reply: slot 7 (short frame), 5, the views; status 1 ends the busy state.
  ctrl.SetLinkState(kLinkBusy);
  EXPECT_EQ(Route(UsbFrame("024E020401")), (V{7, 5, 3, 4}));
  EXPECT_EQ(ctrl.GetLinkState(), kLinkIdle);
  EXPECT_EQ(ctrl.GetDataRecord().group, 0x4E);
  EXPECT_EQ(ctrl.GetDataRecord().code, 0x04);
  // Short version reply reaches slot 7 twice.
  EXPECT_EQ(Route(UsbFrame("024C03044142")), (V{7, 5, 7, 5, 3, 4}));
  EXPECT_EQ(ctrl.FirmwareVersion(), "AB");
  // Long version reply.
  EXPECT_EQ(Route(UsbFrame("024C0904 312E322E332E3435")), (V{5, 7, 5, 3, 4}));
  EXPECT_EQ(ctrl.FirmwareVersion(), "1.2.3.45");
  // Exactly 8 bytes: idle again but not for slot 7.
  ctrl.SetLinkState(kLinkBusy);
  EXPECT_EQ(Route(UsbFrame("024E050100000000")), (V{5, 3, 4}));
  EXPECT_EQ(ctrl.GetLinkState(), kLinkIdle);
  // Dropped reply group.
  EXPECT_EQ(Route(UsbFrame("024C029900")), (V{7}));
  // Data report: decoded, to the views; XY codes also to slot 1.
  EXPECT_EQ(Route(UsbFrame("024B08000102 01E803E903")), (V{5, 3, 4}));
  EXPECT_EQ(ctrl.GetDataRecord().count, 2);
  EXPECT_EQ(ctrl.GetDataRecord().values[1], 1001);
  EXPECT_EQ(Route(UsbFrame("024B080800000100000000")), (V{5, 3, 4, 1}));
  // Multi-touch report: not decoded, to the views and slot 1.
  EXPECT_EQ(Route(UsbFrame("024D0701070100100010")), (V{5, 3, 4, 1}));
  EXPECT_EQ(ctrl.GetDataRecord().code, 0x08);  // unchanged
  // 0x88 0x88 frames go to slot 1, not slot 5.
  EXPECT_EQ(Route(UsbFrame("888807000000000000")), (V{1, 3, 4}));
  // Device text.
  Frame text(64, 0x20);
  text[0] = 0xF5;
  text[1] = 0;
  text[3] = 0;
  EXPECT_EQ(Route(text), (V{6, 3, 4}));
  // Raw dump.
  Frame dump(64, 9);
  dump[0] = 0x5F;
  dump[1] = 0;
  dump[3] = 0;
  EXPECT_EQ(Route(dump), (V{5, 3, 4}));
  EXPECT_EQ(ctrl.GetDataRecord().count, 61);
  // Slot 2 stands in for an inactive slot 1.
  ctrl.UnregisterListener(1);
  EXPECT_EQ(Route(UsbFrame("024B082500000100000000")), (V{5, 3, 4, 2}));
  // Slot 7 takes short frames whatever its mode, control replies only when active.
  ctrl.UnregisterListener(7);
  ctrl.RegisterListener(7, 1, recorders[7].get());
  EXPECT_EQ(Route(UsbFrame("024C03044142")), (V{7, 5, 5, 3, 4}));
}

// The views of a frame share one hand-over to the UI thread: each costs it a wake-up.
// Runs each hand-over at once, on the receive thread, and counts them.
struct CountingDeliverer : ITransDeliverer {
  std::atomic<int> calls{0};
  bool RunSync(const std::function<void()>& fn) override {
    ++calls;
    fn();
    return true;
  }
  void RunPending() override {}
};

TEST_F(TransCtrlTest, AFrameReachesAllViewsInOneHandOver) {
  CountingDeliverer counting;
  ctrl.SetDeliverer(&counting);
  for (int s : {1, 3, 4}) {
    recorders.push_back(std::make_unique<Recorder>(log, s));
    ctrl.RegisterListener(uint16_t(s), 2, recorders.back().get());
  }
  OpenQuiet(kLinkUsb);
  log.Take();
  counting.calls = 0;
  EXPECT_EQ(Route(UsbFrame("024B080800000100000000")), (std::vector<int>{3, 4, 1}));
  EXPECT_EQ(counting.calls.load(), 1);
  ctrl.Close();
  ctrl.SetDeliverer(nullptr);
}

TEST_F(TransCtrlTest, SerialRoutingLeavesTouchReportsToTheViews) {
  ListenOnAllSlots();
  OpenQuiet(kLinkCom);
  log.Take();
  using V = std::vector<int>;
  EXPECT_EQ(Route(UsbFrame("0101E803D0070100")), (V{5, 3, 4, 1}));
  EXPECT_EQ(ctrl.GetCoordinateRecord().kind, 0);  // not decoded on serial
  EXPECT_EQ(log.last[1], UsbFrame("0101E803D0070100"));
  EXPECT_EQ(Route(UsbFrame("024B080A00000100000000")), (V{5, 3, 4, 1}));  // code 8..29
  EXPECT_EQ(Route(UsbFrame("024B082500000100000000")), (V{5, 3, 4}));
  EXPECT_EQ(ctrl.GetDataRecord().code, 0x25);
}

TEST_F(TransCtrlTest, UsbDecodesSingleTouchReports) {
  OpenQuiet(kLinkUsb);
  Route(UsbFrame("0105E803D0070100"));
  EXPECT_EQ(ctrl.GetCoordinateRecord().kind, 1);
  EXPECT_EQ(ctrl.GetCoordinateRecord().x, 1000);
  EXPECT_EQ(ctrl.GetCoordinateRecord().y, 2000);
  EXPECT_EQ(ctrl.GetCoordinateRecord().finger, 1);
}

TEST_F(TransCtrlTest, PanelInformation) {
  FakeHost host;
  ctrl.SetHost(&host);
  ListenOnAllSlots();
  OpenQuiet(kLinkUsb);
  log.Take();
  EXPECT_EQ(Route(UsbFrame("024C050610 0C0001")), (std::vector<int>{5, 7}));
  ASSERT_EQ(host.applied.size(), 1u);
  EXPECT_EQ(host.applied[0].xCount, 16);
  EXPECT_EQ(host.applied[0].yCount, 12);
  EXPECT_EQ(host.applied[0].resolution, 256);
  EXPECT_EQ(ctrl.Panel().xCount, 16);

  // 8 bytes with an electrode count of 0: configured values back, no message.
  ctrl.SetPanelCounts(40, 30, 128);
  Route(UsbFrame("024C050600 0C0001"));
  EXPECT_EQ(ctrl.Panel().xCount, 40);
  EXPECT_EQ(ctrl.Panel().resolution, 128);
  EXPECT_EQ(host.failures, 0);

  // 17 bytes, valid, with ranges.
  Route(UsbFrame("024C0E06 20140001 00 0010 0008 00000000"));
  ASSERT_EQ(host.applied.size(), 2u);
  EXPECT_EQ(host.applied[1].xCount, 32);
  EXPECT_EQ(host.applied[1].xRange, 0x1000);
  EXPECT_EQ(host.applied[1].yRange, 0x0800);

  // 17 bytes all zero: configured values and the message.
  Route(UsbFrame("024C0E06 00000000 00 0000 0000 00000000"));
  EXPECT_EQ(ctrl.Panel().xCount, 40);
  EXPECT_EQ(host.failures, 1);

  // Other lengths: the message, values kept.
  Route(UsbFrame("024C09061112000100000000"));
  EXPECT_EQ(host.failures, 2);
  EXPECT_EQ(ctrl.Panel().xCount, 40);
  EXPECT_EQ(host.applied.size(), 2u);
}

// The geometry keeps what the settings configure apart from what the controller
// reports: the report wins until the controller reports none or the settings change.
TEST_F(TransCtrlTest, ConfiguredAndReportedGeometryStayApart) {
  struct RestoreHost : FakeHost {
    std::vector<PanelInfo> restored;
    void RestorePanelInfo(const PanelInfo& info) override { restored.push_back(info); }
  } host;
  ctrl.SetHost(&host);
  ctrl.SetPanelCounts(40, 30, 128);
  OpenQuiet(kLinkUsb);
  Route(UsbFrame("024C0E06 100C0001 00 0010 0008 00000000"));
  PanelGeometry g = ctrl.Geometry();
  EXPECT_TRUE(g.reportedInForce);
  EXPECT_EQ(g.configured.xCount, 40);
  EXPECT_EQ(g.configured.resolution, 128);
  EXPECT_EQ(g.reported.xCount, 16);
  EXPECT_EQ(ctrl.Panel().xCount, 16);
  EXPECT_EQ(ctrl.Panel().xRange, 0x1000);

  // No panel reported: the configured counts are in force again, and the host hears so.
  Route(UsbFrame("024C050600 0C0001"));
  g = ctrl.Geometry();
  EXPECT_FALSE(g.reportedInForce);
  EXPECT_EQ(g.reported.xCount, 16);  // still visible
  ASSERT_EQ(host.restored.size(), 1u);
  EXPECT_EQ(host.restored[0].xCount, 40);
  EXPECT_EQ(ctrl.Panel().xCount, 40);
  EXPECT_EQ(ctrl.Panel().xRange, 0x1000);  // ranges stay known

  // A report, then the settings change: the new configured counts are in force.
  Route(UsbFrame("024C050620140001"));
  EXPECT_EQ(ctrl.Panel().xCount, 32);
  ctrl.SetPanelCounts(50, 20, 64);
  EXPECT_EQ(ctrl.Panel().xCount, 50);
  EXPECT_EQ(ctrl.Geometry().reported.xCount, 32);
}

// Frames read together reach the user-interface thread in one hand-over, in order, each
// with its own record; during each delivery the controller's record is that frame's too.
TEST_F(TransCtrlTest, FramesReadTogetherGoOverInOneHandOver) {
  CountingDeliverer counting;
  struct Taker : ITransListener {
    explicit Taker(CTransCtrl& c) : ctrl(c) {}
    CTransCtrl& ctrl;
    std::mutex m;
    std::vector<int32_t> own, controllers;
    int OnTransCallback(const TransFrame& f) override {
      std::lock_guard<std::mutex> lock(m);
      if (const DataRecord* d = f.DataReport()) {
        own.push_back(d->values[0]);
        controllers.push_back(ctrl.GetDataRecord().values[0]);
      }
      return 0;
    }
  } wave(ctrl);
  ctrl.SetDeliverer(&counting);
  ctrl.RegisterListener(kSlotWave, kListenerActive, &wave);
  OpenQuiet(kLinkUsb);
  ASSERT_TRUE(link->WaitDrained());
  const int before = counting.calls;
  std::vector<Frame> frames;
  std::vector<int32_t> sent;
  for (int i = 0; i < 10; ++i) {
    char hex[40];
    std::snprintf(hex, sizeof hex, "024B08000102 01%02X%02X0000", (1000 + i) & 0xFF, (1000 + i) >> 8);
    frames.push_back(UsbFrame(hex));
    sent.push_back(1000 + i);
  }
  link->Push(std::move(frames));
  ASSERT_TRUE(link->WaitDrained());
  EXPECT_EQ(counting.calls - before, 1);
  ctrl.Close();
  ctrl.SetDeliverer(nullptr);
  EXPECT_EQ(wave.own, sent);
  EXPECT_EQ(wave.controllers, sent);
}

// A frame is decoded once, where it arrives: every listener gets the record with it.
TEST_F(TransCtrlTest, ListenersTakeTheRecordDecodedFromTheirFrame) {
  struct Taker : ITransListener {
    std::mutex m;
    std::vector<std::vector<int32_t>> values;
    std::vector<int64_t> arrived;
    int withoutRecord = 0;
    int OnTransCallback(const TransFrame& f) override {
      std::lock_guard<std::mutex> lock(m);
      arrived.push_back(f.arrivedUs);
      if (const DataRecord* d = f.DataReport()) {
        values.emplace_back(d->values, d->values + d->count);
      } else {
        ++withoutRecord;
      }
      return 0;
    }
  } wave, cli;
  ctrl.RegisterListener(kSlotWave, kListenerActive, &wave);
  ctrl.RegisterListener(kSlotFrames, kListenerActive, &cli);
  OpenQuiet(kLinkUsb);
  Route(UsbFrame("024B08000102 01E803E903"));
  Route(UsbFrame("024B09000102 01E803E903"));  // length byte off: refused
  Route(UsbFrame("024B08000102 01D007D107"));
  for (Taker* t : {&wave, &cli}) {
    std::lock_guard<std::mutex> lock(t->m);
    EXPECT_EQ(t->values, (std::vector<std::vector<int32_t>>{{1000, 1001}, {2000, 2001}}));
    ASSERT_GE(t->arrived.size(), 3u);
    const size_t n = t->arrived.size();
    EXPECT_GT(t->arrived[n - 3], 0);
    EXPECT_LE(t->arrived[n - 3], t->arrived[n - 1]);
  }
  EXPECT_EQ(wave.withoutRecord, cli.withoutRecord);
  EXPECT_GE(wave.withoutRecord, 1);
  // The last record stays for those who read it later.
  EXPECT_EQ(ctrl.GetDataRecord().values[0], 2000);
}

TEST_F(TransCtrlTest, ReceivingFlagFollowsTheQuietPolls) {
  holdAt = 0;
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  ASSERT_TRUE(link->WaitHolds(1));
  CTransCtrl::ClearPending();
  EXPECT_FALSE(ctrl.IsReceiving());
  link->Push(UsbFrame("024B0600000001E803"));
  ASSERT_TRUE(link->WaitHolds(2));  // frame handled, stopped before the first empty poll
  EXPECT_TRUE(ctrl.IsReceiving());

  link->HoldAtEmptyRead(21);
  ASSERT_TRUE(link->WaitHolds(3));
  EXPECT_TRUE(ctrl.IsReceiving());  // 21 empty polls
  link->HoldAtEmptyRead(22);
  ASSERT_TRUE(link->WaitHolds(4));
  EXPECT_FALSE(ctrl.IsReceiving());  // 22 empty polls

  link->Push(UsbFrame("024B0600000001E803"));
  ASSERT_TRUE(link->WaitHolds(5));
  EXPECT_TRUE(ctrl.IsReceiving());
}

// Runs hand-overs only when the "UI thread" (the test) lets it.
class UiDeliverer : public ITransDeliverer {
 public:
  bool RunSync(const std::function<void()>& fn) override {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_ = &fn;
    changed_.notify_all();
    changed_.wait(lock, [this] { return pending_ == nullptr || refuse_; });
    if (pending_ != nullptr) {
      pending_ = nullptr;
      return false;
    }
    return true;
  }
  void RunPending() override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (pending_ == nullptr || !serve_) return;
    const std::function<void()>* fn = pending_;
    lock.unlock();
    (*fn)();
    lock.lock();
    pending_ = nullptr;
    changed_.notify_all();
  }
  bool WaitPending() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [this] { return pending_ != nullptr; });
  }
  void SetServing(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    serve_ = on;
  }
  void Refuse() {
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void()>* pending_ = nullptr;
  bool serve_ = true;
  bool refuse_ = false;
};

TEST_F(TransCtrlTest, CloseRunsTheWaitingDeliveryInsteadOfDeadlocking) {
  UiDeliverer ui;
  ctrl.SetDeliverer(&ui);
  Recorder r(log, 7);
  ctrl.RegisterListener(7, 2, &r);
  SerialLineSettings line;
  ASSERT_EQ(ctrl.Open(kLinkCom, &line), 1);
  link->Push(UsbFrame("024C020401"));
  ASSERT_TRUE(ui.WaitPending());  // the receive thread waits on the UI thread
  ctrl.Close();
  EXPECT_FALSE(log.Take().empty());
  std::lock_guard<std::mutex> lock(probe->mutex);
  EXPECT_TRUE(probe->closed);
  EXPECT_EQ(probe->closedOn, std::this_thread::get_id());  // closed after the thread ended
  EXPECT_TRUE(probe->destroyed);
}

TEST_F(TransCtrlTest, LinkOutlivesAReceiveThreadThatDidNotEndInTime) {
  UiDeliverer ui;
  ui.SetServing(false);  // the UI thread cannot serve the hand-over
  ctrl.SetDeliverer(&ui);
  Recorder r(log, 7);
  ctrl.RegisterListener(7, 2, &r);
  SerialLineSettings line;
  ASSERT_EQ(ctrl.Open(kLinkCom, &line), 1);
  link->Push(UsbFrame("024C020401"));
  ASSERT_TRUE(ui.WaitPending());
  ctrl.Close();  // gives up after its wait
  EXPECT_EQ(ctrl.GetLinkState(), kLinkClosed);
  {
    std::lock_guard<std::mutex> lock(probe->mutex);
    EXPECT_FALSE(probe->closed);
    EXPECT_FALSE(probe->destroyed);
  }
  ui.Refuse();  // the hand-over is cancelled; the thread ends and frees the link
  std::unique_lock<std::mutex> lock(probe->mutex);
  ASSERT_TRUE(
      probe->changed.wait_for(lock, std::chrono::seconds(10), [this] { return probe->destroyed; }));
  EXPECT_TRUE(probe->closed);
  EXPECT_NE(probe->closedOn, std::this_thread::get_id());
  EXPECT_TRUE(log.Take().empty());
}

// hidpipe has one device per process: a USB link whose thread outlived Close must not
// close it later, when it is the next link's device, nor decode into the shared records.
TEST_F(TransCtrlTest, UsbLinkLeftBehindNeitherClosesTheNextDeviceNorDecodes) {
  UiDeliverer ui;
  ui.SetServing(false);
  ctrl.SetDeliverer(&ui);
  Recorder r(log, 5);
  ctrl.RegisterListener(5, 2, &r);
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  link->Push(UsbFrame("024B08000102 01E803E903"));  // a data report, delivered before decoding
  ASSERT_TRUE(ui.WaitPending());
  ctrl.Close();  // gives up after its wait
  auto first = probe;
  probe = std::make_shared<FakeLinkProbe>();
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  int closesBefore;
  {
    std::lock_guard<std::mutex> lock(first->mutex);
    closesBefore = first->closes;
  }
  ui.Refuse();  // the old thread runs on and ends
  std::unique_lock<std::mutex> lock(first->mutex);
  ASSERT_TRUE(
      first->changed.wait_for(lock, std::chrono::seconds(10), [&] { return first->destroyed; }));
  EXPECT_EQ(first->closes, closesBefore) << "closed after the next link was opened";
  EXPECT_EQ(closesBefore, 1) << "the device stayed open after Close";
  EXPECT_NE(ctrl.GetDataRecord().count, 2) << "decoded after Close";
  EXPECT_TRUE(log.Take().empty());
  lock.unlock();
  ctrl.Close();
}

// A hand-over run while Close waits may run an event loop in which a timer opens or
// closes the link again; the outer Close must finish on a consistent controller.
class ReenteringDeliverer : public ITransDeliverer {
 public:
  std::function<void()> onPending;
  bool RunSync(const std::function<void()>& fn) override {
    fn();
    return true;
  }
  void RunPending() override {
    if (auto f = std::exchange(onPending, nullptr)) f();
  }
};

TEST_F(TransCtrlTest, CloseAndOpenCalledFromWithinCloseAreSafe) {
  for (bool reopen : {false, true}) {
    ReenteringDeliverer ui;
    ctrl.SetDeliverer(&ui);
    SerialLineSettings line;
    ASSERT_EQ(ctrl.Open(kLinkCom, &line), 1);
    ui.onPending = [&] {
      if (reopen)
        ctrl.Open(kLinkCom, &line);
      else
        ctrl.Close();
    };
    ctrl.Close();
    EXPECT_EQ(ctrl.GetLinkState(), kLinkClosed);
    EXPECT_EQ(ctrl.GetLinkType(), kLinkNone);
    ASSERT_EQ(ctrl.Open(kLinkCom, &line), 1);  // still usable
    ctrl.Close();
    ctrl.SetDeliverer(nullptr);
  }
}

}  // namespace
