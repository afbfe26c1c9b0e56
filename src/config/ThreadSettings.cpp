#include "config/ThreadSettings.h"

#include "config/PropertyMgr.h"

int readEventQueueLimit() {
  return getIntProperty("internal.probe.event.queue.size.limit", kDefaultEventQueueLimit);
}

ThreadSettings readThreadSettings() {
  ThreadSettings settings;
  settings.eventQueueLimit = readEventQueueLimit();
  return settings;
}
