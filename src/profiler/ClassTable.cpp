#include "profiler/ClassTable.h"

#include <atomic>
#include <cstring>
#include <new>

#include "base/Log.h"
#include "platform/os.h"
#include "profiler/ClassFilter.h"
#include "profiler/MethodLevelOptions.h"
#include "profiler/MethodTable.h"
#include "profiler/TableLocks.h"

namespace {

std::atomic<bool> cleaningFlag{false};

std::unique_ptr<char[]> copyOf(const char* text) {
  if (!text) text = "";
  size_t length = std::strlen(text);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
  if (copy) std::memcpy(copy.get(), text, length + 1);
  return copy;
}

}  // namespace

ClassEntry* newClassEntry(const char* name, bool dotted, int32_t methodCount) {
  auto* entry = new (std::nothrow) ClassEntry();
  if (!entry) return nullptr;
  entry->className = copyOf(name);
  if (dotted && entry->className) {
    for (char* c = entry->className.get(); *c; c++)
      if (*c == '.') *c = '/';
  }
  if (methodCount < 0) methodCount = 0;
  if (methodCount > 0) {
    entry->methods.reset(new (std::nothrow) MethodRecord[static_cast<size_t>(methodCount)]);
    if (!entry->methods) methodCount = 0;
  }
  entry->methodCount = methodCount;
  for (int32_t i = 0; i < methodCount; i++) entry->methods[i].classEntry = entry;
  return entry;
}

void setMethodNames(MethodRecord& method, const char* name, const char* signature) {
  method.methodName = copyOf(name);
  method.methodSignature = copyOf(signature);
}

ClassEntry* detachedCopy(const ClassEntry& entry) {
  ClassEntry* copy = newClassEntry(entry.className.get(), false, entry.methodCount);
  if (!copy) return nullptr;
  copy->classId.store(entry.classId.load());
  copy->sequenceNumber = entry.sequenceNumber;
  copy->copyFlag = 1;
  copy->filter.store(entry.filter.load());
  copy->classEventState.store(entry.classEventState.load());
  for (int32_t i = 0; i < copy->methodCount; i++) {
    const MethodRecord& from = entry.methods[i];
    setMethodNames(copy->methods[i], from.methodName.get(), from.methodSignature.get());
    copy->methods[i].methodId.store(from.methodId.load());
  }
  return copy;
}

ClassTable::ClassTable(MethodTable& methods) : methods_(methods) {}

ClassTable::~ClassTable() {
  HalOsLockGuard guard(tableLocks->classTable);
  while (ClassEntry* entry = sentinel_.next) unlinkLocked(entry);
}

void ClassTable::add(ClassEntry* entry) {
  holdClassEntry(entry);
  // Each insert takes its stripe lock; then the class-table lock, not nested.
  for (int32_t i = 0; i < entry->methodCount; i++) methods_.insert(&entry->methods[i]);
  HalOsLockGuard guard(tableLocks->classTable);
  entry->next = sentinel_.next;
  sentinel_.next = entry;
  entry->inMethodTable = true;
}

ClassEntry* ClassTable::holdById(uint32_t classId) {
  if (classId == 0) return nullptr;
  HalOsLockGuard guard(tableLocks->classTable);
  for (ClassEntry* e = sentinel_.next; e; e = e->next) {
    if (!e->dead.load() && e->classId.load() == classId) {
      holdClassEntry(e);
      return e;
    }
  }
  return nullptr;
}

ClassEntry* ClassTable::holdByName(const char* name) {
  if (!name) return nullptr;
  HalOsLockGuard guard(tableLocks->classTable);
  for (ClassEntry* e = sentinel_.next; e; e = e->next) {
    if (!e->dead.load() && e->className && std::strcmp(e->className.get(), name) == 0) {
      holdClassEntry(e);
      return e;
    }
  }
  return nullptr;
}

void ClassTable::unlinkLocked(ClassEntry* entry) {
  ClassEntry* before = &sentinel_;
  while (before->next && before->next != entry) before = before->next;
  if (!before->next) return;  // not linked (already removed)
  before->next = entry->next;
  entry->next = nullptr;
  if (entry->inMethodTable) {
    for (int32_t i = 0; i < entry->methodCount; i++) methods_.remove(&entry->methods[i]);
    entry->inMethodTable = false;
  }
  releaseClassEntry(entry);
}

void ClassTable::unload(ClassEntry* entry) {
  if (!entry) return;
  if (cleanupThreshold() == -1) {
    // No deferred cleanup: the entry goes at once. A threshold of -1 may also
    // be configured with method-level sync off, so lookups are quiesced first.
    markDead(entry);
    retire(entry);
    return;
  }
  {
    HalOsLockGuard guard(tableLocks->classTable);
    if (entry->dead.exchange(true)) return;  // counted once only
  }
  HalOsLockGuard counter(tableLocks->unloadCounter);
  unloadCounter_++;
  int threshold = cleanupThreshold();
  if (threshold > 0 && unloadCounter_ >= static_cast<uint32_t>(threshold)) cleanupRound();
}

bool ClassTable::markDead(ClassEntry* entry) {
  HalOsLockGuard guard(tableLocks->classTable);
  return !entry->dead.exchange(true);
}

void ClassTable::retire(ClassEntry* entry) {
  // Readers first, then the locks: a reader never waits for this thread's
  // locks, and records are removed under the class-table lock and then the
  // stripe locks, the order every path keeps.
  beginQuiesce();
  methods_.waitForReaders();
  {
    HalOsLockGuard guard(tableLocks->classTable);
    unlinkLocked(entry);
  }
  endQuiesce();
}

void ClassTable::cleanupRound() {
  beginQuiesce();
  cleaningFlag.store(true);
  os::sleepMillis(cleanupInterval());
  // The interval gives lock-free lookups that began before the switch time to
  // finish; waiting for the reader counts makes sure of it.
  methods_.waitForReaders();
  {
    HalOsLockGuard guard(tableLocks->classTable);
    logMessage(LOG_INFO, "Cleaning up class table..");
    // One dead entry per round. Entries registered from Java have class id 0
    // but are not dead: only the dead flag counts here.
    for (ClassEntry* e = sentinel_.next; e; e = e->next) {
      if (e->dead.load()) {
        unlinkLocked(e);  // freed now, or by the last record pointing at it
        break;
      }
    }
    logMessage(LOG_INFO, "Done cleaning up class table");
    unloadCounter_ = 0;
    cleaningFlag.store(false);
    endQuiesce();
  }
}

void ClassTable::forEachLive(void (*visit)(ClassEntry*, void*), void* context) {
  HalOsLockGuard guard(tableLocks->classTable);
  for (ClassEntry* e = sentinel_.next; e; e = e->next)
    if (!e->dead.load()) visit(e, context);
}

void ClassTable::refilter() {
  HalOsLockGuard guard(tableLocks->classTable);
  for (ClassEntry* e = sentinel_.next; e; e = e->next)
    e->filter.store(classFilter(e->className.get()), std::memory_order_relaxed);
}

bool ClassTable::cleaning() const {
  return cleaningFlag.load();
}
