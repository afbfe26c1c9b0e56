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

  // Fills the queue up to its limit with method-entry records.
  static void fill(ThreadData* data, int count) {
    for (int i = 0; i < count; i++) ASSERT_TRUE(data->appendEvent(new EventRecord(3, 0, 64)));
  }
};
}  // namespace

TEST_F(ThreadDataTest, AFullQueueDropsAndQueuesOneNoticePerOverflow) {
  ThreadData* data = thread(0x100);
  fill(data, 5000);
  EXPECT_FALSE(data->appendEvent(new EventRecord(3, 0, 64)));
  EXPECT_EQ(data->droppedEvents.load(), 1);
  EXPECT_EQ(data->queueLength(), 5001) << "the drop notice goes beyond the limit";
  EXPECT_FALSE(data->appendEvent(new EventRecord(3, 1, 64)));
  EXPECT_EQ(data->droppedEvents.load(), 2);
  EXPECT_EQ(data->queueLength(), 5001) << "one notice per overflow";

  auto records = drain(data);
  ASSERT_EQ(records.size(), 5001u);
  const EventRecord& notice = *records.back();
  EXPECT_EQ(notice.type, 15);
  EXPECT_EQ(notice.subtype, 7);
  EXPECT_EQ(notice.threadId, 0u);
  for (int count : static_cast<const DropNoticeRecord&>(notice).counts) EXPECT_EQ(count, 0);
  EXPECT_EQ(data->takeDroppedEvents(), 2);
  EXPECT_EQ(data->droppedEvents.load(), 0);

  // Drained below the limit: the next append clears the flag, and the next
  // overflow queues a new notice.
  fill(data, 5000);
  EXPECT_FALSE(data->appendEvent(new EventRecord(4, 0, 72)));
  EXPECT_EQ(data->queueLength(), 5001);
  EXPECT_EQ(drain(data).back()->type, 15);
}

TEST_F(ThreadDataTest, ClassSamplingAndNoticeRecordsAreQueuedOverTheLimit) {
  ThreadData* data = thread(0x200);
  fill(data, 5000);
  EXPECT_FALSE(data->appendEvent(new EventRecord(3, 0, 64)));
  EXPECT_TRUE(data->appendEvent(new EventRecord(1, 3, 96)));
  EXPECT_TRUE(data->appendEvent(new EventRecord(13, 7, 72)));
  EXPECT_TRUE(data->appendEvent(new EventRecord(15, 7, 72)));
  EXPECT_EQ(data->queueLength(), 5004);
  // The overflow is not over: a droppable record still queues no new notice.
  EXPECT_FALSE(data->appendEvent(new EventRecord(3, 0, 64)));
  EXPECT_EQ(data->queueLength(), 5004);
}

TEST_F(ThreadDataTest, TheLimitIsReadOnceFromTheProperties) {
  setProperty("internal.probe.event.queue.size.limit", "3");
  EXPECT_EQ(eventQueueLimit(), 3);
  setProperty("internal.probe.event.queue.size.limit", "10");
  ThreadData* data = thread(0x300);
  fill(data, 3);
  EXPECT_FALSE(data->appendEvent(new EventRecord(7, 0, 64)));
  EXPECT_EQ(eventQueueLimit(), 3);
}

TEST_F(ThreadDataTest, AppendsAfterThreadEndAreRefusedWithTheIdInHex) {
  ThreadData* data = thread(0x400);
  uint32_t id = data->getThreadId();
  data->threadEnded();
  std::string out = captured([&] { EXPECT_FALSE(data->appendEvent(new EventRecord(4, 0, 72))); });
  char expected[120];
  std::snprintf(expected, sizeof expected,
                "Append Event Thread is dead: 0, EvtType: 4 Evt SubType: 0 TID: %08x", id);
  EXPECT_NE(out.find(expected), std::string::npos) << out;
  EXPECT_EQ(data->queueLength(), 0);
  threadMgr->deleteThreadData(data);

  ThreadData* other = thread(0x480);
  out = captured([&] { EXPECT_FALSE(other->appendEvent(nullptr)); });
  EXPECT_NE(out.find("Append Event failed Evt is NULL "), std::string::npos);
}

TEST_F(ThreadDataTest, ByteCountersSeparateClassRecordsAndBalance) {
  ThreadData* data = thread(0x500);
  data->appendEvent(new EventRecord(1, 3, 96));
  data->appendEvent(new EventRecord(7, 0, 64));
  data->appendEvent(new EventRecord(3, 0, -2));  // sizes add sign-extended
  EXPECT_EQ(data->classBytesQueued.load(), 94);
  EXPECT_EQ(data->bytesQueued.load(), 64);
  EXPECT_EQ(data->queuedBytes(), 158);
  drain(data);
  EXPECT_EQ(data->classBytesTaken.load(), 94);
  EXPECT_EQ(data->bytesTaken.load(), 64);
  EXPECT_EQ(data->queuedBytes(), 0);
}

TEST_F(ThreadDataTest, KeptRecordsGoBackToTheFrontInOrder) {
  ThreadData* data = thread(0x600);
  for (int subtype = 0; subtype < 3; subtype++) data->appendEvent(new EventRecord(3, subtype, 64));
  HalList<EventRecord*> kept(false);
  kept.append(new EventRecord(1, 10, 96));
  kept.append(new EventRecord(1, 11, 96));
  data->putBackFront(kept);
  EXPECT_EQ(kept.count(), 0);
  auto records = drain(data);
  ASSERT_EQ(records.size(), 5u);
  int order[5] = {10, 11, 0, 1, 2};
  for (int i = 0; i < 5; i++) EXPECT_EQ(records[i]->subtype, order[i]);
}

TEST_F(ThreadDataTest, NamesAreSetOnceAndStatementTextsReplaced) {
  ThreadData* data = thread(0x700);
  EXPECT_TRUE(data->setThreadNames("first", "group"));
  EXPECT_TRUE(data->setThreadNames("second", nullptr));
  EXPECT_STREQ(data->getThreadName(), "first");
  EXPECT_STREQ(data->getGroupName(), "group");
  data->setStatement("select 1", "ds1");
  data->setStatement("select 2", nullptr);
  EXPECT_STREQ(data->statementSql.get(), "select 2");
  EXPECT_EQ(data->statementDataSource, nullptr);
}

TEST_F(ThreadDataTest, QueueEventFindsTheCallersRecordOrReleasesTheEvent) {
  JNIEnv* env = fakeEnv(0x7f300D000800);
  EXPECT_TRUE(queueEvent(env, nullptr, new EventRecord(4, 0, 72)));
  ThreadData* data = threadMgr->getThreadData(env);
  EXPECT_EQ(data->queueLength(), 1);

  threadMgr->stop();
  std::string out =
      captured([&] { EXPECT_FALSE(queueEvent(env, nullptr, new EventRecord(4, 0, 72))); });
  EXPECT_NE(out.find("ThreadData creation failed, check memory.."), std::string::npos);
}

TEST_F(ThreadDataTest, DestroyingARecordDestroysItsQueue) {
  // Records left in a queue are destroyed with it (LeakSanitizer checks).
  ThreadData* data = threadMgr->getSpecialThreadData(0x7f30);
  for (int i = 0; i < 10; i++) data->appendEvent(new DropNoticeRecord(7));
  data->gpsToken.reset(new uint8_t[4]);
  data->gpsTokenLength = 4;
  threadMgr->stop();
}
