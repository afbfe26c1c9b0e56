#include "threads/ThreadData.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <new>

#include "base/Log.h"
#include "config/PropertyMgr.h"
#include "events/AgentRecords.h"
#include "threads/ThreadMgr.h"

namespace {
constexpr const char* kUnit = "ThreadData";
constexpr int kLimitUnread = INT_MIN;

std::atomic<int> queueLimit{kLimitUnread};
std::mutex queueLimitRead;

// Types that are queued whatever the queue length: class records, sampling
// rates and drop notices.
bool alwaysQueued(int type) {
  return type == 1 || type == 13 || type == 15;
}

bool countsAsClassBytes(int type) {
  return type == 1 || type == 3;
}

char* copyText(const char* text) {
  if (!text) return nullptr;
  size_t length = std::strlen(text) + 1;
  char* copy = new (std::nothrow) char[length];
  if (copy) std::memcpy(copy, text, length);
  return copy;
}

// Stores a copy in an empty name slot; a set name is left alone because other
// threads may be reading it.
bool setOnce(std::atomic<char*>& slot, const char* text) {
  if (!text || slot.load(std::memory_order_acquire)) return true;
  char* copy = copyText(text);
  if (!copy) return false;
  char* expected = nullptr;
  if (!slot.compare_exchange_strong(expected, copy, std::memory_order_acq_rel)) delete[] copy;
  return true;
}
}  // namespace

int eventQueueLimit() {
  int limit = queueLimit.load(std::memory_order_relaxed);
  if (limit != kLimitUnread) return limit;
  std::lock_guard<std::mutex> guard(queueLimitRead);
  limit = queueLimit.load(std::memory_order_relaxed);
  if (limit == kLimitUnread) {
    limit = getIntProperty("internal.probe.event.queue.size.limit", 5000);
    if (limit == kLimitUnread) limit++;
    queueLimit.store(limit, std::memory_order_relaxed);
  }
  return limit;
}

void resetEventQueueLimit() {
  queueLimit.store(kLimitUnread, std::memory_order_relaxed);
}

ThreadData::ThreadData(uint32_t id)
    : NamedObject("ThreadData"), evtQueue(new (std::nothrow) HalList<EventRecord*>(true)) {
  threadId.store(id, std::memory_order_relaxed);
}

ThreadData::~ThreadData() {
  if (alive.load(std::memory_order_relaxed)) {
    if (threadMgr && threadMgr->isStarted())
      logf(LOG_ERROR, kUnit, __LINE__, "Thread being deleted even before it died TID: %d",
           static_cast<int>(getThreadId()));
    clearRequestState();
  }
  alive.store(false, std::memory_order_relaxed);
  if (evtQueue) {
    while (EventRecord* event = evtQueue->removeFirst()) delete event;
    evtQueue.reset();
  }
  gateMarkerSent = false;
  bytesQueued.store(0, std::memory_order_relaxed);
  bytesTaken.store(0, std::memory_order_relaxed);
  classBytesQueued.store(0, std::memory_order_relaxed);
  classBytesTaken.store(0, std::memory_order_relaxed);
  threadId.store(0, std::memory_order_relaxed);
  delete[] threadName.exchange(nullptr);
  delete[] groupName.exchange(nullptr);
  releaseGpsToken();
}

void ThreadData::clearRequestState() {
  statementSql.reset();
  statementDataSource.reset();
  suspended.store(false, std::memory_order_relaxed);
  stopped.store(false, std::memory_order_relaxed);
  sqlDepth = 0;
  requestDepth = 0;
}

