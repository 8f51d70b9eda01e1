// Fault drills for the engineering program's link core (transfer controller, USB link,
// hidpipe) against tpcsim: unplug and replug during a stream, corrupted frames, a
// controller that never answers, negative acknowledgements.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

#include "DrillRecorder.h"
#include "common/SimProcess.h"
#include "hidpipe/hidpipe.h"
#include "link/CTransCtrl.h"

namespace {

constexpr char kGetVersion[] = "SEND 024C020400 ";
constexpr char kStartM0Raw[] = "SEND 024E020400 ";
constexpr char kTargetProgram[] = "SEND 024C020501 ";
// The recorder takes each short reply twice: on the reply slot, then on the wave slot,
// which takes every frame. The opening's two settings (report target, coordinate
// reports) are acknowledged by short replies.
constexpr int kDeliveries = 2;
constexpr int kOpeningAcks = 2 * kDeliveries;

int Len(const char* s) {
  return static_cast<int>(std::strlen(s));
}

// Device notices from the library thread, counted per kind.
struct Notices {
  std::mutex m;
  std::condition_variable cv;
  int arrivals = 0, removals = 0;
  static void Fn(int event, const char*, void* user) {
    auto* n = static_cast<Notices*>(user);
    std::lock_guard<std::mutex> lock(n->m);
    if (event == HIDPIPE_ARRIVAL) ++n->arrivals;
    if (event == HIDPIPE_REMOVAL) ++n->removals;
    n->cv.notify_all();
  }
  bool Wait(int& counter, int atLeast) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] { return counter >= atLeast; });
  }
};

int OpenFds() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

int Threads() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

class CoreDrill : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim = new SimProcess;
    ASSERT_TRUE(sim->Start({"--usb", "--rate", "400"}));
    ::setenv("HIDPIPE_SIM", sim->Socket().c_str(), 1);
  }
  static void TearDownTestSuite() {
    EXPECT_TRUE(sim->Stop());
    delete sim;
  }

  void SetUp() override {
    ctrl.SetHost(&host);
    ctrl.SetIdentity(0, 0x227D, 0x0102, 2);
    ctrl.RegisterListener(3, 2, &rec);
    ctrl.RegisterListener(7, 2, &rec);
    hidSetNoticeCallback(&Notices::Fn, &notices);
    ASSERT_TRUE(sim->Ok("plug"));
    ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
    // Every answer to the opening first: its acknowledgements may come in after the
    // version (and after the link fell idle), and a late one would be taken for the
    // answer to a test's first command.
    ASSERT_TRUE(WaitUntil(
        [&] { return rec.versions > 0 && host.applied > 0 && rec.shortReplies >= kOpeningAcks; }));
    // Whether the opening leaves the link idle depends on the order of the replies (the
    // panel information reply frees nothing); one more acknowledged command settles it.
    // It may meet a busy link and be queued, so wait for both deliveries of its own
    // acknowledgement.
    ctrl.SendCmd(kTargetProgram, Len(kTargetProgram), 1, 1);
    ASSERT_TRUE(WaitUntil([&] {
      return rec.shortReplies >= kOpeningAcks + kDeliveries && CTransCtrl::PendingCount() == 0 &&
             ctrl.GetLinkState() == kLinkIdle;
    }));
  }
  void TearDown() override {
    hidSetNoticeCallback(nullptr, nullptr);
    ctrl.Close();
    CTransCtrl::ClearPending();
    sim->Ok("stream off");
    sim->Ok("nak off");
    sim->Ok("silence off");
  }

  // What the main window does on a device notice: open a closed link, probe it with
  // GetVersion, close it when the probe cannot be written.
  bool Connect() {
    if (ctrl.GetLinkState() == kLinkClosed) ctrl.Open(kLinkUsb, nullptr);
    if (ctrl.SendCmdDirect(kGetVersion, Len(kGetVersion), 1) == -1) {
      ctrl.SetLinkState(kLinkClosed);
      ctrl.Close();
      return false;
    }
    return true;
  }

  static SimProcess* sim;
  Host host;
  CTransCtrl ctrl;
  Recorder rec{ctrl};
  Notices notices;
};

SimProcess* CoreDrill::sim = nullptr;

