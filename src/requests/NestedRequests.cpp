#include "requests/NestedRequests.h"

#include "config/ProbeState.h"
#include "threads/ThreadData.h"

std::atomic<bool> nestedRequestSuppression{false};

void setNestedRequestSwitch(bool suppress) {
  nestedRequestSuppression.store(suppress);
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
