#include "threads/ThreadMgr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "profiler/EventHandler.h"
#include "support/TestSupport.h"
#include "support/ThreadTestEnv.h"
#include "threads/ThreadId.h"
#include "threads/ThreadNatives.h"

namespace {
class ThreadMgrTest : public ThreadTestEnv {};

JVMPI_Event threadEvent(jint type, JNIEnv* env, const char* name, const char* group) {
  JVMPI_Event event{};
  event.event_type = type;
  event.env_id = env;
  if (type == JVMPI_EVENT_THREAD_START) {
    event.u.thread_start.thread_name = name;
    event.u.thread_start.group_name = group;
    event.u.thread_start.thread_env_id = env;
  }
  return event;
}
}  // namespace

TEST_F(ThreadMgrTest, RefusesWhileNotStartedAndForANullEnv) {
  std::string out = captured([] { EXPECT_EQ(threadMgr->getThreadData(nullptr), nullptr); });
  EXPECT_NE(out.find("NULL Env id during getThreadData"), std::string::npos);

  threadMgr->stop();
  out = captured([&] {
    EXPECT_EQ(threadMgr->getThreadData(fakeEnv(0x7f2000003000)), nullptr);
    EXPECT_EQ(threadMgr->getThreadCount(), 0u);
    EXPECT_EQ(threadMgr->findThreadData("g", "t"), nullptr);
  });
  EXPECT_NE(out.find("ThreadMgr not started, returning null"), std::string::npos);
  out = captured([] { EXPECT_FALSE(threadMgr->deleteThreadData(nullptr)); });
  EXPECT_NE(out.find("ThreadMgr not started, returning false"), std::string::npos);
  out = captured([] { EXPECT_FALSE(threadMgr->removeThreadData(9999)); });
  EXPECT_NE(out.find("ThreadData was not there in table, TID: 9999"), std::string::npos);
}

TEST_F(ThreadMgrTest, CreatesNothingWhileTheEventAgentsAreNotReady) {
  evtAgentMgr->setMasterRunning(false);
  std::string out = captured([&] {
    EXPECT_EQ(threadMgr->getThreadData(fakeEnv(0x7f2000004000)), nullptr);
    EXPECT_EQ(threadMgr->getThreadData(fakeEnv(0x7f2000004000)), nullptr);
  });
  EXPECT_EQ(countOf(out, "EventMgr not ready, returning null"), 2) << "logged on every attempt";
  EXPECT_EQ(threadMgr->getThreadCount(), baseCount);
  evtAgentMgr->setMasterRunning(true);
  evtAgentMgr->stop();
  EXPECT_EQ(threadMgr->getThreadData(fakeEnv(0x7f2000004000)), nullptr);
}

TEST_F(ThreadMgrTest, SpecialRecordsWorkWithoutStartAndStayInTheTable) {
  threadMgr->stop();
  ThreadData* special = threadMgr->getSpecialThreadData(4242);
  ASSERT_NE(special, nullptr);
  EXPECT_EQ(special->getThreadId(), 4242u);
  EXPECT_EQ(threadMgr->getSpecialThreadData(4242), special);
  EXPECT_EQ(threadMgr->lookupThreadData(4242), special);
  EXPECT_EQ(threadMgr->getSpecialThreadData(0), nullptr) << "the table refuses the null key";
}

TEST_F(ThreadMgrTest, TheStoppedRingWrapsAfter300Ids) {
  for (uint32_t id = 1; id <= 301; id++) threadMgr->addStoppedThread(id);
  threadMgr->addStoppedThread(0);  // ignored
  uint32_t ids[ThreadMgr::kStoppedSlots];
  ASSERT_EQ(threadMgr->takeStoppedThreads(ids), 1);
  EXPECT_EQ(ids[0], 301u);
  EXPECT_EQ(threadMgr->takeStoppedThreads(ids), 0);

  for (uint32_t id = 1; id <= 300; id++) threadMgr->addStoppedThread(id);
  ASSERT_EQ(threadMgr->takeStoppedThreads(), 300);
  EXPECT_EQ(threadMgr->stoppedSnapshotSize(), 300);
  EXPECT_EQ(threadMgr->stoppedSnapshotIds()[299], 300u);
}

