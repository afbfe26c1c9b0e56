#include "base/HalHashTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Log.h"
#include "base/LogTestAccess.h"
#include "support/FakeJvmpi.h"
#include "support/TestSupport.h"

namespace {

using PtrTable = HalHashTable<void*, void*>;
using StrTable = HalHashTable<const char*, const char*>;

// A pointer-sized key; pointer keys are never dereferenced. The volatile
// step hides the small constant from the compiler, which would otherwise
// warn about the string comparison it cannot rule out.
void* key(uintptr_t bits) {
  volatile uintptr_t opaque = bits;
  return reinterpret_cast<void*>(opaque);
}
void* value(int n) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000 + n));
}

// Three keys that share one bucket of a table of `buckets` buckets.
std::vector<void*> chainKeys(int buckets, uintptr_t first) {
  uintptr_t step = static_cast<uintptr_t>(buckets) << 3;
  return {key(first), key(first + step), key(first + 2 * step)};
}

class HalHashTableLog : public testing::Test {
 protected:
  void SetUp() override { resetLog(); }
  void TearDown() override { resetLog(); }
};

}  // namespace

TEST(HalHashTable, StringHashTakesCharactersAsSigned) {
  EXPECT_EQ(halhash::elfHash("AB"), 0x452u);
  // 0x80 counts as -128: unsigned characters would give 0x80.
  EXPECT_EQ(halhash::elfHash("\x80"), 0x0FFFFF70u);
  EXPECT_EQ(halhash::elfHash("a\xff"), 0x60Fu);  // 0x610 - 1
  std::string longKey(10000, '\xee');
  EXPECT_EQ(halhash::elfHash(longKey.c_str()) & 0xF0000000u, 0u) << "28 bits";
  StrTable table(11, true, false);
  EXPECT_EQ(table.bucketIndex("\x80"), static_cast<int>(0x0FFFFF70u % 13));
  // Keys that differ only in a high byte are still told apart.
  ASSERT_TRUE(table.put("k\x80", "signed"));
  ASSERT_TRUE(table.put("k\x7f", "ascii"));
  EXPECT_STREQ(table.get("k\x80"), "signed");
  EXPECT_STREQ(table.get("k\x7f"), "ascii");
}

TEST(HalHashTable, RemovingAnyNodeOfAChainKeepsTheRest) {
  for (int removed = 0; removed < 3; removed++) {
    PtrTable table(11, false, false);
    auto keys = chainKeys(table.bucketCount(), 8);
    for (int i = 0; i < 3; i++) table.put(keys[i], value(i));
    EXPECT_TRUE(table.remove(keys[removed]));
    EXPECT_FALSE(table.remove(keys[removed]));
    EXPECT_EQ(table.count(), 2);
    for (int i = 0; i < 3; i++) EXPECT_EQ(table.get(keys[i]), i == removed ? nullptr : value(i));
    // The chain still takes new nodes and gives them back.
    EXPECT_TRUE(table.put(keys[removed], value(9)));
    EXPECT_EQ(table.get(keys[removed]), value(9));
  }
}

TEST_F(HalHashTableLog, NullKeysAreWarnedAboutAndIgnored) {
  StrTable table(11, true, false);
  table.put("a", "1");
  CapturedOutput captured;
  EXPECT_EQ(table.get(nullptr), nullptr);
  EXPECT_FALSE(table.put(nullptr, "x"));
  EXPECT_FALSE(table.remove(nullptr));
  EXPECT_EQ(table.findInBucket(nullptr, 0), nullptr);
  EXPECT_EQ(table.count(), 1);
  const std::string& out = captured.out();
  EXPECT_EQ(countOf(out, " WARNING: [HalHashTable (HalHashTable@"), 4) << out;
  int index = table.bucketIndex(nullptr);
  EXPECT_TRUE(index >= 0 && index < table.bucketCount());
}

TEST(HalHashTableConcurrency, ThreadsOnDifferentKeysWithBucketLocks) {
  FakeJvmpi fake;
  fake.install();
  {
    PtrTable table(64, false, true);  // a lock per bucket, made at once
    ASSERT_EQ(fake.monitorsCreated(), table.bucketCount());
    const int perThread = 400;
    std::vector<std::unique_ptr<int>> owners;
    for (int i = 0; i < 2 * perThread; i++) owners.emplace_back(new int(i));
    // The element count changes under the bucket lock only, so the owner
    // serialises insertions and removals; lookups run alongside.
    HalLock ownerLock;
    auto work = [&](int first) {
      for (int i = first; i < first + perThread; i++) {
        {
          HalLockGuard guard(ownerLock);
          ASSERT_TRUE(table.put(owners[i].get(), owners[i].get()));
        }
        ASSERT_EQ(table.get(owners[i].get()), owners[i].get());
      }
      for (int i = first; i < first + perThread; i += 2) {
        HalLockGuard guard(ownerLock);
        ASSERT_TRUE(table.remove(owners[i].get()));
      }
    };
    std::thread a(work, 0), b(work, perThread);
    a.join();
    b.join();
    EXPECT_EQ(table.count(), perThread);
    for (int i = 0; i < 2 * perThread; i++)
      EXPECT_EQ(table.get(owners[i].get()), i % 2 ? owners[i].get() : nullptr);
  }
  EXPECT_EQ(fake.monitorsDestroyed(), fake.monitorsCreated());
  fake.uninstall();
}
