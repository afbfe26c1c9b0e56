// Classes and method events reported from Java (method-level tracing): the
// work behind the natives of MethodLevelModule and BcmRuntime, on plain
// arguments. `data` is the calling thread's record (null when it has none).
#pragma once

#include <cstdint>

class ThreadData;

// The method names and signatures of a class reported from Java.
struct JavaMethods {
  int32_t count = 0;
  const int32_t* ids = nullptr;
  const char* const* names = nullptr;       // null elements allowed
  const char* const* signatures = nullptr;  // null elements allowed
};

// initializeClass: a table entry (class id 0, next sequence number, filtered
// by name) with the given methods; a class record pointing at it when the
// thread has a record.
void registerJavaClass(ThreadData* data, const char* name, const JavaMethods& methods);

// unloadClass: the live entry of that exact name is unloaded, and an unload
// record holding the entry itself is queued. False when none was found.
bool unloadJavaClass(ThreadData* data, const char* name);

// sendClassEventNative: a detached entry announced with the Java-supplied
// number; a null signature becomes " ". False when nothing was queued.
bool queueJavaClassEvent(ThreadData* data, uint32_t number, const char* name,
                         const JavaMethods& methods);

// sendClassUnloadEventNative: a detached entry of the given method ids, as
// class id and sequence number the Java-supplied number.
bool queueJavaClassUnload(ThreadData* data, uint32_t number, const char* name, int32_t count,
                          const int32_t* ids);
