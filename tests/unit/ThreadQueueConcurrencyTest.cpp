// Many threads at once on the thread table and the queues: run under
// ThreadSanitizer by the test command.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "events/EventQueue.h"
#include "events/RequestRecord.h"
#include "requests/Requests.h"
#include "support/ThreadTestEnv.h"
#include "threads/EntryGate.h"
#include "threads/ThreadId.h"

namespace {
class ThreadQueueConcurrency : public ThreadTestEnv {};

constexpr int kProducers = 8;
constexpr int kPerProducer = 4000;
}  // namespace

TEST_F(ThreadQueueConcurrency, EightProducersAndOneDrainerAccountForEveryRecord) {
  // One queue shared by all producers, as an event agent's special queue is.
  auto owned = std::make_unique<EventQueue>(5000);
  EventQueue* queue = owned.get();
  std::atomic<int> producersLeft{kProducers};
  std::atomic<long> appended{0};
  long taken = 0;
  long sizeSum = 0;
  std::vector<int> lastSeen(kProducers, -1);
  bool inOrder = true;

  // The drainer takes records one by one and, as the event agent does, whole
  // chains of which it uses a part and puts the rest back at the front.
  std::thread drainer([&] {
    for (int round = 0;; round++) {
      bool finished = producersLeft.load() == 0;
      EventQueue::Chain chain;
      if (round % 2) {
        chain = queue->takeAll();
      } else if (EventRecord* one = queue->takeFirst()) {
        chain.head = chain.tail = one;
        chain.count = 1;
      }
      if (!chain.head) {
        if (finished) break;
        std::this_thread::yield();
        continue;
      }
      for (int used = 0; used < 1 + round % 7; used++) {
        EventRecord* r = chain.pop();
        if (!r) break;
        // Each producer's records come out in the order it queued them.
        int producer = r->subtype;
        if (static_cast<int>(r->threadId) <= lastSeen[producer]) inOrder = false;
        lastSeen[producer] = static_cast<int>(r->threadId);
        sizeSum += r->nominalSize;
        queue->recordTaken(r);
        delete r;
        taken++;
      }
      queue->putBackFront(chain);
    }
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; p++) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; i++) {
        // Type 1 is never dropped, so every record must arrive; sizes vary.
        EventRecord* r = new EventRecord(i % 2 ? 1 : 13, p, static_cast<int16_t>(10 + i % 50));
        r->threadId = static_cast<uint32_t>(i);
        if (queue->append(r)) appended++;
      }
      producersLeft--;
    });
  }
  for (auto& t : producers) t.join();
  drainer.join();
  EXPECT_EQ(appended.load(), long{kProducers} * kPerProducer);
  EXPECT_EQ(taken, appended.load());
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(queue->length(), 0);
  EXPECT_EQ(queue->queuedBytes(), 0);
  EventQueue::ByteCounts counts = queue->byteCounts();
  EXPECT_EQ(counts.queued + counts.classQueued, sizeSum);
  EXPECT_EQ(counts.taken + counts.classTaken, sizeSum);
}

TEST_F(ThreadQueueConcurrency, OverflowingProducersQueueOneNoticeAndCountEveryDrop) {
  EventQueue queue(100);
  std::atomic<long> appended{0};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; p++) {
    producers.emplace_back([&] {
      for (int i = 0; i < 500; i++)
        if (queue.append(new EventRecord(3, 0, 64))) appended++;
    });
  }
  for (auto& t : producers) t.join();
  long notices = 0, records = 0;
  while (EventRecord* r = queue.takeFirst()) {
    if (r->type == 15)
      notices++;
    else
      records++;
    queue.recordTaken(r);
    delete r;
  }
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(records, appended.load());
  // The limit is checked under the queue's lock: exactly the limit went in.
  EXPECT_EQ(records, 100);
  EXPECT_EQ(records + queue.takeDroppedEvents(), long{kProducers} * 500);
  EXPECT_EQ(queue.queuedBytes(), 0);
}

