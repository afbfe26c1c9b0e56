#include "platform/JvmtiProvider.h"
#include "platform/JvmtiProviderTestAccess.h"

#include <gtest/gtest.h>
#include <jvmti.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/LocalMonitor.h"
#include "platform/os.h"

namespace {

// A JVM and its JVMTI environment, as far as the provider uses them. The
// answers of GetEnv, the phase, the capabilities offered and the thread facts
// are set by the tests; event modes, allocations and deleted references are
// recorded. Raw monitors are our own monitors behind the JVMTI handle.
constexpr jvmtiError OK = JVMTI_ERROR_NONE;

struct FakeJvm {
  jvmtiInterface_1_ fn{};
  jvmtiEnv jvmti{&fn};
  JNIInvokeInterface_ invoke{};
  JavaVM vm{&invoke};
  JNINativeInterface_ jniFn{};
  JNIEnv jni{&jniFn};

  jint jvmtiAnswer = JNI_OK, jniAnswer = JNI_OK;
  jvmtiPhase phase = JVMTI_PHASE_LIVE;
  bool offerGc = true, offerCpuTime = true;
  std::atomic<int> getEnvCalls{0}, spuriousWakeups{0};  // early returns of RawMonitorWait
  int deletedRefs = 0, threadInfoCalls = 0;
  jvmtiEventCallbacks callbacks{};
  jvmtiCapabilities added{};
  std::map<jvmtiEvent, jvmtiEventMode> modes;
  std::set<unsigned char*> allocated;

  static FakeJvm* current;
  static FakeJvm& self() { return *current; }
  static LocalMonitor* mon(jrawMonitorID id) { return reinterpret_cast<LocalMonitor*>(id); }
  static jvmtiError owned(bool ok) { return ok ? JVMTI_ERROR_NONE : JVMTI_ERROR_NOT_MONITOR_OWNER; }
  static jvmtiError JNICALL setMode(jvmtiEnv*, jvmtiEventMode m, jvmtiEvent e, jthread, ...) {
    return self().modes[e] = m, OK;
  }
  static char* copy(jvmtiEnv* env, const char* text) {
    unsigned char* mem = nullptr;
    env->Allocate(static_cast<jlong>(std::strlen(text) + 1), &mem);
    std::memcpy(mem, text, std::strlen(text) + 1);
    return reinterpret_cast<char*>(mem);
  }

