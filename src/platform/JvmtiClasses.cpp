#include "platform/JvmtiClasses.h"
#include "platform/JvmtiClassesTestAccess.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

std::mutex idLock;
std::vector<jweak> classes;      // class id n is classes[n - 1]
std::vector<jmethodID> methods;  // method id 8n is methods[n - 1]
std::unordered_map<jmethodID, jmethodIDp> methodIds;

}  // namespace

jobjectID jvmtiClassIdOf(JNIEnv* jni, jclass cls) {
  std::lock_guard<std::mutex> hold(idLock);
  for (size_t i = 0; i < classes.size(); i++)
    if (jni->IsSameObject(classes[i], cls)) return static_cast<jobjectID>(i + 1);
  jweak weak = jni->NewWeakGlobalRef(cls);
  if (!weak) return 0;
  classes.push_back(weak);
  return static_cast<jobjectID>(classes.size());
}

jmethodIDp jvmtiMethodIdOf(jmethodID method) {
  std::lock_guard<std::mutex> hold(idLock);
  auto found = methodIds.find(method);
  if (found != methodIds.end()) return found->second;
  methods.push_back(method);
  auto id = static_cast<jmethodIDp>(methods.size() * 8);
  methodIds.emplace(method, id);
  return id;
}

namespace {

jweak classOf(jobjectID id) {
  std::lock_guard<std::mutex> hold(idLock);
  return id > 0 && id <= classes.size() ? classes[id - 1] : nullptr;
}

jmethodID methodOf(jmethodIDp id) {
  std::lock_guard<std::mutex> hold(idLock);
  size_t n = id / 8;
  return id % 8 == 0 && n > 0 && n <= methods.size() ? methods[n - 1] : nullptr;
}

// JVMTI memory released when the event is done with it.
struct JvmtiStrings {
  jvmtiEnv* jvmti;
  std::vector<char*> held;
  explicit JvmtiStrings(jvmtiEnv* j) : jvmti(j) {}
  ~JvmtiStrings() {
    for (char* p : held) jvmti->Deallocate(reinterpret_cast<unsigned char*>(p));
  }
  JvmtiStrings(const JvmtiStrings&) = delete;
  JvmtiStrings& operator=(const JvmtiStrings&) = delete;
  char* keep(char* p) {
    if (p) held.push_back(p);
    return p;
  }
};

// "Lpkg/Name;" gives "pkg/Name"; array and primitive signatures stay as they
// are (the class table ignores them).
std::string nameOfSignature(const char* signature) {
  size_t length = std::strlen(signature);
  if (length >= 2 && signature[0] == 'L' && signature[length - 1] == ';')
    return std::string(signature + 1, length - 2);
  return signature;
}

}  // namespace

jint jvmtiRequestClassLoad(jvmtiEnv* jvmti, JNIEnv* jni, jobjectID classId,
                           void (*deliver)(JVMPI_Event*)) {
  jweak weak = classOf(classId);
  if (!weak || !jvmti || !jni) return JVMPI_NOT_AVAILABLE;
  auto cls = static_cast<jclass>(jni->NewLocalRef(weak));
  if (!cls) return JVMPI_NOT_AVAILABLE;  // unloaded
  JvmtiStrings strings(jvmti);
  char* signature = nullptr;
  jint count = 0;
  jmethodID* declared = nullptr;
  jint answer = JVMPI_NOT_AVAILABLE;
  if (jvmti->GetClassSignature(cls, &signature, nullptr) == JVMTI_ERROR_NONE &&
      strings.keep(signature) &&
      jvmti->GetClassMethods(cls, &count, &declared) == JVMTI_ERROR_NONE) {
    strings.keep(reinterpret_cast<char*>(declared));
    std::vector<JVMPI_Method> list;
    for (jint i = 0; i < count; i++) {
      char* name = nullptr;
      char* methodSignature = nullptr;
      if (jvmti->GetMethodName(declared[i], &name, &methodSignature, nullptr) != JVMTI_ERROR_NONE)
        continue;
      list.push_back(
          {strings.keep(name), strings.keep(methodSignature), 0, 0, jvmtiMethodIdOf(declared[i])});
    }
    std::string className = nameOfSignature(signature);
    JVMPI_Event event{};
    event.event_type = JVMPI_EVENT_CLASS_LOAD | JVMPI_REQUESTED_EVENT;
    event.env_id = jni;
    event.u.class_load.class_name = className.c_str();
    event.u.class_load.num_methods = static_cast<jint>(list.size());
    event.u.class_load.methods = list.data();
    event.u.class_load.class_id = classId;
    deliver(&event);
    answer = JVMPI_SUCCESS;
  }
  jni->DeleteLocalRef(cls);
  return answer;
}

jobjectID jvmtiMethodClass(jvmtiEnv* jvmti, JNIEnv* jni, jmethodIDp methodId) {
  jmethodID method = methodOf(methodId);
  jclass declaring = nullptr;
  if (!method || !jvmti || !jni ||
      jvmti->GetMethodDeclaringClass(method, &declaring) != JVMTI_ERROR_NONE || !declaring)
    return 0;
  jobjectID id = jvmtiClassIdOf(jni, declaring);
  jni->DeleteLocalRef(declaring);
  return id;
}

void jvmtiClassesReset() {
  std::lock_guard<std::mutex> hold(idLock);
  classes.clear();
  methods.clear();
  methodIds.clear();
}
