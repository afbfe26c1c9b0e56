#include "platform/JvmtiRas.h"

#include <jvmti.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/EntryGuard.h"
#include "platform/os.h"

namespace {

// Frames written per thread at most.
constexpr jint kMaxFrames = 1024;

std::mutex& setUpLock() {
  static std::mutex lock;
  return lock;
}
JavaVM* javaVm = nullptr;  // guarded by setUpLock
std::atomic<jvmtiEnv*> rasJvmti{nullptr};
std::atomic<bool> unobtainable{false};

// Thread object ids; 0 is never handed out.
std::atomic<uint32_t> nextObjectId{1};

// A thread known by its JNIEnv: its object id and a global reference to its
// thread object, held from its start to its end.
struct KnownThread {
  uint32_t objectId;
  jobject thread;
};
struct Known {
  std::mutex lock;
  std::unordered_map<JNIEnv*, KnownThread> byEnv;
};
Known& known() {
  // Never destroyed: thread events may arrive while the process exits.
  static Known* instance = new Known();
  return *instance;
}

// The thread's object id, kept as the environment's thread-local value, and
// assigned now when it has none. The caller holds known().lock, so that one
// thread is never given two ids.
uint32_t objectIdOfLocked(jvmtiEnv* jvmti, jthread thread) {
  void* data = nullptr;
  if (jvmti->GetThreadLocalStorage(thread, &data) == JVMTI_ERROR_NONE && data)
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data));
  uint32_t id = nextObjectId.fetch_add(1, std::memory_order_relaxed);
  if (id == 0) id = nextObjectId.fetch_add(1, std::memory_order_relaxed);
  jvmti->SetThreadLocalStorage(thread, reinterpret_cast<const void*>(static_cast<uintptr_t>(id)));
  return id;
}

uint32_t objectIdOf(jvmtiEnv* jvmti, jthread thread) {
  std::lock_guard<std::mutex> guard(known().lock);
  return objectIdOfLocked(jvmti, thread);
}

// Pairs the thread's JNIEnv with its thread object; the caller holds the lock.
KnownThread* noteThreadLocked(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread) {
  if (!jni || !thread) return nullptr;
  uint32_t id = objectIdOfLocked(jvmti, thread);
  jobject ref = jni->NewGlobalRef(thread);
  if (!ref) {
    jni->ExceptionClear();
    return nullptr;
  }
  KnownThread& entry = known().byEnv[jni];
  if (entry.thread) jni->DeleteGlobalRef(entry.thread);
  entry = KnownThread{id, ref};
  return &entry;
}

void noteThread(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread) {
  std::lock_guard<std::mutex> guard(known().lock);
  noteThreadLocked(jvmti, jni, thread);
}

void JNICALL onVmInit(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread) {
  guardedEntry("onVmInit", [&]() { noteThread(jvmti, jni, thread); });
}

void JNICALL onThreadStart(jvmtiEnv* jvmti, JNIEnv* jni, jthread thread) {
  guardedEntry("onThreadStart", [&]() { noteThread(jvmti, jni, thread); });
}

void JNICALL onThreadEnd(jvmtiEnv*, JNIEnv* jni, jthread) {
  guardedEntry("onThreadEnd", [&]() {
    std::lock_guard<std::mutex> guard(known().lock);
    auto found = known().byEnv.find(jni);
    if (found == known().byEnv.end()) return;
    if (found->second.thread) jni->DeleteGlobalRef(found->second.thread);
    known().byEnv.erase(found);
  });
}

// The calling thread's JNIEnv, or null on a thread the JVM does not know.
JNIEnv* currentJni(JavaVM* vm) {
  JNIEnv* jni = nullptr;
  if (!vm || vm->GetEnv(reinterpret_cast<void**>(&jni), JNI_VERSION_1_2) != JNI_OK) return nullptr;
  return jni;
}

// The known entry of the env; the calling thread itself is noted when it is
// not known yet (it started before the environment existed). The caller holds
// the lock.
KnownThread* findLocked(jvmtiEnv* jvmti, JNIEnv* env) {
  auto found = known().byEnv.find(env);
  if (found != known().byEnv.end()) return &found->second;
  if (env != currentJni(javaVm)) return nullptr;
  jthread self = nullptr;
  if (jvmti->GetCurrentThread(&self) != JVMTI_ERROR_NONE || !self) return nullptr;
  KnownThread* entry = noteThreadLocked(jvmti, env, self);
  env->DeleteLocalRef(self);
  return entry;
}

