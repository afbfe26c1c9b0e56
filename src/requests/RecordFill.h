// Filling the common parts of event records on the producing thread: the
// time stamps and the owned copies of texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "events/EventRecord.h"
#include "events/OwnedText.h"
#include "platform/ThreadCpuClock.h"
#include "platform/jvmpi.h"

// The wall clock, in seconds and microseconds (config/WallClock.h).
void stampWallClock(EventRecord* record);

// The calling thread's CPU time; 0 without the profiler interface. Inline,
// like the two below, so that the clock's system call is made in the frame of
// the function that makes the record: every frame older than the call returns
// after it with cold caches and predictors (platform/ThreadCpuClock.h).
inline void stampCpuTime(EventRecord* record) {
  JVMPI_Interface* table = jvmpi;
  jlong (*entry)() = table ? table->GetCurrentThreadCpuTime : nullptr;
  // The provider's own entry is called directly, which the compiler can
  // inline; any other entry (a test double) through the table.
  if (entry == &providerCurrentThreadCpuTime)
    record->cpuTime = providerCurrentThreadCpuTime();
  else
    record->cpuTime = entry ? entry() : 0;
}

// A begin record takes the wall clock first, then the CPU time; every other
// record the CPU time first, so each pair brackets the work between them.
inline void stampBegin(EventRecord* record) {
  stampWallClock(record);
  stampCpuTime(record);
}
inline void stampEnd(EventRecord* record) {
  stampCpuTime(record);
  stampWallClock(record);
}

// A whole copy of the text, or the empty text when it is null. Returns the
// copied length.
size_t copyText(OwnedText& field, const char* text);
// The bytes of `text` (not null) that a copy cut to `limit` bytes with the
// zero keeps, the zero not counted: never a part of a character.
size_t cutTextLength(const char* text, int limit);
// The same for a text of `length` bytes.
size_t cutTextLength(const char* text, size_t length, int limit);
// A copy cut to `limit` bytes with the zero, i.e. at most limit - 1 bytes (a
// limit below 1 counts as 1), moved back to the start of a character the cut
// would split; the empty text when null.
// Returns the bytes kept including the zero, or 0 for a null text.
size_t copyCutText(OwnedText& field, const char* text, int limit);

// Sets the record's accounted size: its own allocation of `objectBytes` and
// those of its texts.
void accountTexts(EventRecord* record, size_t objectBytes,
                  std::initializer_list<const OwnedText*> texts);

// A nominal size for the 16-bit field: sizes above 32767 (very long texts)
// are held at 32767 rather than wrapping to a negative count.
int16_t nominalSizeOf(size_t bytes);
