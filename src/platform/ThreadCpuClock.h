// The calling thread's CPU clock, read in place by the request path.
//
// Every request record reads this clock, and on Linux that read is a system
// call: the vDSO serves no per-thread CPU clock and passes the call on. On a
// kernel that isolates its page tables (and more so in a virtual machine) the
// return from the call finds the caches, TLB and return predictions cold, so
// each frame that returns after the call costs tens of nanoseconds. Making the
// call inline in the caller spares the two frames of libc's clock_gettime and
// the vDSO, and the provider's entry for GetCurrentThreadCpuTime is this same
// inline function, so a caller that finds it in the interface table may call
// it directly (see stampCpuTime).
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>

#if defined(__linux__) && defined(__x86_64__)
#include <sys/syscall.h>
#include <time.h>
#endif

#include "platform/os.h"

namespace os {

// The calling thread's CPU time in nanoseconds; 0 if the system cannot tell.
inline int64_t threadCpuNanosInPlace() {
#if defined(__linux__) && defined(__x86_64__)
  struct timespec ts = {0, 0};
  long result;
  // The kernel's system call convention: number in rax, arguments in rdi and
  // rsi; rcx and r11 are overwritten; the answer comes back in rax.
  asm volatile("syscall"
               : "=a"(result)
               : "0"(static_cast<long>(SYS_clock_gettime)),
                 "D"(static_cast<long>(CLOCK_THREAD_CPUTIME_ID)), "S"(&ts)
               : "rcx", "r11", "memory");
  if (result != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
#else
  return threadCpuNanos();
#endif
}

}  // namespace os

// Whether the JVM granted the provider the thread CPU time capability; set
// and cleared by JvmtiProvider.cpp only.
extern std::atomic<bool> providerHasThreadCpuTime;

// The answer before the capability is known: obtains JVMTI first when the
// library was started before the JVM handed it out (JvmtiProvider.cpp).
jlong providerThreadCpuTimeBeforeGrant();

// The provider's GetCurrentThreadCpuTime: the clock the JVM reads for the
// same figure, read directly, which spares the JVMTI call's entry checks and
// thread-state transitions. The JVM's grant of the capability still decides
// whether the figure is offered at all; 0 when not.
inline jlong providerCurrentThreadCpuTime() {
  if (!providerHasThreadCpuTime.load(std::memory_order_relaxed))
    return providerThreadCpuTimeBeforeGrant();
  return static_cast<jlong>(os::threadCpuNanosInPlace());
}