TEST_F(ThreadMgrTest, StoppedIdsAreTenColumnsAndASemicolonEach) {
  threadMgr->addStoppedThread(7);
  threadMgr->addStoppedThread(12345);
  uint32_t ids[ThreadMgr::kStoppedSlots];
  int count = threadMgr->takeStoppedThreads(ids);
  char text[6000];
  EXPECT_EQ(formatStoppedThreadIds(ids, count, text, sizeof text), 22);
  EXPECT_STREQ(text, "         7;     12345;");
  EXPECT_EQ(threadMgr->takeStoppedThreads(ids), 0) << "a second call finds none";

  // 300 ids of the widest form fit the native's buffer; a small buffer cuts at
  // whole ids.
  uint32_t wide[300];
  for (uint32_t& id : wide) id = 0x80000000u;
  EXPECT_EQ(formatStoppedThreadIds(wide, 300, text, sizeof text), 300 * 12);
  char small[30];
  EXPECT_EQ(formatStoppedThreadIds(ids, 2, small, 15), 11);
  EXPECT_STREQ(small, "         7;");
}

TEST_F(ThreadMgrTest, FindsAThreadByItsNamesInBucketOrder) {
  // Two threads share a name pair; the one in the lower bucket is met first.
  JNIEnv* a = fakeEnv(0x7f2000005010);
  JNIEnv* b = fakeEnv(0x7f2000005008);
  uint32_t idA = threadIdOf(a), idB = threadIdOf(b);
  ThreadData* first = threadMgr->getThreadData(a);
  ThreadData* second = threadMgr->getThreadData(b);
  first->setThreadNames("worker", "main");
  second->setThreadNames("worker", "main");
  threadMgr->getThreadData(fakeEnv(0x7f2000006000))->setThreadNames("other", "main");
  uint32_t expected = ((idA >> 3) % 67) < ((idB >> 3) % 67) ? idA : idB;
  EXPECT_EQ(threadIdByNames("worker", "main"), expected);
  EXPECT_EQ(threadIdByNames("worker", "system"), 0u);
  EXPECT_EQ(threadIdByNames(nullptr, "main"), 0u) << "a null name is the empty name";
  EXPECT_EQ(threadIdByNames("other", "main"), threadIdOf(fakeEnv(0x7f2000006000)));
}

// The lock-watching state of the next test: the first monitor entered once
// armed is the table's lock; right after it is left, `onRelease` runs.
struct LockWatch {
  static inline bool armed = false;
  static inline JVMPI_RawMonitor watched = nullptr;
  static inline void (*enter)(JVMPI_RawMonitor) = nullptr;
  static inline void (*exit)(JVMPI_RawMonitor) = nullptr;
  static inline ThreadData* victim = nullptr;

  static void onEnter(JVMPI_RawMonitor m) {
    if (armed && !watched) watched = m;
    enter(m);
  }
  static void onExit(JVMPI_RawMonitor m) {
    exit(m);
    if (!armed || m != watched) return;
    armed = false;
    // The thread ends and its event agent deletes the record.
    threadMgr->threadEnded(victim);
    threadMgr->deleteThreadData(victim);
  }
};

TEST_F(ThreadMgrTest, IdByNamesIsReadBeforeTheRecordCanBeDeleted) {
  ThreadData* data = threadMgr->getThreadData(fakeEnv(0x7f200000d000));
  data->setThreadNames("short-lived", "main");
  uint32_t id = data->getThreadId();
  LockWatch::victim = data;
  LockWatch::enter = fake.table.RawMonitorEnter;
  LockWatch::exit = fake.table.RawMonitorExit;
  fake.table.RawMonitorEnter = LockWatch::onEnter;
  fake.table.RawMonitorExit = LockWatch::onExit;
  LockWatch::armed = true;
  EXPECT_EQ(threadIdByNames("short-lived", "main"), id);
  fake.table.RawMonitorEnter = LockWatch::enter;
  fake.table.RawMonitorExit = LockWatch::exit;
  EXPECT_FALSE(LockWatch::armed) << "the record was deleted right after the lookup";
  LockWatch::watched = nullptr;
}

