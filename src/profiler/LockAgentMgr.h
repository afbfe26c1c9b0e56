// The lock agent manager: a table of named locks (string keys, HalLock
// values; nothing in the agent inserts into it, stopping empties it), its
// guard and two further locks made once the profiler interface is held. Its
// initialisation creates the process-wide global lock that serialises the
// lazy creation of raw monitors; its destruction destroys that lock.
#pragma once

#include <memory>

#include "base/HalHashTable.h"
#include "base/HalLock.h"
#include "base/NamedObject.h"

class LockAgentMgr : public NamedObject {
 public:
  LockAgentMgr();
  ~LockAgentMgr() override;
  LockAgentMgr(const LockAgentMgr&) = delete;
  LockAgentMgr& operator=(const LockAgentMgr&) = delete;

  // Creates the global lock (when missing) and the two locks; false, with a
  // warning, while the profiler interface is not held.
  bool initializeAfterJVMPI();
  void start();
  // Removes every table entry, freeing its key and destroying its lock.
  void stop();

  // The table takes ownership of the key (new[]) and the lock (new).
  HalHashTable<const char*, HalLock*>& table() { return table_; }
  bool initialized() const { return lockA_ != nullptr; }

 private:
  void clearTable();

  HalHashTable<const char*, HalLock*> table_;
  HalLock guard_{false};
  std::unique_ptr<HalLock> lockA_;
  std::unique_ptr<HalLock> lockB_;
};

extern LockAgentMgr* lockAgentMgr;
