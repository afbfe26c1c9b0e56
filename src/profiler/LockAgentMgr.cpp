#include "profiler/LockAgentMgr.h"

#include "base/HalLock.h"

LockAgentMgr* lockAgentMgr = nullptr;

LockAgentMgr::LockAgentMgr() : NamedObject("LockAgentMgr") {}

LockAgentMgr::~LockAgentMgr() {
  destroyGlobalLock();
}

void LockAgentMgr::start() {
  createGlobalLock();
}

void LockAgentMgr::stop() {}
