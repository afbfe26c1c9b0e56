#include "threads/MemoryMonitor.h"

MemoryMonitor* memoryMonitor = nullptr;

MemoryMonitor::MemoryMonitor() : NamedObject("MemoryMonitor") {}

MemoryMonitor::~MemoryMonitor() = default;

void MemoryMonitor::start() {}

void MemoryMonitor::stop() {}
