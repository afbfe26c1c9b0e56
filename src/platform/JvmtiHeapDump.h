// The heap dump of the JVMTI-backed profiler table: RequestEvent for a
// level-2 heap dump walks the heap with JVMTI heap iteration and hands the
// dump, in the byte form of a profiler level-2 dump, to the event callback as
// a requested heap-dump event on the calling thread.
//
// The dump holds one record per object: instance dumps (object id, class id,
// size, then as many bytes), object array dumps (id, element count, element
// class id, 4 bytes per element) and primitive array dumps (id, element
// count, basic type, the elements). The JVM gives no field or element values
// to a heap iteration, so those bytes are 0; object ids are numbered in
// dump order; class ids are the table's class ids (the class-load request
// for one answers with the class's name). No roots and no class dumps are
// written.
//
// The dump is built in one allocation, sized by a first walk of the heap
// with some room for objects allocated before the second walk; objects that
// no longer fit are left out.
#pragma once

#include <jni.h>
#include <jvmti.h>

#include <cstddef>
#include <cstdint>

#include "platform/jvmpi.h"

// Needs the capability to tag objects. JVMPI_SUCCESS once the event was
// delivered, JVMPI_NOT_AVAILABLE without JVMTI, the capability or memory.
jint jvmtiRequestHeapDump(jvmtiEnv* jvmti, JNIEnv* jni, void (*deliver)(JVMPI_Event*));

// The encoding of one object's record, shared by the size walk and the
// writing walk. A class tag is a class id (> 0), kObjectArrayTag, or
// kPrimitiveArrayTag + the elements' basic type; 0 for an untagged class.
constexpr jlong kObjectArrayTag = -1;
constexpr jlong kPrimitiveArrayTag = -100;
// The record's size in bytes for an object of the given class tag, size and
// array length (-1 for an object that is not an array).
size_t heapDumpRecordSize(jlong classTag, jlong size, jint length);
// Writes the record at `out` (which has heapDumpRecordSize bytes, zeroed).
void writeHeapDumpRecord(uint8_t* out, uint32_t objectId, jlong classTag, jlong size, jint length);
