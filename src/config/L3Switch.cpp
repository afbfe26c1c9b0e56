#include "config/L3Switch.h"

#include "base/Log.h"
#include "config/PropertyMgr.h"

void runL3Switch() {
  if (propertyIsYes("internal.disableL3"))
    logMessage(LOG_INFO, "L3 disabled, not enabling/disabling method events");
  else
    logMessage(LOG_INFO, "L3 is handled in Java now ...");
}
