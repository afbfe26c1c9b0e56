// The profiler event handler over the class and method tables.
#include <cstdio>

#include "profiler/ClassTableTestAccess.h"
#include "profiler/MethodLevel.h"
#include "profiler/MethodLevelNatives.h"
#include "profiler/MethodLevelOptionsTestAccess.h"
#include "support/ProfilerTestEnv.h"
#include "support/TestSupport.h"

namespace {

class ProfilerEvents : public ProfilerTestEnv {
 protected:
  JNIEnv* env = fakeEnv(0x7e0000002000);
  ThreadData* data() { return threadMgr->getThreadData(env); }
};

using Strings = std::vector<std::string>;

TEST_F(ProfilerEvents, ArraysAndPrimitivesStayOutAndDottedNamesGetSlashes) {
  loadClass(env, "[Ljava.lang.String;", 1, {});
  loadClass(env, "int", 2, {});
  loadClass(env, "a.b.First", 3, {{"run", 8}});
  loadClass(env, "a.b.Second", 4, {});
  EXPECT_EQ(liveClasses(), (Strings{"a/b/Second", "a/b/First"}));
  ClassEntry* first = classTable()->holdById(3);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->sequenceNumber, 1u);
  releaseClassEntry(first);
}

TEST_F(ProfilerEvents, FilterFollowsIncludeExcludeAndAgentPackage) {
  setFilterLists({"com/acme/*"}, {"com/acme/*", "org/*"});
  EXPECT_EQ(classFilter("com/acme/Shop"), FILTER_MONITORED);  // in both lists
  EXPECT_EQ(classFilter("org/x/Y"), FILTER_EXCLUDED);
  EXPECT_EQ(classFilter("net/Z"), FILTER_MONITORED);
  EXPECT_EQ(classFilter("com/halden/Agent"), FILTER_EXCLUDED);
  EXPECT_EQ(classFilter("com/qel/qs/runtime/Server"), FILTER_CLASS_ONLY);
  setFilterLists({}, {"*"});  // one character: matches every name
  EXPECT_EQ(classFilter("net/Z"), FILTER_EXCLUDED);
  setFilterLists({}, {""});  // empty: matches no non-empty name
  EXPECT_EQ(classFilter("net/Z"), FILTER_MONITORED);
  setFilterLists({"com/halden/*"}, {});
  EXPECT_EQ(classFilter("com/halden/Agent"), FILTER_EXCLUDED);

  // New lists re-filter the classes already loaded.
  loadClass(env, "org/x/Y", 5, {{"m", 16}});
  setFilterLists({}, {"org/*"});
  classTable()->refilter();
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 16);
  EXPECT_TRUE(describe(data()).empty());
}

TEST_F(ProfilerEvents, FirstEntryAnnouncesTheClassOnceAndFilterTwoGetsNoMethodRecords) {
  loadClass(env, "app/Shop", 7, {{"buy", 8}, {"finalize", 16}});
  loadClass(env, "com/qel/qs/runtime/Server", 9, {{"serve", 24}});
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 8);
  methodEvent(env, JVMPI_EVENT_METHOD_EXIT, 8);
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 8);
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 16);  // finalize
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 24);
  methodEvent(env, JVMPI_EVENT_METHOD_EXIT, 24);
  EXPECT_EQ(describe(data()),
            (Strings{"C3:app/Shop", "M0:8", "M1:8", "M0:8", "C3:com/qel/qs/runtime/Server"}));
}

// The unknown method's class is asked for at entry; the requested load arrives
// on the calling thread before RequestEvent returns.
TEST_F(ProfilerEvents, UnknownMethodAtEntryRequestsItsClass) {
  static JNIEnv* requestEnv;
  requestEnv = env;
  fake.table.GetMethodClass = [](jmethodIDp id) -> jobjectID { return id == 40 ? 77 : 0; };
  fake.table.RequestEvent = [](jint type, void* arg) -> jint {
    if (type == JVMPI_EVENT_CLASS_LOAD && reinterpret_cast<uintptr_t>(arg) == 77)
      loadClass(requestEnv, "late/Comer", 77, {{"go", 40}}, true);
    return JVMPI_SUCCESS;
  };
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 40);
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 48);  // no class: nothing
  TempDir dir;
  dir.write("LogMessages", "PROBE_METHODID_NOT_FOUND=Method id not found: %u\n");
  std::FILE* catalogue = std::fopen(dir.at("LogMessages").c_str(), "r");
  ASSERT_NE(catalogue, nullptr);
  loadCatalog(catalogue);
  std::fclose(catalogue);
  CapturedOutput warned;
  methodEvent(env, JVMPI_EVENT_METHOD_EXIT, 1234);  // unknown at exit: logged only
  warned.finish();
  loadCatalog(nullptr);
  EXPECT_CONTAINS(warned.out() + warned.err(), "Method id not found: 1234");
  EXPECT_EQ(describe(data()), (Strings{"C3:late/Comer", "M0:40"}));
}

TEST_F(ProfilerEvents, TheThresholdthDeferredUnloadRemovesOneDeadEntry) {
  for (jobjectID id = 1; id <= 150; id++) {
    std::string name = "gen/C" + std::to_string(id);
    loadClass(env, name.c_str(), id, {{"m", id * 8}});
  }
  for (jobjectID id = 1; id < 150; id++) unloadClass(env, id);
  EXPECT_EQ(classTable()->unloadCount(), 149u);
  EXPECT_EQ(liveClasses().size(), 1u);
  // Dead entries are found no more.
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 8);
  auto queued = describe(data());
  EXPECT_EQ(queued.size(), 149u);  // the unload records only
  EXPECT_EQ(queued.front(), "C4:gen/C1");

  CapturedOutput quiet;
  unloadClass(env, 150);
  EXPECT_EQ(classTable()->unloadCount(), 0u);
  EXPECT_FALSE(methodLevelSync());
}