TEST_F(CoreDrill, TwoHundredUnplugReplugCyclesDuringAStream) {
  constexpr int kCycles = 200;
  ctrl.SendCmd(kStartM0Raw, Len(kStartM0Raw), 1, 1);  // written now or from the queue
  ASSERT_TRUE(WaitUntil([&] { return rec.dataFrames > 0; }));
  // A first cycle settles what the library keeps open for good.
  const int fds = OpenFds();
  const int threads = Threads();
  for (int i = 0; i < kCycles; ++i) {
    SCOPED_TRACE("cycle " + std::to_string(i));
    const int removals = notices.removals, arrivals = notices.arrivals;
    ASSERT_TRUE(sim->Ok("unplug"));
    ASSERT_TRUE(notices.Wait(notices.removals, removals + 1));
    ASSERT_FALSE(Connect());
    ASSERT_EQ(ctrl.GetLinkState(), kLinkClosed);

    const int versions = rec.versions;
    ASSERT_TRUE(sim->Ok("plug"));
    ASSERT_TRUE(notices.Wait(notices.arrivals, arrivals + 1));
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitUntil([&] { return rec.versions > versions; }));
    // The replugged controller streams again once asked.
    const int frames = rec.dataFrames;
    ctrl.SendCmd(kStartM0Raw, Len(kStartM0Raw), 1, 1);
    ASSERT_TRUE(WaitUntil([&] { return rec.dataFrames >= frames + 3; }));
  }
  EXPECT_EQ(rec.recordMismatches, 0);
  // Nothing piles up: descriptors and threads are back where they were.
  EXPECT_LE(OpenFds(), fds + 1);
  EXPECT_LE(Threads(), threads + 1);
}

TEST_F(CoreDrill, EveryValidFrameArrivesThroughThirtySecondsOfBadFrames) {
  auto [valid, bad] = RunBadFrameDrill(*sim, ctrl, rec, 30);
  EXPECT_GT(valid, 5000u);  // 30 s at 400 reports a second, less the spoilt ones
  EXPECT_GT(bad, valid / 20);
  EXPECT_EQ(hidDroppedReports(), 0u);
}

TEST_F(CoreDrill, ControllerThatNeverAnswersKeepsTheLinkBusyAndDrainsTheQueue) {
  ASSERT_TRUE(sim->Ok("silence on"));
  const size_t written = sim->TraceFrames("H>D").size();
  EXPECT_NE(ctrl.SendCmd(kGetVersion, Len(kGetVersion), 1, 1), -1);
  EXPECT_EQ(ctrl.GetLinkState(), kLinkBusy);
  // Commands meeting the busy link are queued, and written one per empty poll although
  // no reply comes.
  // (Counted as each is queued: the receive thread may empty the queue before a count.)
  int queued = 0;
  for (int i = 0; i < 20; ++i) {
    bool wasQueued = false;
    EXPECT_EQ(ctrl.SendCmd(kGetVersion, Len(kGetVersion), 1, 1, &wasQueued), -1);
    queued += wasQueued;
  }
  EXPECT_EQ(queued, 20);
  ASSERT_TRUE(WaitUntil([&] { return CTransCtrl::PendingCount() == 0; }));
  ASSERT_TRUE(WaitUntil([&] { return sim->TraceFrames("H>D").size() >= written + 21; }));
  EXPECT_EQ(ctrl.GetLinkState(), kLinkBusy);
  EXPECT_TRUE(WaitUntil([&] { return !ctrl.IsReceiving(); }));

  // The controller speaks again: the next reply frees the link.
  ASSERT_TRUE(sim->Ok("silence off"));
  const int versions = rec.versions;
  ctrl.SendCmd(kGetVersion, Len(kGetVersion), 1, 1);
  ASSERT_TRUE(WaitUntil([&] { return rec.versions > versions; }));
  ASSERT_TRUE(WaitUntil([&] { return ctrl.GetLinkState() == kLinkIdle; }));
}

TEST_F(CoreDrill, NegativeAcknowledgementOfEveryCommandFreesTheLink) {
  struct Cmd {
    const char* text;
    const char* sub;
  };
  const Cmd cmds[] = {
      {"SEND 024C0101 ", "01"},   {"SEND 024C020400 ", "04"}, {"SEND 024C020501 ", "05"},
      {"SEND 024C020600 ", "06"}, {"SEND 024C020800 ", "08"}, {"SEND 024E020400 ", "04"},
      {"SEND 024E020500 ", "05"}, {"SEND 024E020600 ", "06"}, {"SEND 024E020C00 ", "0c"},
      {"SEND 024E020D00 ", "0d"}, {"SEND 024E0180 ", "80"},
  };
  const PanelInfo before = ctrl.Panel();
  for (const Cmd& c : cmds) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(WaitUntil([&] { return ctrl.GetLinkState() == kLinkIdle; }));
    ASSERT_TRUE(sim->Ok(std::string("nak ") + c.sub));
    const int replies = rec.shortReplies;
    ASSERT_NE(ctrl.SendCmd(c.text, Len(c.text), 1, 1), -1);
    ASSERT_TRUE(WaitUntil([&] { return rec.shortReplies >= replies + kDeliveries; }));
    EXPECT_EQ(rec.lastStatus, 0);
    ASSERT_TRUE(WaitUntil([&] { return ctrl.GetLinkState() == kLinkIdle; }));
  }
  // A refused panel information request keeps the panel as it was and tells the user.
  EXPECT_EQ(ctrl.Panel().xCount, before.xCount);
  EXPECT_EQ(ctrl.Panel().yCount, before.yCount);
  EXPECT_GE(host.failures, 1);
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);
}

}  // namespace
