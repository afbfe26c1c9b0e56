// One entry of the class table per loaded class, with its methods. The
// sequence number identifies the class and its methods on the wire. An entry
// either lives in the class table (copy flag 0) or is owned by the class
// record that carries it (copy flag 1: the detached copy made for an unload,
// or an entry handed over by the method-level natives).
//
// Fields that other threads read without the class-table lock while the
// entry is marked dead or re-filtered are atomics with relaxed order.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class ClassEntry;

struct MethodRecord {
  std::unique_ptr<char[]> methodName;
  std::unique_ptr<char[]> methodSignature;
  // The profiler's method id; 0 once the method is dead.
  std::atomic<uint32_t> methodId{0};
  ClassEntry* classEntry = nullptr;
  // The next record in its method-table bucket; readers that take no lock
  // follow it while a class load links a new record in.
  std::atomic<MethodRecord*> next{nullptr};
};

class ClassEntry {
 public:
  ClassEntry() = default;
  ~ClassEntry() = default;  // releases the name and the method array
  ClassEntry(const ClassEntry&) = delete;
  ClassEntry& operator=(const ClassEntry&) = delete;

  // The profiler's object id of the class; 0 marks a dead entry.
  std::atomic<uint32_t> classId{0};
  // The name in slash form.
  std::unique_ptr<char[]> className;
  uint32_t sequenceNumber = 0;
  // 0 for a table entry, 1 for an entry owned by an event record.
  int copyFlag = 0;
  // 0 monitored, 1 excluded, 2 class records only.
  std::atomic<int> filter{0};
  // -1 until the class record for the class has been queued, then 0.
  std::atomic<int32_t> classEventState{-1};
  // Never negative; the number of elements of `methods`.
  int32_t methodCount = 0;
  std::unique_ptr<MethodRecord[]> methods;
  ClassEntry* next = nullptr;
  // True while the methods are linked into the method table.
  bool inMethodTable = false;
  // Set once the class is unloaded. A dead entry keeps its ids, so a class
  // record still queued for it carries the real ones; every lookup (by class
  // id, by name, by method id) skips it, and a cleanup round removes only
  // entries that have this flag. An entry registered from Java has class id 0
  // from the start and is not dead.
  std::atomic<bool> dead{false};
  // The holders of a table entry (copy flag 0): the class table while the
  // entry is linked into it, and each class record that points at it. The
  // last holder to let go frees the entry, so no cleanup round frees an entry
  // that a queued record still points at.
  std::atomic<int32_t> holders{0};
};

// Adds a holder to a table entry.
inline void holdClassEntry(ClassEntry* entry) {
  entry->holders.fetch_add(1, std::memory_order_relaxed);
}

// Lets go of a table entry; the last holder frees it.
inline void releaseClassEntry(ClassEntry* entry) {
  if (entry->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete entry;
}

// What becomes of a table entry when the record of its unload reported from
// Java is destroyed, after publishing: it leaves the class and method tables.
// The layer that owns the tables installs the function; until then, and with
// none installed, nothing happens.
void setClassEntryRetirement(void (*retire)(ClassEntry* entry));
void retireClassEntry(ClassEntry* entry);