// A queued class record keeps its entry alive through unload and cleanup, and
// still carries the real ids; a dead entry is not resent.
TEST_F(ProfilerEvents, QueuedClassRecordOutlivesUnloadAndCleanup) {
  setMethodLevelOptions(false, 1, 0);
  loadClass(env, "app/Gone", 5, {{"m", 64}});
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 64);
  EXPECT_EQ(liveClasses(), (Strings{"app/Gone"}));
  unloadClass(env, 5);  // threshold 1: cleanup runs now
  EXPECT_TRUE(liveClasses().empty());
  auto records = drain(data());
  ASSERT_EQ(records.size(), 3u);
  auto* load = static_cast<ClassRecord*>(records[0].get());
  ASSERT_EQ(load->subtype, SUBTYPE_CLASS_LOAD);
  EXPECT_STREQ(load->classEntry->className.get(), "app/Gone");
  EXPECT_EQ(load->classEntry->methods[0].methodId.load(), 64u);
  auto* unload = static_cast<ClassRecord*>(records[2].get());
  EXPECT_EQ(unload->subtype, SUBTYPE_CLASS_UNLOAD);
  EXPECT_EQ(unload->classEntry->classId.load(), 5u);
  records.clear();  // the last holder frees the entry (checked by ASan)
}

TEST_F(ProfilerEvents, SynchronisedUnloadRemovesAtOnce) {
  setMethodLevelOptions(true, 150, 0);
  loadClass(env, "app/A", 5, {{"m", 64}});
  loadClass(env, "app/B", 6, {{"m", 72}});
  unloadClass(env, 5);
  EXPECT_EQ(liveClasses(), (Strings{"app/B"}));
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 72);
  methodEvent(env, JVMPI_EVENT_METHOD_ENTRY, 64);
  EXPECT_EQ(describe(data()), (Strings{"C4:app/A", "C3:app/B", "M0:72"}));
}

// Classes from Java: registered entries have class id 0 but are not dead, so
// a cleanup round never takes them; an unloaded name is found no more.
TEST_F(ProfilerEvents, JavaRegisteredClassesAndTheirUnload) {
  setMethodLevelOptions(false, 1, 0);
  const int32_t ids[] = {11, 12};
  const char* names[] = {"a", "b"};
  const char* sigs[] = {"()V", nullptr};
  registerJavaClass(data(), "java/Reg", {2, ids, names, sigs});
  loadClass(env, "app/Gone", 5, {});
  unloadClass(env, 5);  // cleanup round: removes app/Gone only
  EXPECT_EQ(liveClasses(), (Strings{"java/Reg"}));
  EXPECT_FALSE(unloadJavaClass(data(), "never/Seen"));
  EXPECT_TRUE(unloadJavaClass(data(), "java/Reg"));
  EXPECT_FALSE(unloadJavaClass(data(), "java/Reg"));
  EXPECT_EQ(describe(data()), (Strings{"C3:java/Reg", "C4:app/Gone", "C4:java/Reg"}));

  EXPECT_TRUE(queueJavaClassEvent(data(), 9, "java/Sent", {2, ids, names, sigs}));
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  const ClassEntry* sent = static_cast<ClassRecord*>(records[0].get())->classEntry;
  EXPECT_EQ(sent->sequenceNumber, 9u);
  EXPECT_STREQ(sent->methods[1].methodSignature.get(), " ");
}

// An unload reported from Java waits for nothing on the caller's thread: it
// is not counted towards a cleanup round (which would wait its interval), and
// its entry leaves the tables when the unload record is destroyed.
TEST_F(ProfilerEvents, JavaUnloadNeverWaitsAndLeavesTheTablesWithItsRecord) {
  setMethodLevelOptions(false, 3, 60000);
  const int32_t ids[] = {11};
  const char* names[] = {"a"};
  const char* sigs[] = {"()V"};
  registerJavaClass(data(), "java/Reg", {1, ids, names, sigs});
  EXPECT_TRUE(unloadJavaClass(data(), "java/Reg"));
  EXPECT_EQ(classTable()->unloadCount(), 0u);
  EXPECT_EQ(ClassTableTestAccess::linkedEntries(*classTable()), 1);
  EXPECT_EQ(describe(data()), (Strings{"C3:java/Reg", "C4:java/Reg"}));  // destroys them
  EXPECT_EQ(ClassTableTestAccess::linkedEntries(*classTable()), 0);

  // Without a thread record there is no unload record: it leaves at once.
  registerJavaClass(nullptr, "java/Two", {1, ids, names, sigs});
  EXPECT_FALSE(unloadJavaClass(nullptr, "java/Two"));
  EXPECT_EQ(classTable()->unloadCount(), 0u);
  EXPECT_EQ(ClassTableTestAccess::linkedEntries(*classTable()), 0);
}

TEST_F(ProfilerEvents, MethodNativesPassTheGateAndCarryTheIdAsGiven) {
  EXPECT_TRUE(Java_com_halden_probe_l3trace_BcmRuntime_appendL3Event(env, nullptr, 1, 42));
  Java_com_halden_command_MethodLevelModule_beforeMethod(env, nullptr, 7);
  probeDisabled.store(true);
  EXPECT_FALSE(Java_com_halden_probe_l3trace_BcmRuntime_appendL3Event(env, nullptr, 0, 43));
  EXPECT_EQ(describe(data()), (Strings{"M1:42", "M0:7"}));
}

}  // namespace
