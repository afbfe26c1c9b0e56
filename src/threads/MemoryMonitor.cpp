#include "threads/MemoryMonitor.h"

MemoryMonitor* memoryMonitor = nullptr;
std::atomic<bool> memoryGateClosed{false};

MemoryMonitor::MemoryMonitor() : NamedObject("MemoryMonitor") {}

MemoryMonitor::~MemoryMonitor() = default;

void MemoryMonitor::start() {}

void MemoryMonitor::stop() {}
