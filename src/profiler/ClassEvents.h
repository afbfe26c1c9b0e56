// The class, method and garbage-collection profiler events: they keep the
// class and method tables and queue class, method and GC records. The event
// handler calls them after its dispatch (and after the entry gate where the
// dispatch runs it); method-level natives use the record helpers.
#pragma once

#include <jni.h>

#include <cstdint>

#include "platform/jvmpi.h"

class ThreadData;

// Class load: a new table entry with the event's methods. Array classes and
// primitive type names are ignored.
void classLoadEvent(JVMPI_Event* event);
// Class unload: queues an unload record with a detached copy, then unloads
// the table entry.
void classUnloadEvent(JVMPI_Event* event);
// Method entry and exit for a thread that passed the entry gate.
void methodEntryEvent(JVMPI_Event* event, ThreadData* data);
void methodExitEvent(JVMPI_Event* event, ThreadData* data);

// Garbage collection start and finish: records on the queue that the agent
// layer designates (the first event agent's special queue).
void gcStartEvent(JVMPI_Event* event);
void gcFinishEvent(JVMPI_Event* event);
void setGcQueueSource(ThreadData* (*source)());

// Queues a method record (subtype 0 entry: wall time then CPU time; subtype
// 1 exit: CPU time then wall time). False when nothing was queued.
bool queueMethodRecord(ThreadData* data, int subtype, uint32_t methodId);

class EventRecord;
// Stamps a record with the wall clock (to the millisecond) and with the
// calling thread's CPU time (0 without the profiler interface).
void stampWall(EventRecord* record);
void stampCpu(EventRecord* record);
