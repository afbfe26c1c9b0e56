// The profiler interface the library is written against: an interface table of
// entries, one event structure with a payload per event kind, and the event
// numbers. These are our own declarations. On a current JVM the table is filled
// by the JVMTI-backed provider (JvmtiProvider.cpp); unit tests fill it with a
// test double.
#pragma once

#include <jni.h>

#include <cstdint>

// Event numbers the library enables or handles. Those fixed by the profiler
// interface keep their numbers; the rest are this layer's own.
enum : jint {
  JVMPI_EVENT_METHOD_ENTRY = 1,
  JVMPI_EVENT_METHOD_EXIT = 3,
  JVMPI_EVENT_CLASS_LOAD = 6,
  JVMPI_EVENT_CLASS_UNLOAD = 8,
  JVMPI_EVENT_THREAD_START = 33,
  JVMPI_EVENT_THREAD_END = 34,
  JVMPI_EVENT_CLASS_LOAD_HOOK = 35,
  JVMPI_EVENT_HEAP_DUMP = 37,
  JVMPI_EVENT_JVM_INIT_DONE = 46,
  JVMPI_EVENT_JVM_SHUT_DOWN = 47,
  JVMPI_EVENT_GC_START = 60,
  JVMPI_EVENT_GC_FINISH = 61,
  // Enabled once when the interface is obtained and never handled.
  JVMPI_EVENT_INTERFACE_READY = 2000,
  // A class was defined and prepared for use: the JVM accepted its bytes.
  JVMPI_EVENT_CLASS_PREPARE = 2001,
};

// Set in an event's type when the event answers a RequestEvent call.
constexpr jint JVMPI_REQUESTED_EVENT = 0x10000000;

// Answers of the interface entries.
constexpr jint JVMPI_SUCCESS = 0;
constexpr jint JVMPI_NOT_AVAILABLE = 1;
constexpr jint JVMPI_FAIL = -1;

// Interface version asked of a JVM that offers the profiler interface itself.
constexpr jint JVMPI_VERSION_1_1 = 0x10000002;

// Thread status values and bits.
constexpr jint JVMPI_THREAD_RUNNABLE = 1;
constexpr jint JVMPI_THREAD_MONITOR_WAIT = 2;
constexpr jint JVMPI_THREAD_CONDVAR_WAIT = 3;
constexpr jint JVMPI_THREAD_INTERRUPTED = 0x4000;
constexpr jint JVMPI_THREAD_SUSPENDED = 0x8000;

// Heap dump level asked by the heap snapshot.
constexpr jint JVMPI_DUMP_LEVEL_2 = 2;

// The size in a heap dump of a value of a basic type (2 object, 4 boolean,
// 5 char, 6 float, 7 double, 8 byte, 9 short, 10 int, 11 long); 0 for any
// other number.
constexpr int jvmpiBasicTypeSize(int type) {
  return type == 4 || type == 8                 ? 1
         : type == 5 || type == 9               ? 2
         : type == 2 || type == 6 || type == 10 ? 4
         : type == 7 || type == 11              ? 8
                                                : 0;
}

// Opaque handles. Object ids and method ids are 32-bit on the wire; the
// provider maps the JVM's 64-bit handles to stable 32-bit values.
typedef uint32_t jobjectID;
typedef uint32_t jmethodIDp;
struct JVMPI_RawMonitorBody;
typedef JVMPI_RawMonitorBody* JVMPI_RawMonitor;

struct JVMPI_Method {
  const char* method_name;
  const char* method_signature;
  jint start_lineno;
  jint end_lineno;
  jmethodIDp method_id;
};

struct JVMPI_Field {
  const char* field_name;
  const char* field_signature;
};

// The argument of a heap-dump request.
struct JVMPI_HeapDumpArg {
  jint heap_dump_level;
};

struct JVMPI_Event {
  jint event_type;
  JNIEnv* env_id;
  union {
    struct {
      const char* class_name;
      const char* source_name;
      jint num_interfaces;
      jint num_methods;
      JVMPI_Method* methods;
      jint num_static_fields;
      JVMPI_Field* statics;
      jint num_instance_fields;
      JVMPI_Field* instances;
      jobjectID class_id;
    } class_load;

    struct {
      jobjectID class_id;
    } class_unload;

    struct {
      unsigned char* class_data;
      jint class_data_len;
      unsigned char* new_class_data;
      jint new_class_data_len;
      void* (*malloc_f)(unsigned int);
      // Class name in slash form, or null when the JVM gave none.
      const char* class_name;
    } class_load_hook;

    struct {
      // Slash form.
      const char* class_name;
    } class_prepare;

    struct {
      jmethodIDp method_id;
    } method;

    struct {
      const char* thread_name;
      const char* group_name;
      const char* parent_name;
      jobjectID thread_id;
      JNIEnv* thread_env_id;
    } thread_start;

    struct {
      jlong used_objects;
      jlong used_object_space;
      jlong total_object_space;
    } gc_info;

    struct {
      jint dump_level;
      char* begin;
      char* end;
      jint num_traces;
      void* traces;
    } heap_dump;
  } u;
};

// The interface table. Entries that a provider cannot serve answer
// JVMPI_NOT_AVAILABLE (or 0 / null) and never crash.
struct JVMPI_Interface {
  jint version;

  void (*NotifyEvent)(JVMPI_Event* event);

  jint (*EnableEvent)(jint event_type, void* arg);
  jint (*DisableEvent)(jint event_type, void* arg);
  jint (*RequestEvent)(jint event_type, void* arg);

  JVMPI_RawMonitor (*RawMonitorCreate)(char* name);
  void (*RawMonitorEnter)(JVMPI_RawMonitor monitor);
  void (*RawMonitorExit)(JVMPI_RawMonitor monitor);
  void (*RawMonitorWait)(JVMPI_RawMonitor monitor, jlong millis);
  void (*RawMonitorNotifyAll)(JVMPI_RawMonitor monitor);
  void (*RawMonitorDestroy)(JVMPI_RawMonitor monitor);

  jlong (*GetCurrentThreadCpuTime)();

  jobjectID (*GetMethodClass)(jmethodIDp method_id);
  void (*DisableGC)();
  void (*EnableGC)();
  jobjectID (*GetThreadObject)(JNIEnv* env);
  jint (*GetThreadStatus)(JNIEnv* env);
};

// The interface in use: null until the entry code obtains it, never cleared.
// Written once at start-up before any other thread of the agent exists.
extern JVMPI_Interface* jvmpi;
