// Lock records (types 31, 32, 33) and heap-allocation records (type 30) of
// the lock and heap analysis runtime classes. Records belong inside monitored
// requests: a thread whose request depth is 0 gets none. A start raises the
// thread's request depth and carries the new value; an end carries the depth
// before it is lowered again.
#pragma once

#include <jni.h>

#include <cstdint>

class ThreadData;

// The arguments of LockAnalysisRuntime.appendEvent, strings already copied
// out of Java (null when absent or unreadable).
struct LockEventArgs {
  int kind = 0;  // 1 to 6
  const char* name = nullptr;
  uint32_t id = 0;
  uint8_t flag = 0;
  const char* text1 = nullptr;
  const char* text2 = nullptr;
  uint32_t number1 = 0;
  uint32_t number2 = 0;
};

// Builds and queues the lock record for `args.kind` for the calling thread
// (`caller`, its record, may be null). For kind 3 and 4 a nonzero number2
// that is not the caller's id names the thread the record is made for; its
// CPU time is then the one last stored by that thread's own type 32 record.
// True when a record was queued.
bool appendLockEvent(JNIEnv* env, ThreadData* caller, const LockEventArgs& args);

// Builds and queues a heap-allocation start (subtype 0) or end (1) record for
// the calling thread.
bool appendHeapAllocationEvent(JNIEnv* env, ThreadData* caller, int subtype, uint32_t id,
                               uint32_t number2, const char* name);
