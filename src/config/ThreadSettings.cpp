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

TextLimitSettings readTextLimitSettings() {
  auto atLeastOne = [](int value) { return value < 1 ? 1 : value; };
  TextLimitSettings settings;
  settings.urlLimit = atLeastOne(getIntProperty("internal.url.limit", kDefaultUrlLimit));
  settings.sqlLimit = atLeastOne(getIntProperty("internal.sql.limit", kDefaultSqlLimit));
  return settings;
}

MemorySettings readMemorySettings() {
  MemorySettings settings;
  settings.textLimits = readTextLimitSettings();
  settings.limitMb = getIntProperty("internal.memory.limit", settings.limitMb);
  settings.acceptThresholdMb =
      getIntProperty("internal.memory.accept.threshold", settings.acceptThresholdMb);
  settings.counterResetSec = getIntProperty("internal.counter.resettime", settings.counterResetSec);
  settings.publishingFrequencyMs =
      getIntProperty("internal.probe.publishing.frequency", settings.publishingFrequencyMs);
  return settings;
}