bool setUpEnvironment(jvmtiEnv* jvmti) {
  jvmtiCapabilities potential{};
  if (jvmti->GetPotentialCapabilities(&potential) == JVMTI_ERROR_NONE) {
    jvmtiCapabilities wanted{};
    wanted.can_get_source_file_name = potential.can_get_source_file_name;
    wanted.can_get_line_numbers = potential.can_get_line_numbers;
    jvmti->AddCapabilities(&wanted);
  }
  jvmtiEventCallbacks callbacks{};
  callbacks.VMInit = &onVmInit;
  callbacks.ThreadStart = &onThreadStart;
  callbacks.ThreadEnd = &onThreadEnd;
  if (jvmti->SetEventCallbacks(&callbacks, sizeof callbacks) != JVMTI_ERROR_NONE) return false;
  for (jvmtiEvent event : {JVMTI_EVENT_VM_INIT, JVMTI_EVENT_THREAD_START, JVMTI_EVENT_THREAD_END})
    if (jvmti->SetEventNotificationMode(JVMTI_ENABLE, event, nullptr) != JVMTI_ERROR_NONE)
      return false;
  return true;
}

// The environment, obtained now if the JVM hands it out by now.
jvmtiEnv* ensureJvmti() {
  if (jvmtiEnv* jvmti = rasJvmti.load(std::memory_order_acquire)) return jvmti;
  if (unobtainable.load(std::memory_order_relaxed)) return nullptr;
  std::lock_guard<std::mutex> guard(setUpLock());
  if (jvmtiEnv* jvmti = rasJvmti.load(std::memory_order_acquire)) return jvmti;
  if (!javaVm) return nullptr;
  jvmtiEnv* jvmti = nullptr;
  jint answer = javaVm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_2);
  if (answer == JNI_EDETACHED) return nullptr;  // not in this phase of the start-up
  if (answer != JNI_OK || !jvmti || !setUpEnvironment(jvmti)) {
    if (answer == JNI_OK && jvmti) jvmti->DisposeEnvironment();
    unobtainable.store(true);
    return nullptr;
  }
  rasJvmti.store(jvmti, std::memory_order_release);
  return jvmti;
}

// --- javacore ----------------------------------------------------------------

struct MethodFacts {
  std::string className;
  std::string methodName;
  std::string sourceFile;
  bool native = false;
  std::vector<jvmtiLineNumberEntry> lines;
};

void deallocate(jvmtiEnv* jvmti, void* memory) {
  if (memory) jvmti->Deallocate(static_cast<unsigned char*>(memory));
}

MethodFacts factsOf(jvmtiEnv* jvmti, JNIEnv* jni, jmethodID method) {
  MethodFacts facts;
  char* name = nullptr;
  if (jvmti->GetMethodName(method, &name, nullptr, nullptr) == JVMTI_ERROR_NONE && name)
    facts.methodName = name;
  deallocate(jvmti, name);
  jboolean native = JNI_FALSE;
  if (jvmti->IsMethodNative(method, &native) == JVMTI_ERROR_NONE) facts.native = native;
  jclass owner = nullptr;
  if (jvmti->GetMethodDeclaringClass(method, &owner) == JVMTI_ERROR_NONE && owner) {
    char* signature = nullptr;
    if (jvmti->GetClassSignature(owner, &signature, nullptr) == JVMTI_ERROR_NONE && signature) {
      // "Lcom/acme/Foo;" -> com/acme/Foo
      size_t length = std::strlen(signature);
      if (length >= 2 && signature[0] == 'L' && signature[length - 1] == ';')
        facts.className.assign(signature + 1, length - 2);
      else
        facts.className = signature;
    }
    deallocate(jvmti, signature);
    char* source = nullptr;
    if (jvmti->GetSourceFileName(owner, &source) == JVMTI_ERROR_NONE && source)
      facts.sourceFile = source;
    deallocate(jvmti, source);
    jni->DeleteLocalRef(owner);
  }
  jint count = 0;
  jvmtiLineNumberEntry* table = nullptr;
  if (!facts.native && jvmti->GetLineNumberTable(method, &count, &table) == JVMTI_ERROR_NONE &&
      table)
    facts.lines.assign(table, table + count);
  deallocate(jvmti, table);
  return facts;
}

