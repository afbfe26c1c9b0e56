#include "threads/ThreadId.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {
constexpr uintptr_t kFourGiB = uintptr_t{1} << 32;

JNIEnv* env(uintptr_t value) {
  return reinterpret_cast<JNIEnv*>(value);
}

uint32_t low32(uintptr_t value) {
  return static_cast<uint32_t>(value);
}
}  // namespace

TEST(ThreadId, PointersFourGiBApartGetDifferentIds) {
  const uintptr_t a = 0x7f120A001000;
  const uintptr_t b = a + kFourGiB;
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

TEST(ThreadId, ManyPointersSharingTheirLowHalfStayDistinct) {
  const uintptr_t base = 0x7f130A002000;
  uint32_t ids[16];
  for (int i = 0; i < 16; i++) {
    ids[i] = threadIdOf(env(base + i * kFourGiB));
    EXPECT_NE(ids[i], 0u);
    for (int j = 0; j < i; j++) EXPECT_NE(ids[i], ids[j]);
  }
  for (int i = 0; i < 16; i++) releaseThreadId(env(base + i * kFourGiB));
}

TEST(ThreadId, IsNeverZero) {
  EXPECT_EQ(threadIdOf(nullptr), 0u);
  const uintptr_t zeroLow = 5 * kFourGiB;
  uint32_t id = threadIdOf(env(zeroLow));
  EXPECT_NE(id, 0u);
  releaseThreadId(env(zeroLow));
}

TEST(ThreadId, LookupAssignsNothingAndReleaseFreesTheId) {
  const uintptr_t a = 0x7f140A003000;
  const uintptr_t b = a + kFourGiB;
  EXPECT_EQ(lookupThreadId(env(a)), 0u);
  int before = assignedThreadIdCount();
  uint32_t idA = threadIdOf(env(a));
  EXPECT_EQ(assignedThreadIdCount(), before + 1);
  releaseThreadId(env(a));
  EXPECT_EQ(lookupThreadId(env(a)), 0u);
  EXPECT_EQ(assignedThreadIdCount(), before);
  // With a gone, b takes the value a had.
  EXPECT_EQ(threadIdOf(env(b)), idA);
  releaseThreadId(env(b));
}

TEST(ThreadId, ACachedIdIsCheckedAgainAfterARelease) {
  const uintptr_t a = 0x7f150A004000;
  const uintptr_t b = a + kFourGiB;
  uint32_t idA = threadIdOf(env(a));  // cached on this thread
  // Another thread ends a's pairing and b takes the value.
  uint32_t idB = 0;
  std::thread([&] {
    releaseThreadId(env(a));
    idB = threadIdOf(env(b));
  }).join();
  EXPECT_EQ(idB, idA);
  // This thread's cache must not hand out the value b now holds.
  uint32_t again = threadIdOf(env(a));
  EXPECT_NE(again, idB);
  releaseThreadId(env(a));
  releaseThreadId(env(b));
}
