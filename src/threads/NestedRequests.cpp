#include "threads/NestedRequests.h"

#include "agent/PropertyMgr.h"

std::atomic<bool> nestedRequestSuppression{false};

void readNestedRequestSwitch() {
  nestedRequestSuppression.store(propertyIsYes("internal.disable.nestedrequests"));
}
