// Several threads append to one queue while one drain takes records off, puts
// some back and trims: every record ends exactly once, in its producer's
// order. Run under ThreadSanitizer by the test command.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "events/AgentRecords.h"
#include "events/EventQueue.h"

namespace {

constexpr int kProducers = 4, kEach = 20000;

// Each record's fate: 1 for its destruction, 2 more for its delivery.
std::atomic<int> fate[kProducers][kEach];

// The producer goes in the subtype, the number in threadId.
struct Counted : EventRecord {
  Counted(int type, int producer, int number)
      : EventRecord(type, producer, static_cast<int16_t>(8 + number % 40)) {
    threadId = static_cast<uint32_t>(number);
  }
  ~Counted() override { fate[subtype][threadId]++; }
};

// Every third record is of a kept kind, which trimming must never remove.
int typeOf(int number) {
  return number % 3 ? EVENT_HTTP : (number % 2 ? EVENT_CLASS : EVENT_SAMPLING_RATES);
}

// Drains, mixing the drain's operations, until the producers are done and the
// queue is empty; trims to `trimTo` every fourth round.
template <class Seen>
void drain(EventQueue& queue, const std::atomic<int>& producing, int trimTo, Seen seen) {
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
  }
}

TEST(EventQueueConcurrency, EveryRecordEndsOnceInOrderAndTheCountersBalance) {
  EventQueue queue(1 << 30);
  std::atomic<int> producing{kProducers};
  std::vector<int> last(kProducers, -1);
  bool ordered = true;
  std::thread drainer([&] {
    drain(queue, producing, 200, [&](EventRecord* r) {
      int p = r->subtype, n = static_cast<int>(r->threadId);
      ordered = ordered && n > last[p];
      last[p] = n;
      fate[p][n] += 2;
      queue.recordTaken(r);
      delete r;
    });
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; p++) {
    producers.emplace_back([&, p] {
      for (int n = 0; n < kEach; n++) {
        fate[p][n] = 0;
        EXPECT_TRUE(queue.append(new Counted(typeOf(n), p, n)));
      }
      producing--;
    });
  }
  for (auto& t : producers) t.join();
  drainer.join();

  EXPECT_TRUE(ordered);
  int wrong = 0;
  long bytes = 0;  // delivered (3), or trimmed if droppable (1)
  for (int p = 0; p < kProducers; p++)
    for (int n = 0; n < kEach; n++) {
      bytes += 8 + n % 40;
      wrong += fate[p][n] != 3 && (fate[p][n] != 1 || typeOf(n) != EVENT_HTTP);
    }
  EXPECT_EQ(wrong, 0) << "records lost, doubled, or of a kept kind trimmed";
  EventQueue::ByteCounts counts = queue.byteCounts();
  EXPECT_EQ(counts.queued + counts.classQueued, bytes);
  EXPECT_EQ(counts.taken + counts.classTaken, bytes);
  EXPECT_EQ(queue.queuedBytes(), 0);
}

// With one producer an overflow is a run of refused appends, which the drain
// ends at any moment: each brings one drop notice, each refusal is counted.
TEST(EventQueueConcurrency, EachOverflowBringsOneNoticeWhileTheDrainRuns) {
  EventQueue queue(64);
  std::atomic<int> producing{1};
  long notices = 0, dropped = 0, overflows = 0, refused = 0, refusing = 0;
  std::thread drainer([&] {
    drain(queue, producing, 32, [&](EventRecord* r) {
      notices += r->type == EVENT_DROP_NOTICE;
      queue.recordTaken(r);
      delete r;
      dropped += queue.takeDroppedEvents();
    });
  });
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
  EXPECT_EQ(queue.queuedBytes(), 0);
}

}  // namespace
