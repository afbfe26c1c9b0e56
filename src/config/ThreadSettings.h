// What the threads layer reads from the property file, with its defaults and
// bounds: the thread table's queue limit (read when the table is made), and
// the memory monitor's limits and the text limits (read when the monitor
// starts). Each is read once and passed in.
#pragma once

constexpr int kDefaultEventQueueLimit = 5000;
constexpr int kDefaultUrlLimit = 1000;
constexpr int kDefaultSqlLimit = 5000;

struct ThreadSettings {
  // "internal.probe.event.queue.size.limit": the records one thread's queue
  // holds before appends are refused.
  int eventQueueLimit = kDefaultEventQueueLimit;
};

ThreadSettings readThreadSettings();

// The queue limit alone, for the event agents that trim to it.
int readEventQueueLimit();

// The text limits of the request natives, in bytes, the terminating zero
// included.
struct TextLimitSettings {
  // "internal.url.limit" and "internal.sql.limit"; a limit below 1 is
  // taken as 1, so that every copied text keeps its zero.
  int urlLimit = kDefaultUrlLimit;
  int sqlLimit = kDefaultSqlLimit;
};
TextLimitSettings readTextLimitSettings();

struct MemorySettings {
  // "internal.memory.limit" in MB (60); the monitor raises a limit at or
  // below its minimum to the minimum.
  int limitMb = 60;
  // "internal.memory.accept.threshold" in MB (2); the monitor lowers one
  // beyond the room above the minimum.
  int acceptThresholdMb = 2;
  // "internal.counter.resettime" in seconds (3600).
  int counterResetSec = 3600;
  // "internal.probe.publishing.frequency" as given (2000), unlike
  // publishingFrequencyMs: the monitor counts its whole seconds.
  int publishingFrequencyMs = 2000;
  TextLimitSettings textLimits;
};
MemorySettings readMemorySettings();
