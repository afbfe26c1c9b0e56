// What the thread layer needs of the drain side (the event agents): whether
// new threads can be taken, the hand-over of a new thread's record to one
// event agent, and the queue for records that belong to no particular thread
// (the special queue of the first event agent). The event agent manager
// implements it; agent/ installs it at start-up and removes it before the
// manager goes away.
#pragma once

class ThreadData;

class ThreadDrain {
 public:
  // True while records can be handed over: started, and the master event
  // agent's loop runs.
  virtual bool acceptsThreads() const = 0;
  // Assigns a new thread's record to one event agent; false when refused.
  virtual bool manageThreadData(ThreadData* data) = 0;
  // The special queue of the first event agent; null when it has none yet.
  virtual ThreadData* firstSpecialQueue() = 0;

 protected:
  ~ThreadDrain() = default;
};

// The installed drain, or null.
void installThreadDrain(ThreadDrain* drain);
ThreadDrain* threadDrain();