int lineAt(const MethodFacts& facts, jlocation location) {
  int line = -1;
  jlocation best = -1;
  for (const jvmtiLineNumberEntry& entry : facts.lines) {
    if (entry.start_location <= location && entry.start_location >= best) {
      best = entry.start_location;
      line = entry.line_number;
    }
  }
  return line;
}

const char* stateText(jint state) {
  if (state & JVMTI_THREAD_STATE_BLOCKED_ON_MONITOR_ENTER) return "MW";
  if (state & JVMTI_THREAD_STATE_WAITING) return "CW";
  if (state & JVMTI_THREAD_STATE_RUNNABLE) return "R";
  return "?";
}

void appendThread(jvmtiEnv* jvmti, JNIEnv* jni, const jvmtiStackInfo& stack,
                  std::unordered_map<jmethodID, MethodFacts>* cache, std::string* out) {
  jvmtiThreadInfo info{};
  if (jvmti->GetThreadInfo(stack.thread, &info) != JVMTI_ERROR_NONE) info = jvmtiThreadInfo{};
  appendJavacoreHeader(out, info.name ? info.name : "", objectIdOf(jvmti, stack.thread),
                       stateText(stack.state), info.priority);
  deallocate(jvmti, info.name);
  if (info.thread_group) jni->DeleteLocalRef(info.thread_group);
  if (info.context_class_loader) jni->DeleteLocalRef(info.context_class_loader);
  for (jint f = 0; f < stack.frame_count; f++) {
    const jvmtiFrameInfo& frame = stack.frame_buffer[f];
    auto found = cache->find(frame.method);
    if (found == cache->end())
      found = cache->emplace(frame.method, factsOf(jvmti, jni, frame.method)).first;
    const MethodFacts& facts = found->second;
    appendJavacoreFrame(out, facts.className.c_str(), facts.methodName.c_str(),
                        facts.sourceFile.c_str(), lineAt(facts, frame.location), facts.native);
  }
  out->push_back('\n');
}

void appendPreamble(std::string* out, int threadCount) {
  os::LocalTime t = os::localTime();
  char text[200];
  std::snprintf(text, sizeof text,
                "Thread dump of process %d\nDate: %04d/%02d/%02d %02d:%02d:%02d\nThreads: %d\n\n",
                os::processId(), t.year, t.month, t.day, t.hour, t.minute, t.second, threadCount);
  out->append(text);
}

// Writes the text under a hidden name and renames it to its javacore name.
// A javacore of the same second is never replaced (a caller may be about to
// read it): the name is then taken again in the next second.
std::string publish(const std::string& text) {
  static std::atomic<unsigned> sequence{0};
  char hidden[96];
  std::snprintf(hidden, sizeof hidden, ".javacore-%d-%u.tmp", os::processId(),
                sequence.fetch_add(1, std::memory_order_relaxed));
  std::FILE* out = std::fopen(hidden, "w");
  if (!out) return std::string();
  bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  written = std::fclose(out) == 0 && written;
  for (int attempt = 0; written && attempt < 30; attempt++) {
    os::LocalTime t = os::localTime();
    char name[96];
    std::snprintf(name, sizeof name, "javacore.%04d%02d%02d.%02d%02d%02d.%d.txt", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, os::processId());
    int error = os::renameNoReplace(hidden, name);
    if (error == 0) return name;
    if (error != EEXIST) break;
    os::sleepMillis(100);
  }
  os::removeFile(hidden);
  return std::string();
}

void JNICALL dumpThreadStacks(JNIEnv* env, int) {
  guardedEntry("dumpThreadStacks", [&]() { jvmtiRasWriteJavacore(env, false); });
}

void JNICALL generateJavacore(JNIEnv* env) {
  guardedEntry("generateJavacore", [&]() { jvmtiRasWriteJavacore(env, true); });
}

RasInterface rasTable = [] {
  RasInterface table{};
  table.DumpThreadStacks = &dumpThreadStacks;
  table.GenerateJavacore = &generateJavacore;
  return table;
}();

}  // namespace

