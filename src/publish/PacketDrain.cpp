#include "publish/PacketDrain.h"

#include <algorithm>
#include <cstdio>

#include "base/Log.h"
#include "events/EventRecords.h"
#include "events/ProtocolVisitor.h"
#include "events/WireCursor.h"
#include "threads/ThreadData.h"
#include "threads/ThreadMgr.h"

// Writes " EventAgentID <id>: <text>" at the given level.
#define DRAIN_LOG(level, ...)                                                     \
  do {                                                                            \
    char text_[512];                                                              \
    std::snprintf(text_, sizeof text_, __VA_ARGS__);                              \
    logf(level, "EventAgent", __LINE__, " EventAgentID %d: %s", agentId_, text_); \
  } while (0)

PacketDrain::PacketDrain(std::vector<ThreadData*>& threads, int agentId, int queueLimit)
    : NamedObject("EventAgent"), threads_(threads), agentId_(agentId), queueLimit_(queueLimit) {}

void PacketDrain::retire(ThreadData* data) {
  auto it = std::find(threads_.begin(), threads_.end(), data);
  if (it != threads_.end()) threads_.erase(it);
  if (threadMgr) threadMgr->deleteThreadData(data);
}

void PacketDrain::reportDropped(ThreadData* data, int dropped) {
  const char* name = data->getThreadName();
  DRAIN_LOG(LOG_INFO, "Events dropped %d for thread %s as they exceeded event queue limit of %d",
            dropped, name ? name : "", queueLimit_);
}

uint32_t PacketDrain::fill(WireCursor& cursor, const uint8_t* limitAt, ThreadData* only,
                           const ThreadData* kept) {
  uint32_t count = 0;
  bool full = false;
  std::vector<ThreadData*> finished;
  for (ThreadData* data : threads_) {
    if (only && data != only) continue;
    if (!data->hasQueue()) {
      DRAIN_LOG(LOG_ERROR, "Event Queue is NULL, check.. EvtQueue: NULL, TID: %d",
                static_cast<int>(data->getThreadId()));
      DRAIN_LOG(LOG_ERROR, "Prepare2send, Event Queue NULL for Thread, TID: %d",
                static_cast<int>(data->getThreadId()));
    } else {
      if (data->queueLength() > queueLimit_) {
        bool notice = false;
        int dropped = trimQueue(data, queueLimit_, true, &cursor, &notice);
        if (dropped > 0) {
          if (notice) count++;
          reportDropped(data, dropped + data->takeDroppedEvents());
        }
      }
      int refused = data->takeDroppedEvents();
      if (refused > 0) reportDropped(data, refused);
      if (!full && cursor.position() <= limitAt) full = !drainThread(data, cursor, limitAt, &count);
    }
    // An ended thread whose queue is empty (or that never got one) is done.
    if (!data->isAlive() && data->queueLength() == 0 && data != kept) finished.push_back(data);
  }
  for (ThreadData* data : finished) retire(data);
  return count;
}

// The records are taken off under one hold of the queue's lock, booked as
// taken all at once and their memory released a slab at a time; what the
// packet has no room for goes back to the front of the queue.
bool PacketDrain::drainThread(ThreadData* data, WireCursor& cursor, const uint8_t* limitAt,
                              uint32_t* count) {
  bool room = true;
  EventQueue::Taken booked;
  RecordArena::Releaser releaser;
  EventQueue::Chain taken = data->takeAll();
  while (EventRecord* r = taken.pop()) {
    WriteResult result = protocolVisitor->writeRecord(r, cursor);
    if (result == WriteResult::Written) {
      (*count)++;
    } else if (result == WriteResult::NoRoom) {
      // Larger than the slack: it cannot be sent. The collector learns of it
      // by a drop notice, as of any other drop.
      DRAIN_LOG(LOG_WARNING, "Record of type %d too large for a packet dropped, TID: %d", r->type,
                static_cast<int>(data->getThreadId()));
      DropNoticeRecord tally(SUBTYPE_SINGLE);
      tally.countDropped(*r);
      if (writeDropNotice(data, tally, cursor)) (*count)++;
    }
    booked.add(r);
    EventRecord::destroy(r, releaser);
    if (cursor.position() > limitAt) {
      room = false;
      break;
    }
  }
  data->recordTaken(booked);
  data->putBackFront(taken);
  return room;
}

bool PacketDrain::writeDropNotice(ThreadData* data, DropNoticeRecord& tally, WireCursor& packet) {
  if (!protocolVisitor) return false;
  tally.threadId = data->getThreadId();
  return protocolVisitor->writeDropNotice(tally, packet);
}

int PacketDrain::trimQueue(ThreadData* data, int threshold, bool counting, WireCursor* packet,
                           bool* noticeWritten) {
  if (noticeWritten) *noticeWritten = false;
  if (!data->hasQueue()) {
    DRAIN_LOG(LOG_ERROR, "dropRecs: Event Queue NULL for Thread, TID: %d",
              static_cast<int>(data->getThreadId()));
    return 0;
  }
  if (data->queueLength() <= threshold) return 0;
  DropNoticeRecord tally(SUBTYPE_SINGLE);
  int destroyed = data->trimQueue(threshold, counting ? &tally : nullptr);
  if (counting && packet && tally.anyCounted()) {
    bool written = writeDropNotice(data, tally, *packet);
    if (noticeWritten) *noticeWritten = written;
  }
  return destroyed;
}

long long PacketDrain::trimForOutage(int threshold, const ThreadData* kept, bool logDeleted) {
  long long total = 0;
  std::vector<ThreadData*> dead;
  for (ThreadData* data : threads_) {
    if (data == kept || data->isAlive()) {
      if (data->queueLength() > threshold)
        total += trimQueue(data, threshold, false, nullptr, nullptr);
    } else {
      dead.push_back(data);
    }
  }
  for (ThreadData* data : dead) {
    int length = data->queueLength();
    total += length;
    uint32_t tid = data->getThreadId();
    retire(data);
    if (logDeleted)
      DRAIN_LOG(LOG_INFO, "Deleted %d (all) events in dead thread TID: %d", length,
                static_cast<int>(tid));
  }
  return total;
}
