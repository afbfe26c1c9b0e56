// The single profiler event callback of the library.
// Its parts: ClassEvents.h (class, method, GC events), ClassTable.h,
// MethodTable.h, Tables.h, TableLocks.h, ClassFilter.h, MethodLevelOptions.h,
// BootstrapNatives.h, LockAgentMgr.h; platform/JvmtiProvider.h feeds it.
#pragma once

#include <jni.h>

#include "platform/jvmpi.h"

void notifyEvent(JVMPI_Event* event);

// Installs notifyEvent as the interface's NotifyEvent entry unless an entry
// is already installed.
void installEventHandler();

// Where events of other subsystems go; the agent layer installs them. Until
// then the class-load hook leaves classes as they are and heap dumps are
// ignored.
// The class-prepare events go to `prepared`.
void setClassLoadHookHandler(void (*handler)(JVMPI_Event* event),
                             void (*prepared)(JVMPI_Event* event) = nullptr);
// Heap-dump bytes (begin, end) and the class loads requested during a dump.
void setHeapDumpHandlers(void (*dump)(char* begin, char* end),
                         void (*classInfo)(JVMPI_Event* event));

// The class and static method that rewrite class bytes, resolved at JVM init
// done (null until then, or when BcmBootstrap is missing).
jclass bootstrapClassRef();
jmethodID instrumentClassMethod();
bool jvmInitDone();