void appendJavacoreHeader(std::string* out, const char* threadName, uint32_t objectId,
                          const char* state, int priority) {
  out->push_back('"');
  for (const char* c = threadName ? threadName : ""; *c; c++)
    out->push_back(*c == '"' || static_cast<unsigned char>(*c) < 0x20 ? '?' : *c);
  char text[120];
  std::snprintf(text, sizeof text, "\" TID:0x%X, sys_thread_t:0x%X, state:%s, prio=%d\n", objectId,
                objectId, state ? state : "?", priority);
  out->append(text);
}

void appendJavacoreFrame(std::string* out, const char* classSlashName, const char* methodName,
                         const char* sourceFile, int line, bool nativeMethod) {
  out->append("    at ");
  out->append(classSlashName ? classSlashName : "");
  out->push_back('.');
  out->append(methodName ? methodName : "");
  out->push_back('(');
  if (nativeMethod) {
    out->append("Native Method");
  } else if (!sourceFile || !*sourceFile) {
    out->append("Unknown Source");
  } else {
    out->append(sourceFile);
    if (line >= 0) out->append(":" + std::to_string(line));
  }
  out->append(")\n");
}

void jvmtiRasInstall(JavaVM* vm) {
  {
    std::lock_guard<std::mutex> guard(setUpLock());
    if (javaVm || !vm) return;
    javaVm = vm;
  }
  ensureJvmti();
}

RasInterface* jvmtiRasInterface() {
  return ensureJvmti() ? &rasTable : nullptr;
}

jint rasGetEnv(JavaVM* vm, void** out, jint version) {
  if (!vm || !out) return JNI_ERR;
  if (version != JAVA_RAS_VERSION) return vm->GetEnv(out, version);
  jvmtiRasInstall(vm);
  if (RasInterface* ras = jvmtiRasInterface()) {
    *out = ras;
    return JNI_OK;
  }
  return vm->GetEnv(out, version);
}

jobjectID jvmtiRasThreadObject(JNIEnv* env) {
  jvmtiEnv* jvmti = ensureJvmti();
  if (!jvmti || !env) return 0;
  std::lock_guard<std::mutex> guard(known().lock);
  KnownThread* entry = findLocked(jvmti, env);
  return entry ? entry->objectId : 0;
}

jint jvmtiRasThreadStatus(JNIEnv* env) {
  jvmtiEnv* jvmti = ensureJvmti();
  JNIEnv* self = currentJni(javaVm);
  if (!jvmti || !env || !self) return 0;
  jobject thread = nullptr;
  {
    std::lock_guard<std::mutex> guard(known().lock);
    KnownThread* entry = findLocked(jvmti, env);
    // A local reference of our own: the entry's global one goes when the
    // thread ends.
    if (entry) thread = self->NewLocalRef(entry->thread);
  }
  if (!thread) return 0;
  jint state = 0;
  jvmtiError error = jvmti->GetThreadState(thread, &state);
  self->DeleteLocalRef(thread);
  if (error != JVMTI_ERROR_NONE) return 0;
  jint status = 0;
  if (state & JVMTI_THREAD_STATE_BLOCKED_ON_MONITOR_ENTER)
    status = JVMPI_THREAD_MONITOR_WAIT;
  else if (state & JVMTI_THREAD_STATE_WAITING)
    status = JVMPI_THREAD_CONDVAR_WAIT;
  else if (state & JVMTI_THREAD_STATE_RUNNABLE)
    status = JVMPI_THREAD_RUNNABLE;
  if (state & JVMTI_THREAD_STATE_SUSPENDED) status |= JVMPI_THREAD_SUSPENDED;
  if (state & JVMTI_THREAD_STATE_INTERRUPTED) status |= JVMPI_THREAD_INTERRUPTED;
  return status;
}

std::string jvmtiRasWriteJavacore(JNIEnv* env, bool complete) {
  jvmtiEnv* jvmti = ensureJvmti();
  if (!jvmti || !env) return std::string();
  jvmtiStackInfo* stacks = nullptr;
  jint count = 0;
  if (jvmti->GetAllStackTraces(kMaxFrames, &stacks, &count) != JVMTI_ERROR_NONE || !stacks)
    return std::string();
  std::string text;
  if (complete) appendPreamble(&text, count);
  std::unordered_map<jmethodID, MethodFacts> cache;
  for (jint i = 0; i < count; i++) {
    appendThread(jvmti, env, stacks[i], &cache, &text);
    env->DeleteLocalRef(stacks[i].thread);
  }
  deallocate(jvmti, stacks);
  return publish(text);
}