  FakeJvm() {
    current = this;
    invoke.GetEnv = [](JavaVM*, void** penv, jint version) JNICALL -> jint {
      FakeJvm& f = self();
      f.getEnvCalls++;
      bool ti = version == JVMTI_VERSION_1_2;
      jint answer = ti ? f.jvmtiAnswer : f.jniAnswer;
      *penv = answer != JNI_OK ? nullptr : ti ? static_cast<void*>(&f.jvmti) : &f.jni;
      return answer;
    };
    jniFn.DeleteLocalRef = [](JNIEnv*, jobject ref)
                               JNICALL { self().deletedRefs += ref != nullptr; };
    fn.GetPotentialCapabilities = [](jvmtiEnv*, jvmtiCapabilities* c) JNICALL {
      *c = jvmtiCapabilities{};
      c->can_generate_all_class_hook_events = 1;
      c->can_get_current_thread_cpu_time = self().offerCpuTime;
      c->can_generate_garbage_collection_events = self().offerGc;
      return OK;
    };
    fn.AddCapabilities = [](jvmtiEnv*, const jvmtiCapabilities* c)
                             JNICALL { return self().added = *c, OK; };
    fn.GetCapabilities = [](jvmtiEnv*, jvmtiCapabilities* c)
                             JNICALL { return *c = self().added, OK; };
    fn.SetEventCallbacks = [](jvmtiEnv*, const jvmtiEventCallbacks* c, jint)
                               JNICALL { return self().callbacks = *c, OK; };
    fn.SetEventNotificationMode = &setMode;
    fn.GetPhase = [](jvmtiEnv*, jvmtiPhase* p) JNICALL { return *p = self().phase, OK; };
    fn.DisposeEnvironment = [](jvmtiEnv*) JNICALL { return OK; };
    fn.Allocate = [](jvmtiEnv*, jlong size, unsigned char** mem) JNICALL {
      *mem = static_cast<unsigned char*>(std::malloc(size > 0 ? size : 1));
      return self().allocated.insert(*mem), OK;
    };
    fn.Deallocate = [](jvmtiEnv*, unsigned char* mem) JNICALL {
      if (self().allocated.erase(mem) == 0) ADD_FAILURE() << "deallocated foreign memory";
      return std::free(mem), OK;
    };
    fn.CreateRawMonitor = [](jvmtiEnv*, const char*, jrawMonitorID* id) JNICALL {
      return *id = reinterpret_cast<jrawMonitorID>(new LocalMonitor()), OK;
    };
    fn.DestroyRawMonitor = [](jvmtiEnv*, jrawMonitorID id) JNICALL { return delete mon(id), OK; };
    fn.RawMonitorEnter = [](jvmtiEnv*, jrawMonitorID id) JNICALL { return mon(id)->enter(), OK; };
    fn.RawMonitorExit = [](jvmtiEnv*, jrawMonitorID id) JNICALL { return owned(mon(id)->exit()); };
    fn.RawMonitorNotifyAll = [](jvmtiEnv*, jrawMonitorID id)
                                 JNICALL { return owned(mon(id)->notifyAll()); };
    // The wait returns early, at once, as often as spuriousWakeups says;
    // every other early return looks like an interrupt of the thread.
    fn.RawMonitorWait = [](jvmtiEnv*, jrawMonitorID id, jlong millis) JNICALL {
      if (self().spuriousWakeups.fetch_sub(1) <= 0) {
        self().spuriousWakeups++;
        return owned(mon(id)->wait(millis));
      }
      static std::atomic<int> count{0};
      return count++ % 2 ? JVMTI_ERROR_INTERRUPT : JVMTI_ERROR_NONE;
    };
    fn.GetThreadInfo = [](jvmtiEnv* env, jthread, jvmtiThreadInfo* info) JNICALL {
      self().threadInfoCalls++;
      *info = jvmtiThreadInfo{};
      info->name = copy(env, "worker-1");
      info->thread_group = reinterpret_cast<jthreadGroup>(0x10);
      info->context_class_loader = reinterpret_cast<jobject>(0x20);
      return OK;
    };
    fn.GetThreadGroupInfo = [](jvmtiEnv* env, jthreadGroup group, jvmtiThreadGroupInfo* info)
                                JNICALL {
                                  bool main = group == reinterpret_cast<jthreadGroup>(0x10);
                                  *info = jvmtiThreadGroupInfo{};
                                  info->name = copy(env, main ? "main" : "system");
                                  if (main) info->parent = reinterpret_cast<jthreadGroup>(0x30);
                                  return OK;
                                };
  }

  ~FakeJvm() { jvmtiProviderReset(), current = nullptr; }