TEST_F(ThreadMgrTest, ThreadStartAndEndEventsNameAndRetireTheRecord) {
  JNIEnv* env = fakeEnv(0x7f2000007000);
  JVMPI_Event start = threadEvent(JVMPI_EVENT_THREAD_START, env, "pool-1", "main");
  notifyEvent(&start);
  uint32_t id = threadIdOf(env);
  ThreadData* data = threadMgr->lookupThreadData(id);
  ASSERT_NE(data, nullptr);
  EXPECT_STREQ(data->getThreadName(), "pool-1");
  EXPECT_STREQ(data->getGroupName(), "main");
  data->requestDepth() = 3;
  data->own().sqlDepth = 1;
  data->setStatement("select 1", "ds");

  JVMPI_Event end = threadEvent(JVMPI_EVENT_THREAD_END, env, nullptr, nullptr);
  notifyEvent(&end);
  EXPECT_FALSE(data->isAlive());
  EXPECT_EQ(threadMgr->lookupThreadData(id), nullptr);
  EXPECT_EQ(data->requestDepth(), 0);
  EXPECT_EQ(data->own().sqlDepth, 0);
  EXPECT_EQ(data->own().statementSql, nullptr);
  EXPECT_EQ(lookupThreadId(env), 0u) << "the env gave its id up";
  uint32_t ids[ThreadMgr::kStoppedSlots];
  ASSERT_EQ(threadMgr->takeStoppedThreads(ids), 1);
  EXPECT_EQ(ids[0], id);
  // The dead record waits for its event agent, which deletes it.
  EXPECT_TRUE(threadMgr->deleteThreadData(data));
}

TEST_F(ThreadMgrTest, UnknownOrDisabledThreadEventsCreateNothing) {
  JNIEnv* env = fakeEnv(0x7f2000008000);
  JVMPI_Event end = threadEvent(JVMPI_EVENT_THREAD_END, env, nullptr, nullptr);
  notifyEvent(&end);
  EXPECT_EQ(threadMgr->getThreadCount(), baseCount);
  EXPECT_EQ(lookupThreadId(env), 0u);
  uint32_t ids[ThreadMgr::kStoppedSlots];
  EXPECT_EQ(threadMgr->takeStoppedThreads(ids), 0);

  probeDisabled.store(true);  // thread starts are ignored while disabled
  JVMPI_Event start = threadEvent(JVMPI_EVENT_THREAD_START, env, "t", "g");
  notifyEvent(&start);
  EXPECT_EQ(threadMgr->getThreadCount(), baseCount);
}

TEST_F(ThreadMgrTest, TwoLiveThreadsWhoseEnvsShareTheLowHalfGetTwoRecords) {
  JNIEnv* a = fakeEnv(0x7f200000a000);
  JNIEnv* b = fakeEnv(0x7f200000a000 + (uintptr_t{1} << 32));
  ThreadData* da = threadMgr->getThreadData(a);
  ThreadData* db = threadMgr->getThreadData(b);
  ASSERT_TRUE(da && db);
  EXPECT_EQ(da->getThreadId(), threadIdOf(a));
  EXPECT_TRUE(da->isAlive());
  EXPECT_EQ(threadMgr->getThreadData(a), da) << "a later call finds the record";
  EXPECT_NE(da, db);
  EXPECT_NE(da->getThreadId(), db->getThreadId());
  EXPECT_EQ(threadMgr->getThreadCount(), baseCount + 2);
}

TEST_F(ThreadMgrTest, DeletingALiveRecordWhileStartedIsReported) {
  ThreadData* data = threadMgr->getThreadData(fakeEnv(0x7f200000c000));
  ASSERT_TRUE(threadMgr->removeThreadData(data->getThreadId()));
  std::string out = captured([&] { EXPECT_TRUE(threadMgr->deleteThreadData(data)); });
  EXPECT_NE(out.find("Thread being deleted even before it died TID: "), std::string::npos);
}
