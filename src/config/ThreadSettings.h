// What the thread table reads from the property file, read once when the
// table is made and passed in.
#pragma once

constexpr int kDefaultEventQueueLimit = 5000;

struct ThreadSettings {
  // "internal.probe.event.queue.size.limit": the records one thread's queue
  // holds before appends are refused.
  int eventQueueLimit = kDefaultEventQueueLimit;
};

ThreadSettings readThreadSettings();

// The queue limit alone, for the event agents that trim to it.
int readEventQueueLimit();