  jvmtiEventMode mode(jvmtiEvent event) {
    auto it = modes.find(event);
    return it == modes.end() ? JVMTI_DISABLE : it->second;
  }
};

FakeJvm* FakeJvm::current = nullptr;

// The events the table delivered, copied while they were being delivered.
struct Delivered {
  jint type;
  JNIEnv* env;
  std::string names;  // thread/group/parent
  JNIEnv* threadEnv;
  jlong counters;
};
std::vector<Delivered> delivered;
// What the class-load hook handler does with the bytes it is given.
void (*hookHandler)(JVMPI_Event*) = nullptr;

void recordEvent(JVMPI_Event* e) {
  Delivered d{e->event_type, e->env_id, "", nullptr, 0};
  if (e->event_type == JVMPI_EVENT_THREAD_START) {
    auto& t = e->u.thread_start;
    for (const char* name : {t.thread_name, t.group_name, t.parent_name})
      d.names += std::string(d.names.empty() ? "" : "/") + (name ? name : "<null>");
    d.threadEnv = t.thread_env_id;
  }
  if (e->event_type == JVMPI_EVENT_GC_START || e->event_type == JVMPI_EVENT_GC_FINISH) {
    d.counters = e->u.gc_info.used_objects + e->u.gc_info.used_object_space +
                 e->u.gc_info.total_object_space;
  }
  delivered.push_back(d);
  if (e->event_type == JVMPI_EVENT_CLASS_LOAD_HOOK && hookHandler) hookHandler(e);
}

class JvmtiProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    jvmtiProviderReset();
    delivered.clear();
    hookHandler = nullptr;
  }
  JVMPI_Interface* install() {
    JVMPI_Interface* table = jvmtiProviderInstall(&fake.vm);
    if (table) table->NotifyEvent = recordEvent;
    return table;
  }
  int count(jint type) {
    int n = 0;
    for (auto& d : delivered) n += d.type == type;
    return n;
  }
  FakeJvm fake;
};

TEST_F(JvmtiProvider, OffersOneTableOnlyWhenTheJvmHasJvmti) {
  JVMPI_Interface* table = install();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(jvmtiProviderInstall(&fake.vm), table);
  EXPECT_EQ(jvmtiProviderTable(), table);
  EXPECT_TRUE(fake.added.can_generate_all_class_hook_events);
  // Entries that are not served yet answer without harm.
  EXPECT_EQ(table->RequestEvent(JVMPI_EVENT_CLASS_LOAD, nullptr), JVMPI_NOT_AVAILABLE);
  EXPECT_EQ(table->GetMethodClass(42), 0u);
  EXPECT_EQ(table->GetThreadStatus(&fake.jni), 0);
  table->DisableGC();
  table->EnableGC();

  jvmtiProviderReset();
  fake.jvmtiAnswer = JNI_EVERSION;
  EXPECT_EQ(install(), nullptr);
  EXPECT_EQ(jvmtiProviderTable(), nullptr);
  EXPECT_EQ(jvmtiProviderInstall(nullptr), nullptr);
  fake.jvmtiAnswer = fake.jniAnswer = JNI_EDETACHED;  // a thread the JVM does not know
  EXPECT_EQ(install(), nullptr);
}

TEST_F(JvmtiProvider, MapsProfilerEventsToJvmtiEventsItHasCapabilitiesFor) {
  JVMPI_Interface* table = install();
  // The thread's own CPU clock, read without the JVM (by its own system call
  // on Linux): between two reads of the same clock through libc.
  jlong cpuBefore = os::threadCpuNanos();
  jlong cpu = table->GetCurrentThreadCpuTime();
  jlong cpuAfter = os::threadCpuNanos();
  EXPECT_GT(cpu, 0);
  EXPECT_LE(cpuBefore, cpu);
  EXPECT_LE(cpu, cpuAfter);
  const std::pair<jint, jvmtiEvent> mapping[] = {
      {JVMPI_EVENT_THREAD_START, JVMTI_EVENT_THREAD_START},
      {JVMPI_EVENT_THREAD_END, JVMTI_EVENT_THREAD_END},
      {JVMPI_EVENT_CLASS_LOAD_HOOK, JVMTI_EVENT_CLASS_FILE_LOAD_HOOK},
      {JVMPI_EVENT_JVM_INIT_DONE, JVMTI_EVENT_VM_INIT},
      {JVMPI_EVENT_GC_START, JVMTI_EVENT_GARBAGE_COLLECTION_START},
      {JVMPI_EVENT_GC_FINISH, JVMTI_EVENT_GARBAGE_COLLECTION_FINISH},
  };
  for (auto& [event, jvmtiEvent] : mapping) {
    EXPECT_EQ(table->EnableEvent(event, nullptr), JVMPI_SUCCESS) << event;
    EXPECT_EQ(fake.mode(jvmtiEvent), JVMTI_ENABLE) << event;
    EXPECT_EQ(table->DisableEvent(event, nullptr), JVMPI_SUCCESS) << event;
    EXPECT_EQ(fake.mode(jvmtiEvent), JVMTI_DISABLE) << event;
  }
  size_t before = fake.modes.size();
  EXPECT_EQ(table->EnableEvent(JVMPI_EVENT_INTERFACE_READY, nullptr), JVMPI_SUCCESS);
  EXPECT_EQ(fake.modes.size(), before);
  EXPECT_EQ(table->EnableEvent(JVMPI_EVENT_METHOD_ENTRY, nullptr), JVMPI_NOT_AVAILABLE);
  EXPECT_EQ(table->EnableEvent(12345, nullptr), JVMPI_NOT_AVAILABLE);

  // Without the capabilities: no GC events, no CPU time.
  jvmtiProviderReset();
  fake.modes.clear();
  fake.offerGc = fake.offerCpuTime = false;
  table = install();
  EXPECT_EQ(table->EnableEvent(JVMPI_EVENT_GC_START, nullptr), JVMPI_NOT_AVAILABLE);
  EXPECT_EQ(fake.mode(JVMTI_EVENT_GARBAGE_COLLECTION_START), JVMTI_DISABLE);
  EXPECT_EQ(table->GetCurrentThreadCpuTime(), 0);
}

