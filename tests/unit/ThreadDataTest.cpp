#include "threads/ThreadData.h"

#include <gtest/gtest.h>

#include <string>

#include "events/AgentRecords.h"
#include "support/ThreadTestEnv.h"
#include "threads/ThreadId.h"

namespace {
class ThreadDataTest : public ThreadTestEnv {
 protected:
  ThreadData* thread(uintptr_t low) {
    return threadMgr->getThreadData(fakeEnv(0x7f300D000000 + low));
  }
};
}  // namespace

TEST_F(ThreadDataTest, TheQueueLimitIsReadWhenTheTableIsMade) {
  setProperty("internal.probe.event.queue.size.limit", "3");
  ThreadMgr table;
  ThreadData* data = table.getSpecialThreadData(0x7f38);
  setProperty("internal.probe.event.queue.size.limit", "10");
  for (int i = 0; i < 3; i++) EXPECT_TRUE(data->appendEvent(new EventRecord(3, 0, 64)));
  EXPECT_FALSE(data->appendEvent(new EventRecord(7, 0, 64)));
  EXPECT_EQ(data->takeDroppedEvents(), 1);
}

TEST_F(ThreadDataTest, RefusedAppendsAreLoggedAndTheRecordDestroyed) {
  ThreadData* data = thread(0x400);
  uint32_t id = data->getThreadId();
  threadMgr->threadEnded(data);
  std::string out = captured([&] { EXPECT_FALSE(data->appendEvent(new EventRecord(4, 0, 72))); });
  char expected[120];
  std::snprintf(expected, sizeof expected,
                "Append Event Thread is dead: 0, EvtType: 4 Evt SubType: 0 TID: %08x", id);
  EXPECT_CONTAINS(out, expected);
  EXPECT_EQ(data->queueLength(), 0);
  threadMgr->deleteThreadData(data);

  ThreadData* other = thread(0x480);
  out = captured([&] { EXPECT_FALSE(other->appendEvent(nullptr)); });
  EXPECT_CONTAINS(out, "Append Event failed Evt is NULL ");

  ThreadData queueless(0x7f3a, nullptr);
  out = captured([&] { EXPECT_FALSE(queueless.appendEvent(new EventRecord(4, 0, 72))); });
  EXPECT_CONTAINS(out, "Append Event failed evtQueue is NULL ");
  threadMgr->threadEnded(&queueless);
}

TEST_F(ThreadDataTest, NamesAreSetOnce) {
  ThreadData* data = thread(0x700);
  EXPECT_TRUE(data->setThreadNames("first", "group"));
  EXPECT_TRUE(data->setThreadNames("second", nullptr));
  EXPECT_STREQ(data->getThreadName(), "first");
  EXPECT_STREQ(data->getGroupName(), "group");
}

TEST_F(ThreadDataTest, QueueEventFindsTheCallersRecordOrReleasesTheEvent) {
  JNIEnv* env = fakeEnv(0x7f300D000800);
  EXPECT_TRUE(queueEvent(env, nullptr, new EventRecord(4, 0, 72)));
  ThreadData* data = threadMgr->getThreadData(env);
  EXPECT_EQ(data->queueLength(), 1);

  threadMgr->stop();
  std::string out =
      captured([&] { EXPECT_FALSE(queueEvent(env, nullptr, new EventRecord(4, 0, 72))); });
  EXPECT_CONTAINS(out, "ThreadData creation failed, check memory..");
}

TEST_F(ThreadDataTest, DestroyingARecordDestroysItsQueue) {
  // Records left in a queue are destroyed with it (LeakSanitizer checks).
  ThreadData* data = threadMgr->getSpecialThreadData(0x7f30);
  for (int i = 0; i < 10; i++) data->appendEvent(new DropNoticeRecord(7));
  data->own().gpsToken.reset(new uint8_t[4]);
  data->own().gpsTokenLength = 4;
  threadMgr->stop();
}
