// The nested-request switch: when on and the monitoring level is 1, a request
// started inside another one on the same thread is not recorded, so that only
// the outermost request of a thread produces records.
#pragma once

#include <atomic>

extern std::atomic<bool> nestedRequestSuppression;

// Sets the switch, read at start-up by readNestedRequestSuppression
// (config/ProducerSettings.h).
void setNestedRequestSwitch(bool suppress);

// True while the switch is on and the monitoring level is 1.
bool nestedSuppressionInForce();

class ThreadData;
// A begin inside an open request (requestDepth 1 or more) while suppression
// is in force: counted in suppressedNested and to be swallowed (true).
bool swallowNestedBegin(ThreadData* data);
// An end while suppression is in force and suppressedNested is above 0: the
// count is lowered and the end is to be swallowed (true).
bool swallowNestedEnd(ThreadData* data);
