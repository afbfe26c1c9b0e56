/* Natives with the signatures of the request natives that do only the work
   every implementation of the record format pays: per record the wall clock
   and the thread's CPU time in the order the records take them (wall clock
   first on a start, CPU time first on a finish), and one copy of each text
   into a stack buffer. No allocation, no queue: the floor the probe's natives
   are measured against. The CPU clock is read as cheaply as the library
   reads it (its own system call, made inline: the vDSO has no per-thread CPU
   clock), so that the floor stays the least this work costs. */
#include <jni.h>
#include <stdint.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>

/* Keeps the compiler from dropping the copies and clock reads. */
static volatile uint64_t sink;

static void wallClock(void) {
  struct timeval tv;
  gettimeofday(&tv, NULL);
  sink += (uint64_t)tv.tv_sec + (uint64_t)tv.tv_usec;
}

static inline void cpuTime(void) {
  struct timespec ts = {0, 0};
#if defined(__x86_64__)
  long result;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "0"((long)SYS_clock_gettime), "D"((long)CLOCK_THREAD_CPUTIME_ID), "S"(&ts)
                   : "rcx", "r11", "memory");
  (void)result;
#else
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
#endif
  sink += (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

/* One copy of the text's modified UTF-8 (cut to the buffer) and its zero. */
static void copyText(JNIEnv* env, jstring text) {
  char buffer[1024];
  if (!text) return;
  jsize chars = (*env)->GetStringLength(env, text);
  jsize bytes = (*env)->GetStringUTFLength(env, text);
  if (bytes >= (jsize)sizeof buffer || chars > bytes) return;
  (*env)->GetStringUTFRegion(env, text, 0, chars, buffer);
  buffer[bytes] = '\0';
  sink += (uint64_t)buffer[0];
}

JNIEXPORT void JNICALL Java_com_halden_bench_FloorNatives_startNativeHttpRequest(
    JNIEnv* env, jclass cls, jint unused, jstring requestName, jstring applicationName, jstring url,
    jstring detail) {
  (void)cls;
  (void)unused;
  wallClock();
  cpuTime();
  copyText(env, requestName);
  copyText(env, applicationName);
  copyText(env, url);
  copyText(env, detail);
}

JNIEXPORT void JNICALL Java_com_halden_bench_FloorNatives_finishNativeHttpRequest(
    JNIEnv* env, jclass cls, jstring requestName, jint unused1, jint unused2) {
  (void)cls;
  (void)unused1;
  (void)unused2;
  copyText(env, requestName);
  cpuTime();
  wallClock();
}
