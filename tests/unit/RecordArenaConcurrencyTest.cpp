// Records carved from the arenas of many threads and destroyed on another,
// while the threads end with their records still queued: run under
// ThreadSanitizer by the test command, and under AddressSanitizer with the
// unit tests (a slab freed too early or never is reported there).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "events/EventQueue.h"
#include "events/RecordArena.h"
#include "events/RecordArenaTestAccess.h"
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

// A slab comes back to its arena once its last record is gone, wherever that
// record is destroyed, and not a moment before; the arena keeps a few such
// slabs, and one that comes back after the arena is gone is freed (the
// sanitizers report a slab freed twice or never).
TEST(RecordArenaConcurrency, DoneSlabsComeBackToTheirArenaOnlyOnceEmpty) {
  auto arena = std::make_unique<RecordArena>();
  std::vector<HttpRequestRecord*> made;
  std::vector<const void*> slabOf;
  // Makes records into `slabs` more slabs; answers the slabs used, in order.
  auto makeSlabs = [&](size_t slabs) {
    std::vector<const void*> used;
    while (used.size() <= slabs) {
      std::string text = textFor(static_cast<int>(made.size()) * 10 + 1);
      auto* record = RequestRecord::make<HttpRequestRecord>(arena.get(), text.size() + 1, 0);
      record->placeText(record->url, text.data(), text.size());
      made.push_back(record);
      slabOf.push_back(RecordArenaTestAccess::slabOf(record));
      if (used.empty() || used.back() != slabOf.back()) used.push_back(slabOf.back());
    }
    return used;
  };
  // Destroys, on another thread, the live records that `pick` names, as a
  // drain does: their blocks released a slab at a time.
  auto release = [&](auto pick) {
    std::thread([&] {
      RecordArena::Releaser releaser;
      for (size_t i = 0; i < made.size(); i++)
        if (made[i] && pick(i)) {
          EXPECT_EQ(std::string(made[i]->url.get()), textFor(static_cast<int>(i) * 10 + 1)) << i;
          EventRecord::destroy(std::exchange(made[i], nullptr), releaser);
        }
    }).join();
  };

  // Of three full slabs, the first keeps one record, the second is emptied.
  std::vector<const void*> slabs = makeSlabs(3);
  release([&](size_t i) { return (slabOf[i] == slabs[0] && i > 0) || slabOf[i] == slabs[1]; });
  EXPECT_EQ(RecordArenaTestAccess::spareSlabs(*arena), 1);
  // The emptied slab comes back next, never the one whose record lives.
  std::vector<const void*> next = makeSlabs(2);
  EXPECT_EQ(next[1], slabs[1]);
  EXPECT_NE(next[2], slabs[0]);
  EXPECT_EQ(RecordArenaTestAccess::spareSlabs(*arena), 0);

  // Many slabs emptied at once: a few are kept.
  makeSlabs(RecordArena::kSpareSlabs + 4);
  const void* carving = slabOf.back();
  release([&](size_t i) { return slabOf[i] != carving; });
  EXPECT_EQ(RecordArenaTestAccess::spareSlabs(*arena), RecordArena::kSpareSlabs);
  // The arena goes before the records of the slab it was carving.
  arena.reset();
  release([](size_t) { return true; });
}