TEST_F(JvmtiProvider, InitDoneArrivesOnceWhenTheJvmHasStarted) {
  fake.phase = JVMTI_PHASE_ONLOAD;
  JVMPI_Interface* table = install();
  fake.callbacks.VMInit(&fake.jvmti, &fake.jni, nullptr);
  EXPECT_EQ(count(JVMPI_EVENT_JVM_INIT_DONE), 0) << "delivered although not enabled";
  table->EnableEvent(JVMPI_EVENT_JVM_INIT_DONE, nullptr);
  EXPECT_EQ(count(JVMPI_EVENT_JVM_INIT_DONE), 0) << "delivered before the JVM finished starting";
  fake.phase = JVMTI_PHASE_LIVE;
  fake.callbacks.VMInit(&fake.jvmti, &fake.jni, nullptr);
  fake.callbacks.VMInit(&fake.jvmti, &fake.jni, nullptr);
  ASSERT_EQ(count(JVMPI_EVENT_JVM_INIT_DONE), 1);
  EXPECT_EQ(delivered.back().env, &fake.jni);

  // Enabled after the JVM started: delivered at once, and only once.
  jvmtiProviderReset();
  delivered.clear();
  table = install();
  table->EnableEvent(JVMPI_EVENT_JVM_INIT_DONE, nullptr);
  ASSERT_EQ(count(JVMPI_EVENT_JVM_INIT_DONE), 1);
  table->DisableEvent(JVMPI_EVENT_JVM_INIT_DONE, nullptr);
  table->EnableEvent(JVMPI_EVENT_JVM_INIT_DONE, nullptr);
  EXPECT_EQ(count(JVMPI_EVENT_JVM_INIT_DONE), 1);
}

