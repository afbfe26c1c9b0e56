#include "profiler/LockAgentMgr.h"

#include <new>

LockAgentMgr* lockAgentMgr = nullptr;

LockAgentMgr::LockAgentMgr() : NamedObject("LockAgentMgr"), table_(11, true, false) {}

LockAgentMgr::~LockAgentMgr() {
  clearTable();
  lockB_.reset();
  lockA_.reset();
  destroyGlobalLock();
}

bool LockAgentMgr::initializeAfterJVMPI() {
  if (!jvmpi) {
    logWarning("LockAgentMgr", 66,
               "LockAgentMgr::initializeAfterJVMPI was called before JVMPI was initialized");
    return false;
  }
  if (!globalLockMonitor()) createGlobalLock();
  if (!lockA_) lockA_.reset(new (std::nothrow) HalLock());
  if (!lockB_) lockB_.reset(new (std::nothrow) HalLock());
  return lockA_ && lockB_;
}

void LockAgentMgr::start() {
  if (!initialized()) initializeAfterJVMPI();
  logInfo("LockAgentMgr", 87, "LockAgentMgr started..");
}

void LockAgentMgr::stop() {
  guard_.lock();
  clearTable();
  guard_.unlock();
  logInfo("LockAgentMgr", 104, "LockAgentMgr stopped..");
}

void LockAgentMgr::clearTable() {
  std::unique_ptr<const char*[]> keys(table_.keys());
  for (int i = 0; keys && keys[i]; i++) {
    HalLock* lock = table_.get(keys[i]);
    table_.remove(keys[i]);
    delete lock;
    delete[] keys[i];
  }
}
