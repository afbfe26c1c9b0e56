// A thread's event queue: the limit with its drop count and one drop notice
// per overflow, the kinds queued whatever the length, the byte counters, and
// trimming that keeps those kinds at the front.
#include "events/EventQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "events/AgentRecords.h"
#include "support/FakeJvmpi.h"

namespace {

class EventQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { fake.install(); }
  void TearDown() override { fake.uninstall(); }

  // Appends `count` method-entry records of 64 nominal bytes.
  static void fill(EventQueue& queue, int count) {
    for (int i = 0; i < count; i++) ASSERT_TRUE(queue.append(new EventRecord(3, 0, 64)));
  }

  // Takes every record off, oldest first, booking each as taken.
  static std::vector<std::unique_ptr<EventRecord>> drain(EventQueue& queue) {
    std::vector<std::unique_ptr<EventRecord>> records;
    while (EventRecord* r = queue.takeFirst()) {
      queue.recordTaken(r);
      records.emplace_back(r);
    }
    return records;
  }

  FakeJvmpi fake;
};

TEST_F(EventQueueTest, AFullQueueDropsAndQueuesOneNoticePerOverflow) {
  EventQueue queue(5000);
  fill(queue, 5000);
  EXPECT_FALSE(queue.append(new EventRecord(3, 0, 64)));
  EXPECT_EQ(queue.droppedEvents(), 1);
  EXPECT_EQ(queue.length(), 5001) << "the drop notice goes beyond the limit";
  EXPECT_FALSE(queue.append(new EventRecord(3, 1, 64)));
  EXPECT_EQ(queue.droppedEvents(), 2);
  EXPECT_EQ(queue.length(), 5001) << "one notice per overflow";
  // Kept kinds go in over the limit and do not end the overflow.
  EXPECT_TRUE(queue.append(new EventRecord(1, 3, 96)));
  EXPECT_TRUE(queue.append(new EventRecord(13, 7, 72)));
  EXPECT_TRUE(queue.append(new EventRecord(15, 7, 72)));
  EXPECT_FALSE(queue.append(new EventRecord(7, 0, 64)));
  EXPECT_EQ(queue.length(), 5004);

  auto records = drain(queue);
  ASSERT_EQ(records.size(), 5004u);
  const EventRecord& notice = *records[5000];
  EXPECT_EQ(notice.type, 15);
  EXPECT_EQ(notice.subtype, 7);
  EXPECT_EQ(notice.threadId, 0u);
  for (int count : static_cast<const DropNoticeRecord&>(notice).counts) EXPECT_EQ(count, 0);
  EXPECT_EQ(queue.takeDroppedEvents(), 3);
  EXPECT_EQ(queue.droppedEvents(), 0);
  EXPECT_EQ(queue.queuedBytes(), 0);

  // Drained below the limit: the next append ends the overflow, and the next
  // one queues a new notice.
  fill(queue, 5000);
  EXPECT_FALSE(queue.append(new EventRecord(4, 0, 72)));
  EXPECT_EQ(queue.length(), 5001);
  EXPECT_EQ(drain(queue).back()->type, 15);
}

TEST_F(EventQueueTest, ByteCountersSeparateClassAndMethodRecordsAndBalance) {
  EventQueue queue(10);
  queue.append(new EventRecord(1, 3, 96));
  queue.append(new EventRecord(7, 0, 64));
  queue.append(new EventRecord(3, 0, -2));  // sizes add sign-extended
  EventQueue::ByteCounts counts = queue.byteCounts();
  EXPECT_EQ(counts.classQueued, 94);
  EXPECT_EQ(counts.queued, 64);
  EXPECT_EQ(queue.queuedBytes(), 158);
  drain(queue);
  counts = queue.byteCounts();
  EXPECT_EQ(counts.classTaken, 94);
  EXPECT_EQ(counts.taken, 64);
  EXPECT_EQ(queue.queuedBytes(), 0);
}

// Every kept kind, wherever it stands: inside the records taken off the front
// it moves to the front, behind them it stays where it is.
TEST_F(EventQueueTest, TrimmingKeepsClassSamplingAndNoticeRecordsWhereverTheyStand) {
  constexpr int kLength = 6, kThreshold = 2;
  for (int keptType : {1, 13, 15}) {
    for (int at = 0; at < kLength; at++) {
      EventQueue queue(100);
      // Subtypes mark the positions; type 4 records are droppable.
      for (int i = 0; i < kLength; i++)
        queue.append(new EventRecord(i == at ? keptType : 4, i, 10));
      bool taken = at < kLength - kThreshold;
      EXPECT_EQ(queue.trim(kThreshold, nullptr), kLength - kThreshold - (taken ? 1 : 0));
      auto records = drain(queue);
      std::vector<int> order;
      for (auto& r : records) order.push_back(r->subtype);
      std::vector<int> expected;
      if (taken) expected.push_back(at);
      for (int i = kLength - kThreshold; i < kLength; i++) expected.push_back(i);
      EXPECT_EQ(order, expected) << "type " << keptType << " at " << at;
      EXPECT_EQ(queue.queuedBytes(), 0) << "dropped records are booked as taken";
      // The queue still links correctly at its tail.
      queue.append(new EventRecord(4, 9, 10));
      EXPECT_EQ(drain(queue).size(), 1u);
    }
  }
}

TEST_F(EventQueueTest, TrimmingCountsDroppedRecordsByKind) {
  EventQueue queue(100);
  const int dropped[][2] = {{3, 0}, {3, 0}, {3, 1}, {7, 0}, {7, 1}, {7, 1}, {4, 0}, {9, 1}, {4, 7}};
  for (auto& r : dropped) queue.append(new EventRecord(r[0], r[1], 10));
  queue.append(new EventRecord(1, 3, 10));
  queue.append(new EventRecord(3, 0, 10));
  DropNoticeRecord tally(7);
  EXPECT_EQ(queue.trim(1, &tally), 9);
  // Other begin, other end, method entry, method exit, SQL begin, SQL end;
  // subtype 7 counts nowhere.
  const int32_t expected[6] = {1, 1, 2, 1, 1, 2};
  for (int k = 0; k < 6; k++) EXPECT_EQ(tally.counts[k], expected[k]) << k;
  EXPECT_EQ(queue.length(), 2);
  EXPECT_EQ(queue.trim(2, &tally), 0) << "nothing over the threshold";
}

}  // namespace
