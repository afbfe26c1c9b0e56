// Lock and heap-allocation records, and the lock agent manager.
#include <cstring>
#include <thread>

#include "base/HalLock.h"
#include "events/AnalysisRecords.h"
#include "platform/os.h"
#include "profiler/LockAgentMgr.h"
#include "profiler/LockEvents.h"
#include "support/ThreadTestEnv.h"

namespace {

class LockAnalysis : public ThreadTestEnv {
 protected:
  JNIEnv* env = fakeEnv(0x7e0000004000);
  JNIEnv* otherEnv = fakeEnv(0x7e0000005000);
  ThreadData* data() { return threadMgr->getThreadData(env); }

  static LockEventArgs lockArgs(int kind, const char* name) {
    LockEventArgs args;
    args.kind = kind;
    args.name = name;
    args.id = 77;
    return args;
  }
};

TEST_F(LockAnalysis, RecordsOnlyInsideRequestsWithDepthRaisedByStartsAndLoweredAfterEnds) {
  EXPECT_FALSE(appendLockEvent(env, data(), lockArgs(1, "m")));  // depth 0
  data()->requestDepth() = 1;
  EXPECT_FALSE(appendLockEvent(env, data(), lockArgs(7, "m")));
  EXPECT_FALSE(appendLockEvent(env, data(), lockArgs(0, "m")));
  EXPECT_TRUE(drain(data()).empty());

  fake.setCpuTime(1234);
  EXPECT_TRUE(appendLockEvent(env, data(), lockArgs(1, "monitor")));
  EXPECT_EQ(data()->requestDepth().load(), 2);
  EXPECT_TRUE(appendLockEvent(env, data(), lockArgs(2, nullptr)));
  EXPECT_EQ(data()->requestDepth().load(), 1);
  EXPECT_TRUE(appendLockEvent(env, data(), lockArgs(5, "lock")));
  EXPECT_TRUE(appendLockEvent(env, data(), lockArgs(6, "lock")));
  auto records = drain(data());
  ASSERT_EQ(records.size(), 4u);
  const int types[] = {31, 31, 33, 33};
  for (size_t i = 0; i < 4; i++) {
    auto* r = static_cast<LockRecord*>(records[i].get());
    EXPECT_EQ(r->type, types[i]);
    EXPECT_EQ(r->subtype, static_cast<int>(i % 2));
    EXPECT_EQ(r->depth, 2);  // the start's new depth; the end's before lowering
    EXPECT_EQ(r->lockId, 77u);
    EXPECT_EQ(r->cpuTime, 1234);
    EXPECT_EQ(r->threadId, data()->getThreadId());
  }
  auto* first = static_cast<LockRecord*>(records[0].get());
  EXPECT_STREQ(first->lockName.get(), "monitor");
  EXPECT_EQ(first->nominalSize, 64 + 7);
  EXPECT_STREQ(static_cast<LockRecord*>(records[1].get())->lockName.get(), "");
}

// The CPU clock of this test waits for the wall clock's next millisecond and
// notes it: a record stamped before that reading read the wall clock first.
uint64_t wallMillis() {
  uint32_t seconds = 0, micros = 0;
  os::wallClock(&seconds, &micros);
  return uint64_t{seconds} * 1000 + micros / 1000;
}
uint64_t cpuReadAt = 0;
jlong cpuAfterATick() {
  const uint64_t start = wallMillis();
  while ((cpuReadAt = wallMillis()) == start) {
  }
  return 0;
}

// Starts and both detail records read the wall clock first, other ends the
// CPU time first.
TEST_F(LockAnalysis, StartsAndDetailRecordsReadTheWallClockFirst) {
  fake.table.GetCurrentThreadCpuTime = cpuAfterATick;
  data()->requestDepth() = 1;
  const std::pair<int, bool> kinds[] = {{1, true}, {2, false}, {3, true}, {4, true}, {6, false}};
  for (auto [kind, wallFirst] : kinds) {
    ASSERT_TRUE(appendLockEvent(env, data(), lockArgs(kind, "m")));
    auto records = drain(data());
    uint64_t wall = uint64_t{records[0]->wallSeconds} * 1000 + records[0]->wallMicros / 1000;
    EXPECT_EQ(wall < cpuReadAt, wallFirst) << "kind " << kind;
  }
}

TEST_F(LockAnalysis, DetailRecordForAnotherThreadTakesItsIdDepthAndStoredCpuTime) {
  ThreadData* other = threadMgr->getThreadData(otherEnv);
  other->requestDepth() = 1;
  data()->requestDepth() = 1;
  // The other thread's own detail record stores its CPU time.
  fake.setCpuTime(500);
  LockEventArgs own = lockArgs(3, "q");
  own.text1 = "waiting";
  EXPECT_TRUE(appendLockEvent(otherEnv, other, own));
  EXPECT_EQ(other->getLockCpuTime(), 500);

  fake.setCpuTime(900);
  LockEventArgs args = lockArgs(4, "q");
  args.flag = 3;
  args.text1 = "ab";
  args.text2 = "cde";
  args.number1 = 11;
  args.number2 = other->getThreadId();
  EXPECT_TRUE(appendLockEvent(env, data(), args));
  EXPECT_TRUE(drain(data()).empty());
  EXPECT_EQ(data()->getLockCpuTime(), 0);
  EXPECT_EQ(other->requestDepth().load(), 1);  // raised by the start, lowered by the end
  auto records = drain(other);
  ASSERT_EQ(records.size(), 2u);
  auto* end = static_cast<LockDetailRecord*>(records[1].get());
  EXPECT_EQ(end->type, 32);
  EXPECT_EQ(end->subtype, 1);
  EXPECT_EQ(end->threadId, other->getThreadId());
  EXPECT_EQ(end->cpuTime, 500);
  EXPECT_EQ(end->depth, 2);
  EXPECT_EQ(end->flag, 3);
  EXPECT_STREQ(end->text1.get(), "ab");
  EXPECT_STREQ(end->text2.get(), "cde");
  EXPECT_EQ(end->number, 11u);
  EXPECT_EQ(end->nominalSize, 80 + 5);

  // number2 naming the caller itself, or nobody known: the caller's record.
  args.kind = 3;
  args.number2 = data()->getThreadId();
  EXPECT_TRUE(appendLockEvent(env, data(), args));
  args.number2 = 0x5eed;
  EXPECT_TRUE(appendLockEvent(env, data(), args));
  records = drain(data());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1]->cpuTime, 900);
  EXPECT_EQ(static_cast<LockDetailRecord*>(records[1].get())->depth, 3);
  EXPECT_EQ(data()->getLockCpuTime(), 900);
}

