#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "KorvikLogRecorder.h"
#include "calib/framework/TKorvikObjControl.h"
#include "calib/framework/TKorvikThread.h"

namespace {

// Records registry events while alive.
struct RegistryEvents {
  RegistryEvents() {
    TKorvikObjControl::Instance()->SetOnObjectAdded([this](TKorvikObj* o) { added.push_back(o); });
    TKorvikObjControl::Instance()->SetOnObjectRemoved(
        [this](TKorvikObj* o) { removed.push_back(o); });
  }
  ~RegistryEvents() {
    if (auto* registry = TKorvikObjControl::Instance()) {
      registry->SetOnObjectAdded(nullptr);
      registry->SetOnObjectRemoved(nullptr);
    }
  }
  std::vector<TKorvikObj*> added;
  std::vector<TKorvikObj*> removed;
};

}  // namespace

TEST(KorvikObj, LogSinkIsCopiedFromTheOwnerOnceAtConstruction) {
  KorvikLogRecorder first;
  KorvikLogRecorder second;
  TKorvikObj owner;
  TKorvikObj orphan;
  TKorvikObj silentChild(&owner);  // owner has no sink yet
  owner.SetOnLog(first.Sink());
  TKorvikObj child(&owner);
  owner.SetOnLog(second.Sink());

  EXPECT_EQ(child.Owner(), &owner);
  child.Log("to first", 3);
  ASSERT_EQ(first.entries.size(), 1u);
  EXPECT_EQ(first.entries[0].text, "to first");
  EXPECT_EQ(first.entries[0].level, 3);
  EXPECT_TRUE(second.entries.empty());

  EXPECT_FALSE(orphan.HasOnLog());
  EXPECT_FALSE(silentChild.HasOnLog());
  orphan.Log("nowhere", 0);
  silentChild.Log("nowhere", 0);
  EXPECT_EQ(first.entries.size(), 1u);
  EXPECT_TRUE(second.entries.empty());
}

TEST(KorvikObj, CreateTimeIsLocalTimeInDays) {
  const double before = TKorvikObj::Now();
  TKorvikObj obj;
  const double after = TKorvikObj::Now();
  EXPECT_LE(before, obj.CreateTime());
  EXPECT_GE(after, obj.CreateTime());
  EXPECT_GT(obj.CreateTime(), 43831.0);  // after 2020-01-01
  obj.SetCreateTime(1.5);
  EXPECT_EQ(obj.CreateTime(), 1.5);
}

TEST(KorvikObjControl, ListsObjectsFromConstructionToDestruction) {
  TKorvikObjControl* registry = TKorvikObjControl::Instance();
  ASSERT_NE(registry, nullptr);
  EXPECT_EQ(registry->Name(), "KorvikObjController");
  EXPECT_EQ(registry->Objects().front(), registry);

  RegistryEvents events;
  const std::size_t before = registry->Count();
  auto a = std::make_unique<TKorvikObj>();
  auto b = std::make_unique<TKorvikObj>(a.get());
  EXPECT_EQ(registry->Count(), before + 2);
  EXPECT_EQ(registry->Objects().back(), b.get());
  EXPECT_EQ(events.added, (std::vector<TKorvikObj*>{a.get(), b.get()}));

  TKorvikObj* rawA = a.get();
  a.reset();
  EXPECT_FALSE(registry->Contains(rawA));
  EXPECT_TRUE(registry->Contains(b.get()));
  EXPECT_EQ(events.removed, std::vector<TKorvikObj*>{rawA});
  b.reset();
  EXPECT_EQ(registry->Count(), before);
}

TEST(KorvikObjControl, ObjectsOutlivingOrPredatingTheRegistry) {
  auto early = std::make_unique<TKorvikObj>();
  TKorvikObjControl::Finalize();
  ASSERT_EQ(TKorvikObjControl::Instance(), nullptr);
  // Freed after the registry is gone: must not touch it.
  early.reset();
  // Built while no registry exists: never listed.
  auto unlisted = std::make_unique<TKorvikObj>();
  TKorvikObjControl::Initialize();
  ASSERT_NE(TKorvikObjControl::Instance(), nullptr);
  EXPECT_EQ(TKorvikObjControl::Instance()->Name(), "KorvikObjController");
  EXPECT_FALSE(TKorvikObjControl::Instance()->Contains(unlisted.get()));

  RegistryEvents events;
  const std::size_t count = TKorvikObjControl::Instance()->Count();
  TKorvikObj* raw = unlisted.get();
  unlisted.reset();
  EXPECT_EQ(events.removed, std::vector<TKorvikObj*>{raw});
  EXPECT_EQ(TKorvikObjControl::Instance()->Count(), count);
}

namespace {

// A worker that logs once, then waits to be told to stop.
class LoggingThread : public TKorvikThread {
 public:
  using TKorvikThread::TKorvikThread;
  ~LoggingThread() override { Stop(); }

 protected:
  void Execute() override {
    Log("worker up", 0);
    while (!Terminated()) std::this_thread::yield();
  }
};

}  // namespace

TEST(KorvikThread, LogsThroughItsOwnObjectWithTheOwnersSink) {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> texts;
  TKorvikObj owner;
  owner.SetOnLog([&](const std::string& text, std::uint8_t) {
    std::lock_guard<std::mutex> lock(mutex);
    texts.push_back(text);
    cv.notify_all();
  });

  LoggingThread thread(&owner);
  ASSERT_NE(thread.LogObject(), nullptr);
  EXPECT_EQ(thread.LogObject()->Name(), "KorvikThreadObj");
  EXPECT_EQ(thread.LogObject()->Owner(), &owner);
  EXPECT_EQ(thread.OwnerObject(), &owner);
  EXPECT_FALSE(thread.Started());  // created suspended

  thread.Start();
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return !texts.empty(); }));
  }
  EXPECT_EQ(texts[0], "worker up");
  thread.Stop();
  EXPECT_TRUE(thread.Finished());
  thread.SetOwnerObject(nullptr);
  EXPECT_EQ(thread.OwnerObject(), nullptr);
}
