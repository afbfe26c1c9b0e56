// What tests reach of the collector lookup. Included by tests only (and by
// PsLookup.cpp, which defines it).
#pragma once

#include "publish/PsLookup.h"

// Replaces the Java call (tests run without a JVM); null restores it.
using PsLookupFunction = PsLookupAnswer (*)(JNIEnv* env, PsAddress* out);
void setPsLookupFunction(PsLookupFunction function);
