#include "threads/ThreadMgr.h"

ThreadMgr* threadMgr = nullptr;

ThreadMgr::ThreadMgr() : NamedObject("ThreadMgr") {}

ThreadMgr::~ThreadMgr() = default;

void ThreadMgr::start() {}

void ThreadMgr::stop() {}
