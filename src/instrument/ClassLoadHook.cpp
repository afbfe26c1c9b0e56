#include "instrument/ClassLoadHook.h"
#include "instrument/ClassLoadHookTestAccess.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "instrument/ClassRewriter.h"
#include "instrument/ClassWriter.h"
#include "instrument/ConstantPool.h"
#include "instrument/InstrumentConfig.h"

namespace {

std::atomic<bool> launcherSeen{false};
std::atomic<bool> classLoaderDone{false};
std::atomic<bool> proxyDone{false};

// A list is done only once the JVM has accepted a class it wrapped: a
// definition the JVM rejects (a format or verification error) leaves the
// next definition of that name to be wrapped. Until the JVM prepares a class
// of that name, the name waits here (slash form; empty: none).
std::mutex acceptanceLock;
std::string loaderAwaited;
std::string proxyAwaited;

// Recognises a class loaded by the agent's own Java call: busy while the call
// runs, with the name of the class handed over. The name has a lock of its
// own so that a hook on another thread reads it safely.
std::atomic<bool> busy{false};
std::atomic<bool> reentered{false};
std::mutex busyNameLock;
std::string busyName;

std::atomic<jclass (*)()> javaClass{nullptr};
std::atomic<jmethodID (*)()> javaMethod{nullptr};

const char* const kLaunchers[] = {"com.qel.qs.bootstrap.QSLauncher", "weblogic.Server"};
// Plain prefix tests on the internal name.
const char* const kNeverHanded[] = {"java", "org", "sun", "com.halden", "com/halden", "sun/misc"};

// The class bytes of one hook: the JVM's until something replaces them.
class HookBytes {
 public:
  HookBytes(const uint8_t* data, size_t length) : jvmData_(data), jvmLength_(length) {}
  const uint8_t* data() const { return owned_ ? bytes_.data() : jvmData_; }
  size_t length() const { return owned_ ? bytes_.size() : jvmLength_; }
  bool owned() const { return owned_; }
  void replace(std::vector<uint8_t>* bytes) {
    bytes_.swap(*bytes);
    owned_ = true;
  }
  void revert() {
    std::vector<uint8_t>().swap(bytes_);
    owned_ = false;
  }

 private:
  const uint8_t* jvmData_;
  size_t jvmLength_;
  std::vector<uint8_t> bytes_;
  bool owned_ = false;
};

bool startsWith(const std::string& name, const char* prefix) {
  return name.compare(0, std::strlen(prefix), prefix) == 0;
}

void dumpIfOn(const char* name, size_t nameLength, const HookBytes& bytes) {
  if (instrumentConfig().dumpClasses) dumpClass(name, nameLength, bytes.data(), bytes.length());
}

// Hands the class to BcmBootstrap.instrumentClassFromJVMPI; its answer
// replaces the bytes unless the call loaded the same class again.
void handToJava(JNIEnv* env, const std::string& name, const std::string& dotted, HookBytes* bytes) {
  if (busy.load()) {
    std::lock_guard<std::mutex> hold(busyNameLock);
    if (dotted == busyName) reentered.store(true);
    return;
  }
  for (const char* prefix : kNeverHanded) {
    if (startsWith(name, prefix)) return;
  }
  auto classSource = javaClass.load();
  auto methodSource = javaMethod.load();
  jclass bootstrap = classSource ? classSource() : nullptr;
  jmethodID method = methodSource ? methodSource() : nullptr;
  if (!env || !bootstrap || !method || bytes->length() > 0x7FFFFFFF) return;
  bool expected = false;
  if (!busy.compare_exchange_strong(expected, true)) return;  // another thread is handing over
  {
    std::lock_guard<std::mutex> hold(busyNameLock);
    busyName = dotted;
  }
  jsize length = static_cast<jsize>(bytes->length());
  jbyteArray array = env->NewByteArray(length);
  clearPendingException(env);
  jstring text = env->NewStringUTF(dotted.c_str());
  clearPendingException(env);
  jobject result = nullptr;
  if (array && text) {
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(bytes->data()));
    if (!clearPendingException(env)) {
      result = env->CallStaticObjectMethod(bootstrap, method, array, text);
      clearPendingException(env);
    }
  }
  if (reentered.exchange(false)) {
    // The call loaded this very class again; its answer is not used.
  } else if (result) {
    auto answer = static_cast<jbyteArray>(result);
    jsize size = env->GetArrayLength(answer);
    if (!clearPendingException(env) && size > 0) {
      std::vector<uint8_t> copy(static_cast<size_t>(size));
      env->GetByteArrayRegion(answer, 0, size, reinterpret_cast<jbyte*>(copy.data()));
      if (!clearPendingException(env)) bytes->replace(&copy);
    }
  }
  if (result) env->DeleteLocalRef(result);
  if (text) env->DeleteLocalRef(text);
  if (array) env->DeleteLocalRef(array);
  busy.store(false);
}

