#include "publish/EvtAgentMgr.h"

EvtAgentMgr* evtAgentMgr = nullptr;

EvtAgentMgr::EvtAgentMgr() : NamedObject("EvtAgentMgr") {}

EvtAgentMgr::~EvtAgentMgr() = default;

void EvtAgentMgr::start() { started_.store(true); }

void EvtAgentMgr::stop() { started_.store(false); }

// Until the agents exist every thread is accepted and waits in its queue.
bool EvtAgentMgr::manageThreadData(ThreadData*) { return true; }

ThreadData* EvtAgentMgr::firstSpecialQueue() { return nullptr; }
