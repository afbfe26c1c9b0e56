#include "requests/NestedRequests.h"

#include "config/ProbeState.h"
#include "config/PropertyMgr.h"
#include "threads/ThreadData.h"

std::atomic<bool> nestedRequestSuppression{false};

void readNestedRequestSwitch() {
  nestedRequestSuppression.store(propertyIsYes("internal.disable.nestedrequests"));
}

bool nestedSuppressionInForce() {
  return nestedRequestSuppression.load(std::memory_order_relaxed) &&
         reportedModLevel.load(std::memory_order_relaxed) == 1;
}

bool swallowNestedBegin(ThreadData* data) {
  if (data->requestDepth() >= 1 && nestedSuppressionInForce()) {
    data->own().suppressedNested++;
    return true;
  }
  return false;
}

bool swallowNestedEnd(ThreadData* data) {
  if (data->own().suppressedNested > 0 && nestedSuppressionInForce()) {
    data->own().suppressedNested--;
    return true;
  }
  return false;
}
