#include "profiler/ClassEvents.h"
#include "profiler/ClassEventsTestAccess.h"

#include <atomic>
#include <cstring>
#include <new>

#include "base/Log.h"
#include "config/WallClock.h"
#include "events/AgentRecords.h"
#include "events/ClassRecord.h"
#include "events/MethodEventRecord.h"
#include "profiler/ClassFilter.h"
#include "profiler/ClassTable.h"
#include "profiler/MethodTable.h"
#include "profiler/Tables.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

// 0 until the first class name is seen, then '.' or '/'.
std::atomic<char> nameSeparator{0};
std::atomic<ThreadData* (*)()> gcQueueSource{nullptr};

const char* const kPrimitives[] = {"void",    "byte", "long",  "short", "char",
                                   "boolean", "int",  "float", "double"};

bool isPrimitive(const char* name) {
  for (const char* primitive : kPrimitives)
    if (std::strcmp(name, primitive) == 0) return true;
  return false;
}

bool dottedNames(const char* name) {
  char decided = nameSeparator.load(std::memory_order_relaxed);
  if (decided == 0) {
    char seen = std::strchr(name, '.') ? '.' : '/';
    nameSeparator.compare_exchange_strong(decided, seen);
    decided = nameSeparator.load(std::memory_order_relaxed);
  }
  return decided == '.';
}

bool isFinalize(const MethodRecord* record) {
  return record->methodName && std::strcmp(record->methodName.get(), "finalize") == 0;
}

// Queues the class record of an entry the first time a method of it runs.
// The caller keeps the entry alive (it holds a method lookup).
void announceClass(ThreadData* data, ClassEntry* entry) {
  int32_t unannounced = -1;
  if (entry->classEventState.load(std::memory_order_relaxed) != -1) return;
  if (!entry->classEventState.compare_exchange_strong(unannounced, 0)) return;
  auto* record = new (std::nothrow) ClassRecord(SUBTYPE_CLASS_LOAD);
  if (record) {
    record->threadId = data->getThreadId();
    record->holdEntry(entry);
    data->appendEvent(record);
  }
  logCatalogArgs(LOG_DEBUG, "PROBE_CLASS_TYPE", entry->className.get(), 0);
}

// The method's class is not in the table yet: ask for its class load, which
// arrives on this thread before RequestEvent returns.
void requestClassOf(uint32_t methodId) {
  JVMPI_Interface* table = jvmpi;
  if (!table || !table->GetMethodClass || !table->RequestEvent) return;
  if (table->DisableGC) table->DisableGC();
  jobjectID classId = table->GetMethodClass(methodId);
  if (classId != 0)
    table->RequestEvent(JVMPI_EVENT_CLASS_LOAD, reinterpret_cast<void*>(uintptr_t{classId}));
  if (table->EnableGC) table->EnableGC();
}

ThreadData* gcQueue() {
  ThreadData* (*source)() = gcQueueSource.load();
  return source ? source() : nullptr;
}

}  // namespace

void stampWall(EventRecord* r) {
  readWallClock(&r->wallSeconds, &r->wallMicros);
}

void stampCpu(EventRecord* r) {
  JVMPI_Interface* table = jvmpi;
  r->cpuTime = table && table->GetCurrentThreadCpuTime ? table->GetCurrentThreadCpuTime() : 0;
}

bool queueMethodRecord(ThreadData* data, int subtype, uint32_t methodId) {
  if (!data) return false;
  auto* record = new (std::nothrow) MethodEventRecord(subtype);
  if (!record) return false;
  record->threadId = data->getThreadId();
  record->methodId = methodId;
  if (subtype == SUBTYPE_BEGIN) {
    stampWall(record);
    stampCpu(record);
  } else {
    stampCpu(record);
    stampWall(record);
  }
  return data->appendEvent(record);
}