// Tries the specs of one list on the class; true when one rewrote it.
bool wrapWith(const std::vector<MethodSpec>& specs, const std::string& name,
              const ConstantPoolIndex& pool, HookBytes* bytes) {
  for (const MethodSpec& spec : specs) {
    if (spec.targetClass != name) continue;
    char text[600];
    formatText(text, sizeof text, "Instrumenting class %s", spec.targetClass.c_str());
    logMessage(LOG_INFO, text);
    std::vector<uint8_t> rewritten;
    if (rewriteClass(bytes->data(), bytes->length(), pool, spec, &rewritten)) {
      bytes->replace(&rewritten);
      dumpIfOn(name.data(), name.size(), *bytes);
      return true;
    }
  }
  return false;
}

// Once both lists are done the hook has nothing left to do.
void turnOffWhenBothDone() {
  if (!classLoaderDone.load() || !proxyDone.load()) return;
  std::fputs("InstrumentJNI: turning off JVMPI ClassLoadHook\n", stdout);
  std::fflush(stdout);
  if (jvmpi && jvmpi->DisableEvent) jvmpi->DisableEvent(JVMPI_EVENT_CLASS_LOAD_HOOK, nullptr);
}

// The list of `awaited` has wrapped the class `name`: it is done when the JVM
// prepares that class. An interface without prepare events cannot tell, and
// the list is done at once.
void awaitAcceptance(std::string* awaited, std::atomic<bool>* done, const std::string& name) {
  {
    std::lock_guard<std::mutex> hold(acceptanceLock);
    *awaited = name;
  }
  if (jvmpi && jvmpi->EnableEvent &&
      jvmpi->EnableEvent(JVMPI_EVENT_CLASS_PREPARE, nullptr) == JVMPI_SUCCESS)
    return;
  {
    std::lock_guard<std::mutex> hold(acceptanceLock);
    awaited->clear();
  }
  done->store(true);
  turnOffWhenBothDone();
}

void wrapClassDefinition(const std::string& name, ConstantPoolIndex* pool, HookBytes* bytes) {
  const InstrumentConfig& config = instrumentConfig();
  std::atomic<bool>* done = nullptr;
  std::string* awaited = nullptr;
  if (!classLoaderDone.load() && wrapWith(config.classLoaderSpecs, name, *pool, bytes)) {
    done = &classLoaderDone;
    awaited = &loaderAwaited;
  } else if (!proxyDone.load() && wrapWith(config.proxySpecs, name, *pool, bytes)) {
    done = &proxyDone;
    awaited = &proxyAwaited;
  }
  if (!done) return;
  if (!pool->build(bytes->data(), bytes->length())) {
    bytes->revert();  // the JVM's bytes go back: nothing was wrapped
    return;
  }
  awaitAcceptance(awaited, done, name);
}

