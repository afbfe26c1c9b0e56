// The heap snapshot of the HeapUtil natives: a check that the process has
// room for the work, and the snapshot itself, which asks the profiler
// interface for a level-2 heap dump, reads it as it arrives (on this thread,
// inside the request) and makes the per-class summary text.
#pragma once

#include <memory>

#include "platform/jvmpi.h"

// The maximum heap size in megabytes from the last "-Xmx" among the given
// options: the number after it, scaled by its unit letter (k, m, g, t; none
// means bytes), rounded down; 128 when there is none or it comes to 0.
long heapMegabytesOf(int count, const char* const* options);
// The same over the process's argument copy.
long heapMegabytes();

// The bytes the environment test allocates for a maximum heap: 1677721.6 per
// megabyte, truncated.
double heapRoomFor(long megabytes);

// Tries to allocate 1.6 MiB per megabyte of the maximum heap, and frees it at
// once: 0 when that succeeded, 1 when not.
int testHeapDumpEnvironment();

// Results of takeHeapSnapshot.
constexpr int HEAP_SNAPSHOT_OK = 0;
constexpr int HEAP_SNAPSHOT_NO_MEMORY = 1;

// Runs the environment test, then requests the dump and summarises it. The
// text is null when no dump arrived or no text could be made. One snapshot
// runs at a time; a second caller waits for the first.
int takeHeapSnapshot(std::unique_ptr<char[]>* text);

// The class-information step of a dump's reader: copies a class-load event
// that arrives on the reading thread while a dump is read (the event handler
// calls it).
void copyHeapDumpClassInfo(JVMPI_Event* event);