// A thread making its own detail records while another makes records for
// it: the depth steps are not lost and every record is queued.
TEST_F(LockAnalysis, ConcurrencyOfDetailRecordsForAnotherThread) {
  ThreadData* other = threadMgr->getThreadData(otherEnv);
  other->requestDepth() = 1;
  data()->requestDepth() = 1;
  const uint32_t otherId = other->getThreadId();
  constexpr int kRounds = 1000;
  std::thread owner([&] {
    for (int i = 0; i < kRounds; i++) {
      appendLockEvent(otherEnv, other, lockArgs(3, "own"));
      appendLockEvent(otherEnv, other, lockArgs(4, "own"));
    }
  });
  LockEventArgs args = lockArgs(3, "for");
  args.number2 = otherId;
  int queued = 0;
  for (int i = 0; i < kRounds; i++) {
    args.kind = 3;
    queued += appendLockEvent(env, data(), args);
    args.kind = 4;
    queued += appendLockEvent(env, data(), args);
  }
  owner.join();
  EXPECT_EQ(queued, 2 * kRounds);
  EXPECT_EQ(other->requestDepth().load(), 1);
  EXPECT_EQ(drain(other).size(), 4u * kRounds);
}

TEST_F(LockAnalysis, HeapAllocationRecordsCarryTheStartsSecondNumberOnly) {
  data()->requestDepth() = 2;
  EXPECT_TRUE(appendHeapAllocationEvent(env, data(), SUBTYPE_BEGIN, 5, 6, "alloc"));
  EXPECT_TRUE(appendHeapAllocationEvent(env, data(), SUBTYPE_END, 5, 6, nullptr));
  EXPECT_EQ(data()->requestDepth().load(), 2);
  auto records = drain(data());
  ASSERT_EQ(records.size(), 2u);
  auto* start = static_cast<HeapAllocationRecord*>(records[0].get());
  auto* end = static_cast<HeapAllocationRecord*>(records[1].get());
  EXPECT_EQ(start->type, 30);
  EXPECT_EQ(start->number2 * 10 + end->number2, 60u);
  EXPECT_EQ(start->depth * 10 + end->depth, 33);
  EXPECT_STREQ(start->name.get(), "alloc");
}

TEST_F(LockAnalysis, ManagerMakesItsLocksEmptiesItsTableAndTakesTheGlobalLockAlong) {
  destroyGlobalLock();
  {
    fake.uninstall();
    LockAgentMgr early;
    EXPECT_FALSE(early.initializeAfterJVMPI());
    fake.install();
  }
  auto* mgr = new LockAgentMgr();
  int before = fake.monitorsCreated();
  mgr->start();
  EXPECT_TRUE(mgr->initialized());
  EXPECT_NE(globalLockMonitor(), nullptr);
  EXPECT_EQ(fake.monitorsCreated(), before + 3);
  for (const char* key : {"a", "b", "c"}) {
    char* copy = new char[2];
    std::strcpy(copy, key);
    mgr->table().put(copy, new HalLock());
  }
  mgr->stop();  // keys and locks are freed (the leak check sees it)
  EXPECT_EQ(mgr->table().count(), 0);
  mgr->start();
  EXPECT_EQ(fake.monitorsCreated(), before + 7);  // three table locks and the guard
  delete mgr;
  EXPECT_EQ(globalLockMonitor(), nullptr);
}

}  // namespace
