// ProbeController.setIncludeExcludeList: new include and exclude lists, and
// the filter of every class recomputed.
#include <jni.h>

#include <string>
#include <vector>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "platform/EntryGuard.h"
#include "profiler/ClassFilter.h"
#include "profiler/ClassTable.h"
#include "profiler/Tables.h"

namespace {

// A null array gives an empty list, a null element an empty string.
std::vector<std::string> copyList(JNIEnv* env, jobjectArray array, const char* logKey) {
  std::vector<std::string> list;
  if (!array) return list;
  jsize length = env->GetArrayLength(array);
  list.reserve(static_cast<size_t>(length));
  for (jsize i = 0; i < length; i++) {
    auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
    clearPendingException(env);
    {
      JavaChars chars(env, element);
      list.emplace_back(chars.get() ? chars.get() : "");
    }
    if (element) env->DeleteLocalRef(element);
    logCatalogArgs(LOG_DEBUG, logKey, list.back().c_str());
  }
  return list;
}

}  // namespace

extern "C" JNIEXPORT void JNICALL Java_com_halden_probe_ProbeController_setIncludeExcludeList(
    JNIEnv* env, jclass, jobjectArray include, jobjectArray exclude) {
  guardedEntry("setIncludeExcludeList", [&]() {
    // Readers of the old lists keep them until they are done (ClassFilter.h).
    setFilterLists(copyList(env, include, "PROBE_INCLUDE_LIST"),
                   copyList(env, exclude, "PROBE_EXCLUDE_LIST"));
    if (ClassTable* table = classTable()) table->refilter();
  });
}
