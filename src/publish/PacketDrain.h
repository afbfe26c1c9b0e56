// One publishing cycle's work on an event agent's thread list: for each
// thread, trim a queue over the limit (with a drop notice), take the queued
// records, serialise them into the packet through a WireCursor, put back what
// the packet has no room for, and retire the ended threads once their queues
// are empty. While the collector is unreachable the same list is trimmed
// instead. The event agent owns the list and the packet buffer; the drain
// runs on the agent's thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "base/NamedObject.h"

class DropNoticeRecord;
class ThreadData;
class WireCursor;

class PacketDrain : public NamedObject {
 public:
  // `threads` is the agent's list; `agentId` and `queueLimit` as the
  // agent's. The log lines read as the agent's own.
  PacketDrain(std::vector<ThreadData*>& threads, int agentId, int queueLimit);

  // Serialises the threads' records (or only those of `only`, one of them)
  // through `cursor` until it passes `limitAt`; the record crossing it stays
  // in the packet (the buffer's slack absorbs it). Ended threads with empty
  // queues leave the list, except `kept` (the agent's special queue).
  // Answers how many records and drop notices were written.
  uint32_t fill(WireCursor& cursor, const uint8_t* limitAt, ThreadData* only,
                const ThreadData* kept);

  // Trims a thread's queue to `threshold` records (the queue keeps class,
  // sampling-rate and drop records). With counting, the dropped records are
  // counted by kind and, when `packet` is given, a drop notice is written
  // into it (*noticeWritten tells). Answers the number destroyed.
  int trimQueue(ThreadData* data, int threshold, bool counting, WireCursor* packet,
                bool* noticeWritten);

  // One cycle's trimming while the collector cannot be reached: the live
  // threads (and `kept`) are trimmed to `threshold`, the ended ones retired
  // with all their records (each logged when `logDeleted`). Answers the
  // number of records dropped or deleted.
  long long trimForOutage(int threshold, const ThreadData* kept, bool logDeleted);

  // Takes an ended thread off the list and deletes its record and queue.
  void retire(ThreadData* data);

 private:
  // Serialises one thread's records; false once the packet is full.
  bool drainThread(ThreadData* data, WireCursor& cursor, const uint8_t* limitAt, uint32_t* count);
  void reportDropped(ThreadData* data, int dropped);
  // Writes a drop notice with the thread's id and the tally's counts into
  // the packet; false when it does not fit.
  bool writeDropNotice(ThreadData* data, DropNoticeRecord& tally, WireCursor& packet);

  std::vector<ThreadData*>& threads_;
  const int agentId_;
  const int queueLimit_;
};
