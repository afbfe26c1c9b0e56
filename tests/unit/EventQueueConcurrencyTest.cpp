// One queue, several appending threads and one drain that takes records off
// one by one, takes them all and puts back what it does not use, and trims:
// every record must end exactly once, in its producer's order. Run under
// ThreadSanitizer by the test command.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "events/AgentRecords.h"
#include "events/EventQueue.h"

namespace {

constexpr int kProducers = 4;
constexpr int kEach = 20000;

// How often each record was destroyed, and whether the drain delivered it.
std::atomic<int> ends[kProducers][kEach];
std::atomic<bool> delivered[kProducers][kEach];

// A record that counts its own destruction: one lost shows as 0, one taken
// off twice as 2. The producer goes in the subtype, the number in threadId.
struct Counted : EventRecord {
  Counted(int type, int producer, int number)
      : EventRecord(type, producer, static_cast<int16_t>(8 + number % 40)) {
    threadId = static_cast<uint32_t>(number);
  }
  ~Counted() override { ends[subtype][threadId]++; }
};

// Every third record is of a kept kind (class or sampling rates), which
// trimming must never remove.
int typeOf(int number) {
  return number % 3 ? EVENT_HTTP : (number % 2 ? EVENT_CLASS : EVENT_SAMPLING_RATES);
}

class EventQueueConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int p = 0; p < kProducers; p++)
      for (int n = 0; n < kEach; n++) {
        ends[p][n] = 0;
        delivered[p][n] = false;
      }
  }

  // Drains until the producers are done and the queue is empty, mixing the
  // drain's operations; trims to `trimTo` every fourth round. `seen` gets
  // each record delivered.
  template <class Seen>
  static void drain(EventQueue& queue, const std::atomic<int>& producing, int trimTo, Seen seen) {
    for (int round = 0;; round++) {
      bool done = producing.load() == 0;
      if (round % 4 == 3) {
        queue.trim(trimTo, nullptr);
      } else if (round % 4 == 0) {
        if (EventRecord* r = queue.takeFirst()) seen(r);
      } else {
        EventQueue::Chain chain = queue.takeAll();
        for (int used = 0; used < 1 + round % 5 || round % 4 == 2; used++) {
          EventRecord* r = chain.pop();
          if (!r) break;
          seen(r);
        }
        queue.putBackFront(chain);
      }
      if (done && queue.length() == 0) return;
      if (round % 64 == 0) std::this_thread::yield();
    }
  }
};

TEST_F(EventQueueConcurrency, EveryRecordEndsOnceInOrderAndTheCountersBalance) {
  EventQueue queue(1 << 30);
  std::atomic<int> producing{kProducers};
  std::atomic<long> appendedBytes{0};
  std::vector<int> last(kProducers, -1);
  bool ordered = true;
  std::thread drainer([&] {
    drain(queue, producing, 200, [&](EventRecord* r) {
      int p = r->subtype, n = static_cast<int>(r->threadId);
      ordered = ordered && n > last[p];
      last[p] = n;
      delivered[p][n] = true;
      queue.recordTaken(r);
      delete r;
    });
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; p++) {
    producers.emplace_back([&, p] {
      long bytes = 0;
      for (int n = 0; n < kEach; n++) {
        auto* r = new Counted(typeOf(n), p, n);
        bytes += r->nominalSize;
        EXPECT_TRUE(queue.append(r));
      }
      appendedBytes += bytes;
      producing--;
    });
  }
  for (auto& t : producers) t.join();
  drainer.join();

  EXPECT_TRUE(ordered);
  int lost = 0, doubled = 0, keptTrimmed = 0;
  for (int p = 0; p < kProducers; p++)
    for (int n = 0; n < kEach; n++) {
      lost += ends[p][n] == 0;
      doubled += ends[p][n] > 1;
      keptTrimmed += typeOf(n) != EVENT_HTTP && !delivered[p][n];
    }
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(doubled, 0);
  EXPECT_EQ(keptTrimmed, 0);
  EXPECT_EQ(queue.takeDroppedEvents(), 0);
  EventQueue::ByteCounts counts = queue.byteCounts();
  EXPECT_EQ(counts.queued + counts.classQueued, appendedBytes.load());
  EXPECT_EQ(counts.taken + counts.classTaken, appendedBytes.load());
  EXPECT_EQ(queue.queuedBytes(), 0);
}

// With one producer, an overflow is a run of refused appends; a drain taking
// records off and trimming meanwhile ends overflows at any moment. Each run
// must bring exactly one drop notice, and every refusal must be counted.
TEST_F(EventQueueConcurrency, EachOverflowBringsOneNoticeWhileTheDrainRuns) {
  EventQueue queue(64);
  std::atomic<int> producing{1};
  long notices = 0, dropped = 0;
  std::thread drainer([&] {
    drain(queue, producing, 32, [&](EventRecord* r) {
      notices += r->type == EVENT_DROP_NOTICE;
      queue.recordTaken(r);
      delete r;
      dropped += queue.takeDroppedEvents();
    });
  });
  long overflows = 0, refused = 0;
  bool refusing = false;
  for (int n = 0; n < kEach; n++) {
    bool appended = queue.append(new Counted(EVENT_HTTP, 0, n));
    overflows += !appended && !refusing;
    refused += !appended;
    refusing = !appended;
  }
  producing--;
  drainer.join();
  dropped += queue.takeDroppedEvents();
  EXPECT_GT(overflows, 0);
  EXPECT_EQ(notices, overflows);
  EXPECT_EQ(dropped, refused);
  for (int n = 0; n < kEach; n++) ASSERT_EQ(ends[0][n].load(), 1) << n;
  EXPECT_EQ(queue.queuedBytes(), 0);
}

}  // namespace