// Steps 1 to 6 on the bytes; the caller hands them back.
void instrument(JNIEnv* env, HookBytes* bytes) {
  const uint8_t* data = bytes->data();
  size_t length = bytes->length();
  uint32_t magic = 0;
  for (size_t i = 0; i < 4; i++) magic = magic << 8 | (i < length ? data[i] : 0);
  if (length < 4 || magic != 0xCAFEBABE) {
    char text[64];
    formatText(text, sizeof text, "Bad class file magic %0X", magic);
    logMessage(LOG_ERROR, text);
    return;
  }
  if (length < 8) return;
  uint16_t minor = loadBigEndian16(data + 4), major = loadBigEndian16(data + 6);
  if (major < 45 || major > 48 || (major == 48 && minor != 0)) return;

  ConstantPoolIndex pool;
  const uint8_t* nameBytes = nullptr;
  uint16_t nameLength = 0;
  bool indexed = pool.build(data, length);
  if (!indexed || static_cast<size_t>(data + length - pool.poolEnd()) < 4 ||
      !pool.className(loadBigEndian16(pool.poolEnd() + 2), &nameBytes, &nameLength)) {
    logMessage(LOG_ERROR, "Class file corrupt");
    dumpIfOn("BadClass", 8, *bytes);
    return;
  }
  std::string name(reinterpret_cast<const char*>(nameBytes), nameLength);
  std::string dotted = name;
  slashToDot(&dotted[0], dotted.size());
  for (const char* launcher : kLaunchers) {
    if (dotted == launcher) launcherSeen.store(true);
  }

  if (launcherSeen.load() && !classLoaderDone.load()) {
    handToJava(env, name, dotted, bytes);
    if (bytes->owned() && !pool.build(bytes->data(), bytes->length())) return;
  }
  if (instrumentConfig().instrumentDefineClass) wrapClassDefinition(name, &pool, bytes);
}

}  // namespace

void instrumentClassLoadHook(JVMPI_Event* event) {
  auto& hook = event->u.class_load_hook;
  hook.new_class_data = hook.class_data;
  hook.new_class_data_len = hook.class_data_len;
  if (!hook.class_data || hook.class_data_len <= 0) return;
  try {
    HookBytes bytes(hook.class_data, static_cast<size_t>(hook.class_data_len));
    instrument(event->env_id, &bytes);
    if (!bytes.owned()) return;
    void* copy = hook.malloc_f && bytes.length() <= 0x7FFFFFFF
                     ? hook.malloc_f(static_cast<unsigned int>(bytes.length()))
                     : nullptr;
    if (!copy) {
      logMessage(LOG_ERROR, "malloc_f failed");
      return;
    }
    std::memcpy(copy, bytes.data(), bytes.length());
    hook.new_class_data = static_cast<unsigned char*>(copy);
    hook.new_class_data_len = static_cast<jint>(bytes.length());
  } catch (...) {
    logMessage(LOG_ERROR, "malloc failed");
  }
}

void instrumentClassPrepared(JVMPI_Event* event) {
  const char* name = event ? event->u.class_prepare.class_name : nullptr;
  if (!name) return;
  bool loaderAccepted = false, proxyAccepted = false, awaiting = false;
  {
    std::lock_guard<std::mutex> hold(acceptanceLock);
    if (!loaderAwaited.empty() && loaderAwaited == name) {
      loaderAwaited.clear();
      loaderAccepted = true;
    }
    if (!proxyAwaited.empty() && proxyAwaited == name) {
      proxyAwaited.clear();
      proxyAccepted = true;
    }
    awaiting = !loaderAwaited.empty() || !proxyAwaited.empty();
  }
  if (!loaderAccepted && !proxyAccepted) return;
  if (loaderAccepted) classLoaderDone.store(true);
  if (proxyAccepted) proxyDone.store(true);
  if (!awaiting && jvmpi && jvmpi->DisableEvent)
    jvmpi->DisableEvent(JVMPI_EVENT_CLASS_PREPARE, nullptr);
  turnOffWhenBothDone();
}

void setJavaInstrumentEntry(jclass (*bootstrapClass)(), jmethodID (*method)()) {
  javaClass.store(bootstrapClass);
  javaMethod.store(method);
}

void dumpClass(const char* name, size_t nameLength, const uint8_t* bytes, size_t length) {
  std::string path = instrumentConfig().dumpPath;
  path.append(name, nameLength);
  slashToDot(&path[path.size() - nameLength], nameLength);
  path += ".class";
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes, 1, length, file);
    std::fclose(file);
  }
}

void resetClassLoadHook() {
  launcherSeen.store(false);
  classLoaderDone.store(false);
  proxyDone.store(false);
  busy.store(false);
  reentered.store(false);
  std::lock_guard<std::mutex> hold(acceptanceLock);
  loaderAwaited.clear();
  proxyAwaited.clear();
}
