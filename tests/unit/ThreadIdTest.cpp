#include "threads/ThreadId.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {
constexpr uint64_t kFourGiB = uint64_t{1} << 32;

JNIEnv* env(uint64_t value) {
  return reinterpret_cast<JNIEnv*>(static_cast<uintptr_t>(value));
}

uint32_t low32(uint64_t value) {
  return static_cast<uint32_t>(value);
}

// Every case pairs pointers that differ only above their low 32 bits.
class ThreadId : public ::testing::Test {
 protected:
  void SetUp() override {
    if (sizeof(void*) < 8) GTEST_SKIP() << "needs 64-bit addresses (sizeof(void*) < 8)";
  }
};
}  // namespace

TEST_F(ThreadId, PointersFourGiBApartGetDifferentIds) {
  const uint64_t a = 0x7f120A001000;
  const uint64_t b = a + kFourGiB;
  uint32_t idA = threadIdOf(env(a));
  uint32_t idB = threadIdOf(env(b));
  EXPECT_EQ(idA, low32(a)) << "a free low half is the id itself";
  EXPECT_NE(idB, 0u);
  EXPECT_NE(idA, idB);
  // The same value whoever asks and however often.
  EXPECT_EQ(threadIdOf(env(a)), idA);
  EXPECT_EQ(threadIdOf(env(b)), idB);
  EXPECT_EQ(lookupThreadId(env(b)), idB);
  uint32_t seenElsewhere = 0;
  std::thread([&] { seenElsewhere = threadIdOf(env(b)); }).join();
  EXPECT_EQ(seenElsewhere, idB);
  releaseThreadId(env(a));
  releaseThreadId(env(b));
}

TEST_F(ThreadId, ManyPointersSharingTheirLowHalfStayDistinctAndNonZero) {
  EXPECT_EQ(threadIdOf(nullptr), 0u);
  const uint64_t base = 0x7f1300000000;  // a low half of 0 cannot be the id
  uint32_t ids[16];
  for (int i = 0; i < 16; i++) {
    ids[i] = threadIdOf(env(base + i * kFourGiB));
    EXPECT_NE(ids[i], 0u);
    for (int j = 0; j < i; j++) EXPECT_NE(ids[i], ids[j]);
  }
  for (int i = 0; i < 16; i++) releaseThreadId(env(base + i * kFourGiB));
}

// An id is assigned at the first ask only. A release on another thread frees
// the value for the pointer that comes next; this thread's cached id of the
// released pointer is checked again, not handed out.
TEST_F(ThreadId, AReleasedIdIsFreedAndACachedOneIsCheckedAgain) {
  const uint64_t a = 0x7f150A004000;
  const uint64_t b = a + kFourGiB;
  EXPECT_EQ(lookupThreadId(env(a)), 0u);
  int before = assignedThreadIdCount();
  uint32_t idA = threadIdOf(env(a));  // cached on this thread
  EXPECT_EQ(assignedThreadIdCount(), before + 1);
  uint32_t idB = 0;
  std::thread([&] {
    releaseThreadId(env(a));
    EXPECT_EQ(lookupThreadId(env(a)), 0u);
    EXPECT_EQ(assignedThreadIdCount(), before);
    idB = threadIdOf(env(b));
  }).join();
  EXPECT_EQ(idB, idA);
  EXPECT_NE(threadIdOf(env(a)), idB);
  releaseThreadId(env(a));
  releaseThreadId(env(b));
}