TEST_F(ThreadQueueConcurrency, ThreadsMakeTheirOwnRecordsWhileStatusAndLookupsRun) {
  std::vector<std::thread> threads;
  std::atomic<bool> stop{false};
  // Threads 2k and 2k + 1 have envs that share their low half, as can
  // happen on a 64-bit JVM.
  auto envOf = [](int t) {
    return reinterpret_cast<JNIEnv*>(0x7f600E000000 + static_cast<uintptr_t>(t / 2) * 64 +
                                     (static_cast<uintptr_t>(t % 2) << 32));
  };
  std::vector<uint32_t> ids(kProducers);
  for (int t = 0; t < kProducers; t++) ids[t] = threadIdOf(envOf(t));
  for (int t = 0; t < kProducers; t++) {
    threads.emplace_back([&, t] {
      JNIEnv* env = envOf(t);
      EXPECT_EQ(threadIdOf(env), ids[t]);
      for (int i = 0; i < 200; i++) {
        ThreadData* data = nullptr;
        if (!passEntryGate(env, &data)) continue;
        startNativeHttpRequest(env, data, "r", "a", "/u", nullptr);
        finishNativeHttpRequest(env, data, "r");
      }
    });
  }
  // A command thread sets statuses and looks threads up meanwhile.
  std::thread other([&] {
    while (!stop.load()) {
      for (uint32_t id : ids) setThreadStatus(id, 0x8000);
      threadMgr->findThreadData("g", "t");
      threadMgr->getThreadCount();
    }
  });
  for (auto& t : threads) t.join();
  stop.store(true);
  other.join();
  EXPECT_EQ(threadMgr->getThreadCount(), baseCount + kProducers);
  for (int t = 0; t < kProducers; t++) {
    ThreadData* data = threadMgr->lookupThreadData(ids[t]);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->queueLength(), 400);
    EXPECT_EQ(data->requestDepth(), 0);
  }
}

TEST_F(ThreadQueueConcurrency, LockCpuTimeIsReadWhileItsThreadWritesIt) {
  // Lock analysis reads another thread's last lock CPU time at any moment.
  ThreadData* data = threadMgr->getSpecialThreadData(0x7f70);
  std::thread writer([&] {
    for (int64_t t = 1; t <= 20000; t++) data->setLockCpuTime(t);
  });
  int64_t last = 0;
  bool monotonic = true;
  while (last < 20000) {
    int64_t now = data->getLockCpuTime();
    monotonic = monotonic && now >= last;
    last = now;
  }
  writer.join();
  EXPECT_TRUE(monotonic);
}

TEST_F(ThreadQueueConcurrency, OwnRecordLookupsFollowThreadEndsAndATableRestart) {
  // Each producer lives several lives on one env while the others record: a
  // life ends as a thread does (the record leaves the table), and the next
  // lookup must make a new record, never hand back the retired one.
  std::vector<std::vector<ThreadData*>> retired(kProducers);
  std::vector<std::thread> threads;
  auto envOf = [](int t) {
    return reinterpret_cast<JNIEnv*>(0x7f6110000000 + static_cast<uintptr_t>(t) * 64);
  };
  for (int t = 0; t < kProducers; t++) {
    threads.emplace_back([&, t] {
      JNIEnv* env = envOf(t);
      for (int life = 0; life < 4; life++) {
        ThreadData* mine = threadMgr->getThreadData(env);
        ASSERT_NE(mine, nullptr);
        for (int i = 0; i < 50; i++) {
          ThreadData* data = nullptr;
          ASSERT_TRUE(passEntryGate(env, &data));
          ASSERT_EQ(data, mine);
          startNativeHttpRequest(env, data, "r", "a", "/u", nullptr);
          finishNativeHttpRequest(env, data, "r");
        }
        EXPECT_EQ(mine->queueLength(), 100);
        threadMgr->threadEnded(mine);
        retired[t].push_back(mine);
      }
    });
  }
  for (auto& t : threads) t.join();
  for (auto& lives : retired) {
    for (size_t i = 0; i < lives.size(); i++)
      for (size_t j = 0; j < i; j++) EXPECT_NE(lives[i], lives[j]);
    for (ThreadData* data : lives) EXPECT_TRUE(threadMgr->deleteThreadData(data));
  }
  threads.clear();

  // The table stops and starts again between two lookups of each thread
  // (a stop racing the lookups themselves would delete records in use):
  // after the start each thread gets a record that is in the table, not the
  // one it looked up before the stop, which the stop deleted.
  std::atomic<int> ready{0};
  std::atomic<bool> restarted{false};
  std::atomic<int> seenRestart{0};
  for (int t = 0; t < kProducers; t++) {
    threads.emplace_back([&, t] {
      JNIEnv* env = envOf(t);
      uint32_t id = threadIdOf(env);
      EXPECT_NE(threadMgr->getThreadData(env), nullptr);
      ready++;
      while (!restarted.load()) std::this_thread::yield();
      ThreadData* data = threadMgr->getThreadData(env);
      ASSERT_NE(data, nullptr);
      EXPECT_EQ(threadMgr->lookupThreadData(id), data);
      EXPECT_EQ(data->getThreadId(), id);
      seenRestart++;
    });
  }
  while (ready.load() < kProducers) std::this_thread::yield();
  captured([&] {
    threadMgr->stop();
    threadMgr->start();
  });
  restarted.store(true);
  for (auto& t : threads) t.join();
  EXPECT_EQ(seenRestart.load(), kProducers);
  EXPECT_EQ(threadMgr->getThreadCount(), static_cast<uint32_t>(kProducers));
}
