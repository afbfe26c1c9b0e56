// The thread test environment plus fresh class and method tables, and
// helpers that raise profiler events through the event handler.
#pragma once

#include <string>
#include <vector>

#include "events/ClassRecord.h"
#include "events/MethodEventRecord.h"
#include "profiler/ClassEvents.h"
#include "profiler/ClassEventsTestAccess.h"
#include "profiler/ClassFilter.h"
#include "profiler/ClassTable.h"
#include "profiler/EventHandler.h"
#include "profiler/MethodLevelOptions.h"
#include "profiler/MethodLevelOptionsTestAccess.h"
#include "profiler/Tables.h"
#include "profiler/TablesTestAccess.h"
#include "support/ThreadTestEnv.h"

class ProfilerTestEnv : public ThreadTestEnv {
 protected:
  void SetUp() override {
    ThreadTestEnv::SetUp();
    setMethodLevelOptions(false, 150, 0);
    setFilterLists({}, {});
    resetNameSeparator();
    setMethodTableSize(211);
    resetClassSequence();
    createMethodAndClassTables();
  }
  void TearDown() override {
    destroyMethodAndClassTables();
    setFilterLists({}, {});
    setMethodLevelOptions(false, 150, 5000);
    ThreadTestEnv::TearDown();
  }

  struct Method {
    const char* name;
    jmethodIDp id;
  };
  // Raises a class load for `name` with the given methods (signature "()V").
  static void loadClass(JNIEnv* env, const char* name, jobjectID classId,
                        std::vector<Method> methods, bool requested = false) {
    std::vector<JVMPI_Method> list;
    for (const Method& m : methods) list.push_back({m.name, "()V", 0, 0, m.id});
    JVMPI_Event e{};
    e.event_type = JVMPI_EVENT_CLASS_LOAD | (requested ? JVMPI_REQUESTED_EVENT : 0);
    e.env_id = env;
    e.u.class_load.class_name = name;
    e.u.class_load.num_methods = static_cast<jint>(list.size());
    e.u.class_load.methods = list.data();
    e.u.class_load.class_id = classId;
    notifyEvent(&e);
  }
  static void methodEvent(JNIEnv* env, jint type, jmethodIDp id) {
    JVMPI_Event e{};
    e.event_type = type;
    e.env_id = env;
    e.u.method.method_id = id;
    notifyEvent(&e);
  }
  static void unloadClass(JNIEnv* env, jobjectID classId) {
    JVMPI_Event e{};
    e.event_type = JVMPI_EVENT_CLASS_UNLOAD;
    e.env_id = env;
    e.u.class_unload.class_id = classId;
    notifyEvent(&e);
  }
  // The names of the live entries of the class table, newest first.
  static std::vector<std::string> liveClasses() {
    std::vector<std::string> names;
    classTable()->forEachLive(
        [](ClassEntry* e, void* context) {
          static_cast<std::vector<std::string>*>(context)->push_back(e->className.get());
        },
        &names);
    return names;
  }
  // "C3:name" for a class record, "M0:id" / "M1:id" for method records.
  static std::vector<std::string> describe(ThreadData* data) {
    std::vector<std::string> out;
    for (auto& r : drain(data)) {
      if (r->type == EVENT_CLASS) {
        auto* c = static_cast<ClassRecord*>(r.get());
        out.push_back("C" + std::to_string(c->subtype) + ":" + c->classEntry->className.get());
      } else if (r->type == EVENT_METHOD) {
        auto* m = static_cast<MethodEventRecord*>(r.get());
        out.push_back("M" + std::to_string(m->subtype) + ":" + std::to_string(m->methodId));
      }
    }
    return out;
  }
};
