// Records carved from the arenas of many threads and destroyed on another,
// while the threads end with their records still queued: run under
// ThreadSanitizer by the test command, and under AddressSanitizer with the
// unit tests (a slab freed too early or never is reported there).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "events/EventQueue.h"
#include "events/RecordArena.h"
#include "events/RequestRecord.h"

namespace {

// A text whose length and bytes follow from the record's number, so that
// two records sharing memory show up as a wrong text. Every tenth is too
// large for a slab and gets a block of its own.
std::string textFor(int number) {
  size_t length = number % 10 == 0 ? RecordArena::kLargestBlock + number % 100 : number % 300;
  return std::string(length, static_cast<char>('a' + number % 26));
}

}  // namespace

TEST(RecordArenaConcurrency, RecordsOutliveTheirThreadsAndTheLastOneFreesEachSlab) {
  constexpr int kThreads = 4, kLives = 3, kPerLife = 3000;
  std::vector<std::unique_ptr<EventQueue>> queues;
  for (int t = 0; t < kThreads; t++) queues.push_back(std::make_unique<EventQueue>(1 << 30));
  std::atomic<int> running{kThreads};
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; t++) {
    producers.emplace_back([&, t] {
      for (int life = 0; life < kLives; life++) {
        // A thread's life: its arena ends with it, its records stay queued.
        RecordArena arena;
        for (int i = 0; i < kPerLife; i++) {
          int number = life * kPerLife + i;
          std::string text = textFor(number);
          auto* record = RequestRecord::make<HttpRequestRecord>(&arena, text.size() + 1, 0);
          ASSERT_NE(record, nullptr);
          record->depth = number;
          record->placeText(record->url, text.data(), text.size());
          queues[t]->append(record);
        }
      }
      running--;
    });
  }
  long destroyed = 0;
  auto drain = [&] {
    for (auto& queue : queues) {
      EventQueue::Chain chain = queue->takeAll();
      while (EventRecord* event = chain.pop()) {
        auto* record = static_cast<HttpRequestRecord*>(event);
        EXPECT_EQ(std::string(record->url.get()), textFor(record->depth));
        delete record;
        destroyed++;
      }
    }
  };
  while (running.load() > 0) drain();
  for (auto& producer : producers) producer.join();
  drain();
  EXPECT_EQ(destroyed, long{kThreads} * kLives * kPerLife);
}
