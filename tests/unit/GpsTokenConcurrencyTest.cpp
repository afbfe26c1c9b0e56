// Tokens drawn and saved on several threads at once: run under
// ThreadSanitizer by the test command.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "requests/GpsCounter.h"
#include "support/FakeJvmpi.h"
#include "support/TestSupport.h"

TEST(GpsTokenConcurrency, TwoThreadsDrawDistinctTokensWhileTheCounterIsSaved) {
  FakeJvmpi fake;  // outlives the counter, which destroys its monitors through it
  fake.install();
  TempDir home;
  GpsCounter counter;
  counter.setup("1010", 2000, home.at("counter"));
  constexpr int kPerThread = 100000;
  std::vector<uint32_t> drawn[2];
  uint32_t lastSaved[2] = {0, 0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; t++) {
    threads.emplace_back([&counter, &mine = drawn[t], &saved = lastSaved[t]] {
      mine.reserve(kPerThread);
      for (int i = 0; i < kPerThread; i++) {
        uint32_t token = counter.next();
        mine.push_back(token);
        // As two event agents would, each saving what it serialised.
        if (i % 50 == 0) {
          counter.save(token);
          saved = token;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  std::vector<uint32_t> all(drawn[0]);
  all.insert(all.end(), drawn[1].begin(), drawn[1].end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
  EXPECT_EQ(all.front(), 0xA0000000u);
  EXPECT_EQ(all.back(), 0xA0000000u + 2 * kPerThread - 1);
  // The file covers every token that was handed to the saver.
  uint32_t stored = 0;
  ASSERT_TRUE(GpsCounter::parseCounter(readFile(home.at("counter")).c_str(), &stored));
  EXPECT_EQ(stored, counter.savedToken() & counter.gpsMask());
  EXPECT_GT(counter.savedToken(), std::max(lastSaved[0], lastSaved[1]));
}

// The set-up thread re-reads the counter file while an event agent saves:
// both touch the file and its path under the save lock, so the file always
// holds the saved mark's counter.
TEST(GpsTokenConcurrency, CounterFileReReadWhileAnotherThreadSaves) {
  FakeJvmpi fake;
  fake.install();
  TempDir home;
  const std::string path = home.at("counter");
  GpsCounter counter;
  counter.setup("1010", 3, path);
  constexpr int kRounds = 100;
  std::thread reader([&] {
    for (int i = 0; i < kRounds; i++) counter.initCounter(path);
  });
  for (int i = 0; i < kRounds; i++) counter.save(counter.savedToken());
  reader.join();
  uint32_t stored = 0;
  ASSERT_TRUE(GpsCounter::parseCounter(readFile(path).c_str(), &stored));
  EXPECT_EQ(stored, counter.savedToken() & counter.gpsMask());
  EXPECT_GE(stored, 3u);
}
