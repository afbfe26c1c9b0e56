#include "publish/NetworkAgentMgr.h"

NetworkAgentMgr* networkAgentMgr = nullptr;

NetworkAgentMgr::NetworkAgentMgr() : NamedObject("NetworkAgentMgr") {}

NetworkAgentMgr::~NetworkAgentMgr() = default;

void NetworkAgentMgr::start() {}

void NetworkAgentMgr::stop() {}
