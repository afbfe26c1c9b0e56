// The thread id: a 32-bit number standing for a thread's JNIEnv pointer. It
// is the key of the thread table, the thread id of every record the thread
// makes, the "TID" of messages and the value handed to Java.
//
// On a 64-bit JVM the low 32 bits of two live threads' JNIEnv pointers can be
// equal, so the id is not simply those bits: each JNIEnv is given the low 32
// bits of its address when no other live JNIEnv holds that value and it is
// not 0, and otherwise the next free value found by stepping 8 at a time.
// The pairing lasts until releaseThreadId (at thread end), so every caller
// sees the same id for one thread and ids stay unique among live threads.
//
// A thread asking for its own id is answered from a per-thread cache without
// a lock; other look-ups go through one locked map.
#pragma once

#include <jni.h>

#include <cstdint>

// The id of the given JNIEnv, assigned on first use; 0 only for a null env.
uint32_t threadIdOf(JNIEnv* env);

// The id already assigned to the JNIEnv, or 0 when it has none (nothing is
// assigned).
uint32_t lookupThreadId(JNIEnv* env);

// The JNIEnv that holds the id, or null when none does.
JNIEnv* envOfThreadId(uint32_t id);

// Forgets the pairing of a JNIEnv whose thread has ended, so that its id may
// serve another thread later.
void releaseThreadId(JNIEnv* env);

// The number of JNIEnv pointers that currently hold an id.
int assignedThreadIdCount();