// A library loaded with -Xrun starts while the JVM hands out no JVMTI
// environment; the table works meanwhile and catches up at the first call
// made once the JVM does, applying only the wishes still standing.
TEST_F(JvmtiProvider, StartsWithoutJvmtiAndObtainsItLater) {
  fake.jvmtiAnswer = JNI_EDETACHED;
  JVMPI_Interface* table = install();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->EnableEvent(JVMPI_EVENT_CLASS_LOAD_HOOK, nullptr), JVMPI_SUCCESS);
  EXPECT_EQ(table->EnableEvent(JVMPI_EVENT_JVM_INIT_DONE, nullptr), JVMPI_SUCCESS);
  EXPECT_EQ(table->EnableEvent(JVMPI_EVENT_THREAD_START, nullptr), JVMPI_SUCCESS);
  EXPECT_EQ(table->DisableEvent(JVMPI_EVENT_THREAD_START, nullptr), JVMPI_SUCCESS);
  EXPECT_TRUE(fake.modes.empty());
  EXPECT_EQ(table->GetCurrentThreadCpuTime(), 0);

  // A monitor made now works, and keeps working after JVMTI arrived.
  JVMPI_RawMonitor early = table->RawMonitorCreate(const_cast<char*>("early"));
  ASSERT_NE(early, nullptr);
  table->RawMonitorEnter(early);
  table->RawMonitorWait(early, 1);
  table->RawMonitorExit(early);
  EXPECT_EQ(count(JVMPI_EVENT_JVM_INIT_DONE), 0);

  fake.jvmtiAnswer = JNI_OK;
  EXPECT_GT(table->GetCurrentThreadCpuTime(), 0);
  EXPECT_EQ(fake.mode(JVMTI_EVENT_CLASS_FILE_LOAD_HOOK), JVMTI_ENABLE);
  EXPECT_EQ(fake.mode(JVMTI_EVENT_VM_INIT), JVMTI_ENABLE);
  EXPECT_EQ(fake.mode(JVMTI_EVENT_THREAD_START), JVMTI_DISABLE);
  EXPECT_EQ(count(JVMPI_EVENT_JVM_INIT_DONE), 1);
  fake.callbacks.VMInit(&fake.jvmti, &fake.jni, nullptr);
  EXPECT_EQ(count(JVMPI_EVENT_JVM_INIT_DONE), 1);

  int calls = fake.getEnvCalls;
  table->RawMonitorEnter(early);
  table->RawMonitorExit(early);
  table->RawMonitorDestroy(early);
  table->GetCurrentThreadCpuTime();
  EXPECT_EQ(fake.getEnvCalls, calls) << "JVMTI asked for again after it was obtained";
}

TEST_F(JvmtiProvider, ThreadAndGcEventsReachTheInstalledHandlerOnly) {
  JVMPI_Interface* table = jvmtiProviderInstall(&fake.vm);
  ASSERT_EQ(table->NotifyEvent, nullptr);
  fake.callbacks.ThreadStart(&fake.jvmti, &fake.jni, nullptr);
  fake.callbacks.GarbageCollectionStart(&fake.jvmti);
  EXPECT_EQ(fake.threadInfoCalls, 0);
  EXPECT_TRUE(delivered.empty());

  table->NotifyEvent = recordEvent;
  size_t before = fake.allocated.size();
  fake.callbacks.ThreadStart(&fake.jvmti, &fake.jni, nullptr);
  ASSERT_EQ(count(JVMPI_EVENT_THREAD_START), 1);
  const Delivered& d = delivered.back();
  EXPECT_EQ(d.names, "worker-1/main/system");
  EXPECT_EQ(d.env, &fake.jni);
  EXPECT_EQ(d.threadEnv, &fake.jni);
  EXPECT_EQ(fake.allocated.size(), before) << "the names' memory is released";
  EXPECT_EQ(fake.deletedRefs, 3);  // thread group, class loader, parent group
  fake.callbacks.ThreadEnd(&fake.jvmti, &fake.jni, nullptr);
  ASSERT_EQ(count(JVMPI_EVENT_THREAD_END), 1);
  EXPECT_EQ(delivered.back().env, &fake.jni);

  fake.callbacks.GarbageCollectionStart(&fake.jvmti);
  fake.callbacks.GarbageCollectionFinish(&fake.jvmti);
  ASSERT_EQ(delivered.size(), 4u);
  EXPECT_EQ(delivered[2].type, JVMPI_EVENT_GC_START);
  EXPECT_EQ(delivered[3].type, JVMPI_EVENT_GC_FINISH);
  for (size_t i = 2; i < 4; i++) {
    EXPECT_EQ(delivered[i].env, nullptr);
    EXPECT_EQ(delivered[i].counters, 0);
  }
}

