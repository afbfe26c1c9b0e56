#include "base/HalList.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/FakeJvmpi.h"

namespace {
const char* const A = "A";
const char* const B = "B";
const char* const C = "C";

std::vector<const char*> contents(const HalList<const char*>& list) {
  std::vector<const char*> seen;
  for (auto it = list.iterator(); it.hasNext();) seen.push_back(it.next());
  return seen;
}
}  // namespace

TEST(HalList, FirstInFirstOutAcrossDrainingAndClearing) {
  HalList<const char*> list(false);
  EXPECT_EQ(list.removeFirst(), nullptr);
  EXPECT_FALSE(list.iterator().hasNext());
  list.append(A);
  list.append(B);
  list.append(C);
  EXPECT_EQ(contents(list), (std::vector<const char*>{A, B, C})) << "iteration removes nothing";
  EXPECT_EQ(list.count(), 3);
  EXPECT_EQ(list.removeFirst(), A);
  EXPECT_EQ(list.removeFirst(), B);
  EXPECT_EQ(list.removeFirst(), C);
  EXPECT_EQ(list.removeFirst(), nullptr);
  // The tail must be forgotten with the last node, or the next append would
  // link onto a freed node.
  list.append(B);
  list.append(C);
  EXPECT_EQ(contents(list), (std::vector<const char*>{B, C}));
  list.clear();
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.removeFirst(), nullptr);
  list.append(A);
  EXPECT_EQ(contents(list), (std::vector<const char*>{A}));
}

// A producer and a drainer on one locking list: every element arrives once,
// in order.
TEST(HalListConcurrency, ProducerAndDrainer) {
  FakeJvmpi fake;
  fake.install();
  {
    HalList<int*> list(true);
    const int total = 5000;
    std::vector<int> items(total);
    for (int i = 0; i < total; i++) items[i] = i;
    std::thread producer([&] {
      for (int i = 0; i < total; i++) list.append(&items[i]);
    });
    int expected = 0;
    while (expected < total) {
      int* item = list.removeFirst();
      if (!item) continue;
      EXPECT_EQ(*item, expected);
      expected++;
    }
    producer.join();
    EXPECT_EQ(list.count(), 0);
  }
  fake.uninstall();
}
