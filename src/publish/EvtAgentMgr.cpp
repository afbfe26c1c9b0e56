#include "publish/EvtAgentMgr.h"

EvtAgentMgr* evtAgentMgr = nullptr;

EvtAgentMgr::EvtAgentMgr() : NamedObject("EvtAgentMgr") {}

EvtAgentMgr::~EvtAgentMgr() = default;

void EvtAgentMgr::start() {}

void EvtAgentMgr::stop() {}