bool ThreadData::appendEvent(EventRecord* event) {
  if (!evtQueue) {
    logWarning(kUnit, __LINE__, "Append Event failed evtQueue is NULL ");
    delete event;
    return false;
  }
  if (!event) {
    logWarning(kUnit, __LINE__, "Append Event failed Evt is NULL ");
    return false;
  }
  if (!isAlive()) {
    logf(LOG_WARNING, kUnit, __LINE__,
         "Append Event Thread is dead: %d, EvtType: %d Evt SubType: %d TID: %08x", 0,
         static_cast<int>(event->type), static_cast<int>(event->subtype), getThreadId());
    delete event;
    return false;
  }
  int limit = eventQueueLimit();
  int length = evtQueue->count();
  if (length >= limit && !alwaysQueued(event->type)) {
    droppedEvents.fetch_add(1, std::memory_order_relaxed);
    delete event;
    // One notice per overflow, even when several producers overflow at once.
    if (overflowNoticeSent.exchange(true, std::memory_order_relaxed)) return false;
    // Being of type 15 the notice is appended although the queue is full. A
    // notice that cannot be allocated is skipped (the append logs it).
    appendEvent(new (std::nothrow) DropNoticeRecord(SUBTYPE_SINGLE));
    return false;
  }
  if (length < limit && overflowNoticeSent.load(std::memory_order_relaxed))
    overflowNoticeSent.store(false, std::memory_order_relaxed);
  int32_t size = event->nominalSize;
  if (countsAsClassBytes(event->type))
    classBytesQueued.fetch_add(size, std::memory_order_relaxed);
  else
    bytesQueued.fetch_add(size, std::memory_order_relaxed);
  evtQueue->append(event);
  return true;
}

void ThreadData::threadEnded() {
  uint32_t id = getThreadId();
  if (threadMgr) {
    threadMgr->addStoppedThread(id);
    if (threadMgr->removeThreadData(id)) clearRequestState();
  }
  // Release: the event agent that sees the record dead deletes it, after
  // the clearing above.
  alive.store(false, std::memory_order_release);
}

bool ThreadData::setThreadNames(const char* thread, const char* group) {
  bool ok = setOnce(threadName, thread);
  return setOnce(groupName, group) && ok;
}

void ThreadData::setStatement(const char* sql, const char* dataSource) {
  char* sqlCopy = copyText(sql ? sql : "");
  statementSql.reset(sqlCopy ? sqlCopy : copyText(""));
  statementDataSource.reset(dataSource ? copyText(dataSource) : nullptr);
}

void ThreadData::releaseGpsToken() {
  gpsToken.reset();
  gpsTokenLength = 0;
}

EventRecord* ThreadData::takeFirst() {
  return evtQueue ? evtQueue->removeFirst() : nullptr;
}

void ThreadData::putBackFront(HalList<EventRecord*>& records) {
  if (!evtQueue) return;
  // The list offers no splice: the queue's records move behind the returned
  // ones, and the whole sequence goes back, all under the queue's lock so that
  // producers append only after it. Trimming is rare (a queue over its limit).
  evtQueue->lock();
  records.lock();
  while (evtQueue->count() > 0) records.append(evtQueue->removeFirst());
  while (records.count() > 0) evtQueue->append(records.removeFirst());
  records.unlock();
  evtQueue->unlock();
}

void ThreadData::recordTaken(const EventRecord* event) {
  if (!event) return;
  int32_t size = event->nominalSize;
  if (countsAsClassBytes(event->type))
    classBytesTaken.fetch_add(size, std::memory_order_relaxed);
  else
    bytesTaken.fetch_add(size, std::memory_order_relaxed);
}

int32_t ThreadData::queuedBytes() const {
  // Wrapping arithmetic: the counters only grow and may pass 2^31 in a long
  // run; their difference stays right.
  uint32_t queued = static_cast<uint32_t>(bytesQueued.load(std::memory_order_relaxed)) +
                    static_cast<uint32_t>(classBytesQueued.load(std::memory_order_relaxed));
  uint32_t taken = static_cast<uint32_t>(bytesTaken.load(std::memory_order_relaxed)) +
                   static_cast<uint32_t>(classBytesTaken.load(std::memory_order_relaxed));
  return static_cast<int32_t>(queued - taken);
}

bool queueEvent(JNIEnv* env, ThreadData* data, EventRecord* event) {
  if (!data && threadMgr) data = threadMgr->getThreadData(env);
  if (!data) {
    logMessage(LOG_WARNING, "ThreadData creation failed, check memory..");
    delete event;
    return false;
  }
  return data->appendEvent(event);
}
