#include "config/ProducerSettings.h"

#include "config/PropertyMgr.h"

MethodLevelSettings readMethodLevelSettings() {
  MethodLevelSettings settings;
  settings.sync = propertyIsYes("internal.use.method.monitors");
  if (getProperty("internal.use.method.monitors.disable")) settings.sync = false;
  settings.cleanupThreshold = getIntProperty("method.hash.cleanup", settings.cleanupThreshold);
  settings.cleanupIntervalMs =
      getIntProperty("method.hash.cleanupinterval", settings.cleanupIntervalMs);
  return settings;
}

bool readNestedRequestSuppression() {
  return propertyIsYes("internal.disable.nestedrequests");
}
