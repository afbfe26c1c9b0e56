// The class table: one entry per loaded class, newest first behind a
// sentinel, guarded by the class-table lock (TableLocks). Entries are linked
// with their methods in the method table.
//
// Lifetime: the table is one holder of each entry it links, each class record
// pointing at the entry another (ClassEntry.h). An unloaded entry either
// leaves both tables at once (method-level sync on) or is marked dead and
// stays until a cleanup round removes it; it is freed when its last holder
// lets go.
//
// Lock order: unload-counter lock, class-table lock, method stripe lock.
#pragma once

#include <cstdint>

#include "events/ClassEntry.h"

class MethodTable;

// A new table entry (copy flag 0, class-event state -1) named `name` (copied;
// '.' becomes '/' when `dotted`) with room for `methodCount` methods (negative
// counts give 0), each pointing back at the entry. Null when out of memory.
ClassEntry* newClassEntry(const char* name, bool dotted, int32_t methodCount);
// Stores owned copies of a method's name and signature (a null gives an
// empty field).
void setMethodNames(MethodRecord& method, const char* name, const char* signature);
// A detached copy (copy flag 1) of every field and method; null when out of
// memory.
ClassEntry* detachedCopy(const ClassEntry& entry);

class ClassTable {
 public:
  explicit ClassTable(MethodTable& methods);
  // Lets go of every entry still linked.
  ~ClassTable();
  ClassTable(const ClassTable&) = delete;
  ClassTable& operator=(const ClassTable&) = delete;

  // Inserts the entry's methods into the method table, then links the entry
  // behind the sentinel; the table becomes a holder.
  void add(ClassEntry* entry);

  // The live entry with this class id (0 finds nothing), held for the caller
  // (who lets go with releaseClassEntry); null if none.
  ClassEntry* holdById(uint32_t classId);
  // The live entry with exactly this name, held for the caller; null if none.
  ClassEntry* holdByName(const char* name);

  // The entry is unloaded: with method-level sync (threshold -1) it leaves
  // both tables now, otherwise it is marked dead and counted, and every
  // `threshold`-th counted unload runs a cleanup round.
  void unload(ClassEntry* entry);

  // An unload reported from Java: the entry is marked dead (no lookup finds
  // it from now on) and stays in the tables until retire(), called when its
  // unload record is destroyed. Not counted for a cleanup round, whose wait
  // would fall on the caller's thread. False when it was dead already.
  bool markDead(ClassEntry* entry);
  // Takes the entry out of both tables now, once lock-free method lookups in
  // progress have left (they could still be reading its records); nothing if
  // it is no longer linked. The caller holds none of the table locks.
  void retire(ClassEntry* entry);

  // Calls visit for every live entry, under the class-table lock. A dead
  // entry is skipped: its class is unloaded, and announcing it again would
  // tell the collector that it is loaded.
  void forEachLive(void (*visit)(ClassEntry* entry, void* context), void* context);

  // Sets every entry's filter from the current include/exclude lists.
  void refilter();

  // Unloads counted since the last cleanup round.
  uint32_t unloadCount() const { return unloadCounter_; }
  bool cleaning() const;

 private:
  friend struct ClassTableTestAccess;

  // Removes the entry from the method table and the class list; the caller
  // holds the class-table lock and, unless sync is on, has quiesced readers.
  void unlinkLocked(ClassEntry* entry);
  // One cleanup round: waits the cleanup interval, quiesces lock-free method
  // lookups, removes the first dead entry. Under the unload-counter lock.
  void cleanupRound();

  MethodTable& methods_;
  ClassEntry sentinel_;
  uint32_t unloadCounter_ = 0;  // under the unload-counter lock
};