// --- the class-load hook -----------------------------------------------------

const unsigned char classBytes[] = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 52};

struct HookResult {
  jint length = -1;
  unsigned char* bytes = nullptr;
};

HookResult runHook(FakeJvm& fake) {
  HookResult r;
  fake.callbacks.ClassFileLoadHook(&fake.jvmti, &fake.jni, nullptr, nullptr, "p/C", nullptr,
                                   sizeof classBytes, classBytes, &r.length, &r.bytes);
  return r;
}

unsigned char* allocateCopy(JVMPI_Event* e, const unsigned char* bytes, unsigned int length) {
  auto* mem = static_cast<unsigned char*>(e->u.class_load_hook.malloc_f(length));
  std::memcpy(mem, bytes, length);
  return mem;
}

void handOver(JVMPI_Event* e, unsigned char* bytes, jint length) {
  e->u.class_load_hook.new_class_data = bytes;
  e->u.class_load_hook.new_class_data_len = length;
}

TEST_F(JvmtiProvider, TheHookHandsTheJvmOnlyNewBytesItAllocated) {
  install();
  struct Case {
    const char* what;
    void (*handler)(JVMPI_Event*);
    jint length;  // -1: the JVM keeps its class
  } cases[] = {
      {"the JVM's own bytes",
       [](JVMPI_Event* e) {
         EXPECT_STREQ(e->u.class_load_hook.class_name, "p/C");
         ASSERT_EQ(e->u.class_load_hook.class_data_len, static_cast<jint>(sizeof classBytes));
         EXPECT_EQ(std::memcmp(e->u.class_load_hook.class_data, classBytes, sizeof classBytes), 0);
         handOver(e, const_cast<unsigned char*>(e->u.class_load_hook.class_data),
                  e->u.class_load_hook.class_data_len);
       },
       -1},
      {"a copy that changes nothing",
       [](JVMPI_Event* e) {
         handOver(e, allocateCopy(e, classBytes, sizeof classBytes), sizeof classBytes);
       },
       -1},
      {"foreign memory",
       [](JVMPI_Event* e) {
         static unsigned char foreign[16] = {1, 2, 3};
         e->u.class_load_hook.malloc_f(32);  // allocated and dropped by the handler
         handOver(e, foreign, sizeof foreign);
       },
       -1},
      {"a length beyond the allocation",
       [](JVMPI_Event* e) { handOver(e, allocateCopy(e, classBytes, 4), 4000); }, -1},
      {"new bytes, another buffer dropped",
       [](JVMPI_Event* e) {
         const unsigned char first[] = {1, 1, 1};
         const unsigned char changed[] = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 49, 1, 2};
         allocateCopy(e, first, sizeof first);
         handOver(e, allocateCopy(e, changed, sizeof changed), sizeof changed);
       },
       10},
  };
  for (const Case& c : cases) {
    hookHandler = c.handler;
    HookResult r = runHook(fake);
    EXPECT_EQ(delivered.back().env, &fake.jni) << c.what;
    if (c.length < 0) {
      EXPECT_EQ(r.bytes, nullptr) << c.what;
      EXPECT_EQ(fake.allocated.size(), 0u) << c.what;
      continue;
    }
    ASSERT_NE(r.bytes, nullptr) << c.what;
    EXPECT_EQ(r.length, c.length);
    EXPECT_EQ(r.bytes[7], 49);
    EXPECT_EQ(fake.allocated.size(), 1u) << "the JVM owns the buffer now";
    fake.jvmti.Deallocate(r.bytes);
  }
}

