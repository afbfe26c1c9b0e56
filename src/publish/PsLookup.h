// The lookup of the collector's (PS) address through the agent's Java side:
// the static method `initialize` of com/halden/publish/pe_lookup answers 1
// when it obtained the address, which it leaves in the static fields
// `hostName_`, `port_` and `sendBuffSize_`.
#pragma once

#include <jni.h>

#include <string>

class NamedObject;

struct PsAddress {
  std::string host;
  int port = -1;
  int sendBufferSize = -1;
};

// What the Java side answered.
enum class PsLookupAnswer {
  Found,     // the address is in the result
  NotFound,  // `initialize` did not answer 1
  Failed,    // the class, a method or a field is missing, or Java raised
};

// Asks the Java side on the calling thread; `logger` writes the messages.
// The answer of `initialize` other than 1 logs "PSLookup not successful"
// while failureCount is below 6.
bool lookupPs(JNIEnv* env, int failureCount, PsAddress* out, const NamedObject& logger);
