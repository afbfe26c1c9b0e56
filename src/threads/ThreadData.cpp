#include "threads/ThreadData.h"

#include <cstring>
#include <new>

#include "base/Log.h"

namespace {
constexpr const char* kUnit = "ThreadData";

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

ThreadData::ThreadData(uint32_t id, std::unique_ptr<EventQueue> queue)
    : NamedObject("ThreadData"), queue_(std::move(queue)) {
  threadId_.store(id, std::memory_order_relaxed);
}

ThreadData::~ThreadData() {
  if (alive_.load(std::memory_order_relaxed)) clearRequestState();
  alive_.store(false, std::memory_order_relaxed);
  queue_.reset();
  own_.gateMarkerSent = false;
  threadId_.store(0, std::memory_order_relaxed);
  delete[] threadName_.exchange(nullptr);
  delete[] groupName_.exchange(nullptr);
  releaseGpsToken();
}

void ThreadData::clearRequestState() {
  own_.statementSql.reset();
  own_.statementDataSource.reset();
  suspended_.store(false, std::memory_order_relaxed);
  stopped_.store(false, std::memory_order_relaxed);
  own_.sqlDepth = 0;
  requestDepth_ = 0;
}

bool ThreadData::appendEvent(EventRecord* event) {
  if (!queue_) {
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
  return queue_->append(event);
}

void ThreadData::markEnded(bool leftTable) {
  if (leftTable) clearRequestState();
  // Release: the event agent that sees the record dead deletes it, after
  // the clearing above.
  alive_.store(false, std::memory_order_release);
}

bool ThreadData::setThreadNames(const char* thread, const char* group) {
  bool ok = setOnce(threadName_, thread);
  return setOnce(groupName_, group) && ok;
}

void ThreadData::setStatement(const char* sql, const char* dataSource) {
  char* sqlCopy = copyText(sql ? sql : "");
  own_.statementSql.reset(sqlCopy ? sqlCopy : copyText(""));
  own_.statementDataSource.reset(dataSource ? copyText(dataSource) : nullptr);
}

void ThreadData::releaseGpsToken() {
  own_.gpsToken.reset();
  own_.gpsTokenLength = 0;
}