// A class loaded by Java code that a hook calls raises a hook inside the hook
// on the same thread; each keeps its own buffers, and the allocation function
// serves only inside a hook.
TEST_F(JvmtiProvider, AHookInsideAHookKeepsItsOwnBuffers) {
  install();
  static HookResult inner;
  static int depth;
  static void* (*allocate)(unsigned int);
  depth = 0;
  hookHandler = [](JVMPI_Event* e) {
    const unsigned char outerBytes[] = {9, 9, 9, 9, 9};
    const unsigned char innerBytes[] = {7, 7};
    allocate = e->u.class_load_hook.malloc_f;
    if (depth++ == 0) {
      unsigned char* mine = allocateCopy(e, outerBytes, sizeof outerBytes);
      inner = runHook(*FakeJvm::current);
      handOver(e, mine, sizeof outerBytes);
    } else {
      handOver(e, allocateCopy(e, innerBytes, sizeof innerBytes), sizeof innerBytes);
    }
  };
  HookResult outer = runHook(fake);
  ASSERT_NE(outer.bytes, nullptr);
  ASSERT_NE(inner.bytes, nullptr);
  EXPECT_EQ(outer.length, 5);
  EXPECT_EQ(outer.bytes[0], 9);
  EXPECT_EQ(inner.length, 2);
  EXPECT_EQ(inner.bytes[0], 7);
  EXPECT_EQ(fake.allocated.size(), 2u);
  fake.jvmti.Deallocate(outer.bytes);
  fake.jvmti.Deallocate(inner.bytes);
  EXPECT_EQ(allocate(16), nullptr);
  EXPECT_EQ(fake.allocated.size(), 0u);
}

// --- raw monitors ------------------------------------------------------------

TEST_F(JvmtiProvider, ATimedWaitRunsItsFullTimeThroughEarlyReturns) {
  JVMPI_Interface* table = install();
  table->RawMonitorEnter(nullptr);  // null monitors are ignored
  table->RawMonitorWait(nullptr, 10);
  table->RawMonitorNotifyAll(nullptr);
  table->RawMonitorExit(nullptr);
  table->RawMonitorDestroy(nullptr);
  JVMPI_RawMonitor monitor = table->RawMonitorCreate(const_cast<char*>("sleep"));
  ASSERT_NE(monitor, nullptr);
  fake.spuriousWakeups = 4;
  table->RawMonitorEnter(monitor);
  auto start = std::chrono::steady_clock::now();
  table->RawMonitorWait(monitor, 60);
  auto waited = std::chrono::steady_clock::now() - start;
  table->RawMonitorExit(monitor);
  table->RawMonitorDestroy(monitor);
  // Only the time counts: a waiter that a loaded machine holds up past the
  // end may rightly leave early returns unused.
  EXPECT_GE(waited, std::chrono::milliseconds(60));
}

class JvmtiProviderConcurrency : public JvmtiProvider {};

TEST_F(JvmtiProviderConcurrency, ANotificationEndsAWait) {
  JVMPI_Interface* table = install();
  JVMPI_RawMonitor monitor = table->RawMonitorCreate(const_cast<char*>("notified"));
  std::atomic<bool> waiting{false};
  std::thread waiter([&] {
    table->RawMonitorEnter(monitor);
    waiting = true;
    table->RawMonitorWait(monitor, 60000);
    table->RawMonitorExit(monitor);
  });
  while (!waiting) std::this_thread::yield();
  table->RawMonitorEnter(monitor);  // succeeds once the waiter waits
  table->RawMonitorNotifyAll(monitor);
  table->RawMonitorExit(monitor);
  waiter.join();  // would take a minute if the notification were lost
  table->RawMonitorDestroy(monitor);
}

TEST_F(JvmtiProviderConcurrency, MonitorsMadeBeforeJvmtiExcludeEachOther) {
  fake.jvmtiAnswer = JNI_EDETACHED;
  JVMPI_Interface* table = install();
  JVMPI_RawMonitor monitor = table->RawMonitorCreate(const_cast<char*>("early"));
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; i++) {
        table->RawMonitorEnter(monitor);
        counter++;
        table->RawMonitorExit(monitor);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 3000);
  table->RawMonitorDestroy(monitor);
}

}  // namespace