void classLoadEvent(JVMPI_Event* event) {
  ClassTable* table = classTable();
  const auto& load = event->u.class_load;
  const char* name = load.class_name;
  if (!table || !name || name[0] == '[' || isPrimitive(name)) return;
  logCatalogArgs(LOG_DEBUG, "PROBE_CLASS_NAME", name);
  int32_t count = load.methods ? load.num_methods : 0;
  ClassEntry* entry = newClassEntry(name, dottedNames(name), count);
  if (!entry) return;
  entry->classId.store(load.class_id);
  entry->sequenceNumber = nextClassSequence();
  entry->filter.store(classFilter(entry->className.get()));
  for (int32_t i = 0; i < entry->methodCount; i++) {
    const JVMPI_Method& from = load.methods[i];
    setMethodNames(entry->methods[i], from.method_name, from.method_signature);
    entry->methods[i].methodId.store(from.method_id);
  }
  table->add(entry);
  logCatalogArgs(LOG_DEBUG, "PROBE_CLASS_DATA", entry->className.get(), entry->sequenceNumber,
                 entry->filter.load());
}

void classUnloadEvent(JVMPI_Event* event) {
  ClassTable* table = classTable();
  if (!table) return;
  ClassEntry* entry = table->holdById(event->u.class_unload.class_id);
  if (!entry) return;
  ClassEntry* copy = detachedCopy(*entry);
  if (copy) {
    auto* record = new (std::nothrow) ClassRecord(SUBTYPE_CLASS_UNLOAD);
    if (record) {
      record->threadId = lookupThreadId(event->env_id);
      record->classEntry = copy;
      queueEvent(event->env_id, nullptr, record);
    } else {
      delete copy;
    }
  }
  table->unload(entry);
  releaseClassEntry(entry);
}

void methodEntryEvent(JVMPI_Event* event, ThreadData* data) {
  MethodTable* methods = methodTable();
  uint32_t id = event->u.method.method_id;
  if (!methods || !data || id == 0) return;
  for (int attempt = 0; attempt < 2; attempt++) {
    {
      MethodLookup lookup(*methods, id);
      MethodRecord* record = lookup.record();
      if (record) {
        ClassEntry* entry = record->classEntry;
        int filter = entry->filter.load(std::memory_order_relaxed);
        if (filter == FILTER_EXCLUDED || isFinalize(record)) return;
        announceClass(data, entry);
        if (filter == FILTER_CLASS_ONLY) return;
        queueMethodRecord(data, SUBTYPE_BEGIN, id);
        return;
      }
    }
    if (attempt == 0) requestClassOf(id);
  }
}

void methodExitEvent(JVMPI_Event* event, ThreadData* data) {
  MethodTable* methods = methodTable();
  uint32_t id = event->u.method.method_id;
  if (!methods || !data) return;
  MethodLookup lookup(*methods, id);
  MethodRecord* record = lookup.record();
  if (!record) {
    logCatalogArgs(LOG_WARNING, "PROBE_METHODID_NOT_FOUND", id);
    return;
  }
  if (record->classEntry->filter.load(std::memory_order_relaxed) != FILTER_MONITORED ||
      isFinalize(record))
    return;
  queueMethodRecord(data, SUBTYPE_END, id);
}

void setGcQueueSource(ThreadData* (*source)()) {
  gcQueueSource.store(source);
}

void gcStartEvent(JVMPI_Event* event) {
  ThreadData* queue = gcQueue();
  if (!queue) return;
  auto* record = new (std::nothrow) GcRecord(SUBTYPE_BEGIN);
  if (!record) return;
  record->threadId = lookupThreadId(event->env_id);
  stampWall(record);
  queue->appendEvent(record);
}

void gcFinishEvent(JVMPI_Event* event) {
  ThreadData* queue = gcQueue();
  if (!queue) return;
  const auto& info = event->u.gc_info;
  auto* record = new (std::nothrow) GcRecord(SUBTYPE_END);
  if (!record) return;
  record->threadId = lookupThreadId(event->env_id);
  record->usedObjects = info.used_objects;
  record->usedObjectSpace = info.used_object_space;
  record->totalObjectSpace = info.total_object_space;
  stampWall(record);
  queue->appendEvent(record);
  auto low = [](jlong v) { return static_cast<unsigned>(static_cast<uint64_t>(v)); };
  auto high = [](jlong v) { return static_cast<unsigned>(static_cast<uint64_t>(v) >> 32); };
  logCatalogArgs(LOG_DEBUG, "GC_STATS", low(info.used_objects), high(info.used_objects),
                 low(info.used_object_space), high(info.used_object_space),
                 low(info.total_object_space), high(info.total_object_space));
}

void resetNameSeparator() {
  nameSeparator.store(0);
}
