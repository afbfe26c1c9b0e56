#include "profiler/MethodLevel.h"

#include <new>

#include "events/ClassRecord.h"
#include "profiler/ClassFilter.h"
#include "profiler/ClassTable.h"
#include "profiler/Tables.h"
#include "threads/ThreadData.h"

namespace {

ClassEntry* entryWithMethods(const char* name, const JavaMethods& methods,
                             const char* noSignature) {
  ClassEntry* entry = newClassEntry(name, false, methods.count);
  if (!entry) return nullptr;
  for (int32_t i = 0; i < entry->methodCount; i++) {
    const char* signature = methods.signatures[i] ? methods.signatures[i] : noSignature;
    setMethodNames(entry->methods[i], methods.names[i], signature);
    entry->methods[i].methodId.store(static_cast<uint32_t>(methods.ids[i]));
  }
  return entry;
}

// Queues a class record carrying a detached entry, which it then owns.
bool queueDetached(ThreadData* data, int subtype, ClassEntry* entry) {
  if (!entry) return false;
  entry->copyFlag = 1;
  if (!data) {
    delete entry;
    return false;
  }
  auto* record = new (std::nothrow) ClassRecord(subtype);
  if (!record) {
    delete entry;
    return false;
  }
  record->threadId = data->getThreadId();
  record->classEntry = entry;
  return data->appendEvent(record);
}

}  // namespace

void registerJavaClass(ThreadData* data, const char* name, const JavaMethods& methods) {
  ClassTable* table = classTable();
  if (!table || !name) return;
  ClassEntry* entry = entryWithMethods(name, methods, nullptr);
  if (!entry) return;
  entry->sequenceNumber = nextClassSequence();
  entry->filter.store(classFilter(entry->className.get()));
  entry->classEventState.store(0);
  // The record's hold is taken before the table links the entry, so an
  // unload racing in from another thread cannot free it under us.
  ClassRecord* record = data ? new (std::nothrow) ClassRecord(SUBTYPE_CLASS_LOAD) : nullptr;
  if (record) {
    record->threadId = data->getThreadId();
    record->holdEntry(entry);
  }
  table->add(entry);
  if (record) data->appendEvent(record);
}

bool unloadJavaClass(ThreadData* data, const char* name) {
  ClassTable* table = classTable();
  ClassEntry* entry = table ? table->holdByName(name) : nullptr;
  if (!entry) return false;
  // The entry is dead from now on, so a second unload of the same name finds
  // nothing. The record holds the entry itself, which leaves the tables when
  // the record is destroyed after publishing (without a record, at once).
  // Nothing waits here: the caller is a Java thread of the server.
  if (!table->markDead(entry)) {
    releaseClassEntry(entry);
    return false;
  }
  auto* record = data ? new (std::nothrow) ClassRecord(SUBTYPE_CLASS_UNLOAD) : nullptr;
  if (record) {
    record->threadId = data->getThreadId();
    record->holdEntry(entry);
    record->retiresEntry = true;
  } else {
    table->retire(entry);
  }
  releaseClassEntry(entry);
  return record && data->appendEvent(record);
}

bool queueJavaClassEvent(ThreadData* data, uint32_t number, const char* name,
                         const JavaMethods& methods) {
  if (!name || !data) return false;
  ClassEntry* entry = entryWithMethods(name, methods, " ");
  if (entry) {
    entry->sequenceNumber = number;
    entry->classEventState.store(0);
  }
  return queueDetached(data, SUBTYPE_CLASS_LOAD, entry);
}

bool queueJavaClassUnload(ThreadData* data, uint32_t number, const char* name, int32_t count,
                          const int32_t* ids) {
  if (!name || !data) return false;
  ClassEntry* entry = newClassEntry(name, false, count);
  if (entry) {
    entry->classId.store(number);
    entry->sequenceNumber = number;
    entry->classEventState.store(0);
    for (int32_t i = 0; i < entry->methodCount; i++)
      entry->methods[i].methodId.store(static_cast<uint32_t>(ids[i]));
  }
  return queueDetached(data, SUBTYPE_CLASS_UNLOAD, entry);
}
