#include "diag/ThreadDump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/Log.h"
#include "config/ProbeState.h"
#include "config/PropertyMgr.h"
#include "platform/os.h"
#include "platform/ras.h"

namespace {

void logText(int level, const char* key, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void logText(int level, const char* key, const char* fmt, ...) {
  if (level > logLevel.load(std::memory_order_relaxed)) return;
  char text[1200];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  logCatalogArgs(level, key, static_cast<const char*>(text));
}

#define LOG_DEBUG_TEXT(...) logText(LOG_DEBUG, "PROBE_DEBUG", __VA_ARGS__)

// Reads an optionally signed decimal number as a "%d" conversion would, with
// no overflow: false when there is none or it does not fit an int.
bool readInt(const char** cursor, long long* value) {
  const char* p = *cursor;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  if (*p < '0' || *p > '9') return false;
  long long v = 0;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + (*p - '0');
    if (v > 2147483648LL) return false;
    p++;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) return false;
  *value = v;
  *cursor = p;
  return true;
}

std::string pathIn(const char* dir, const std::string& name) {
  if (!dir || !*dir || std::strcmp(dir, ".") == 0) return name;
  std::string path(dir);
  if (path.back() != os::kPathSeparator) path.push_back(os::kPathSeparator);
  return path + name;
}

std::vector<std::string> sortedEntries(const char* dir, const char* prefix, bool* listed,
                                       int* error) {
  std::vector<std::string> names;
  *listed = os::listDirectory(dir, prefix, &names, error);
  std::sort(names.begin(), names.end());
  return names;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The reliability interface, asked of the JVM the calling thread runs in.
RasInterface* obtainRas(JNIEnv* env) {
  JavaVM* vm = nullptr;
  if (!env || env->GetJavaVM(&vm) != JNI_OK || !vm) return nullptr;
  void* ras = nullptr;
  if (rasGetEnv(vm, &ras, JAVA_RAS_VERSION) != JNI_OK) return nullptr;
  return static_cast<RasInterface*>(ras);
}

// Held once obtained, for the stack traces (set without a lock: every thread
// that sets it sets the same value).
std::atomic<RasInterface*> heldRas{nullptr};

}  // namespace

bool javacoreNameTime(const char* name, int64_t* seconds) {
  if (!name || std::strncmp(name, "javacore.", 9) != 0) return false;
  const char* p = name + 9;
  long long date, time, pid;
  if (!readInt(&p, &date) || *p++ != '.' || !readInt(&p, &time) || *p++ != '.' ||
      !readInt(&p, &pid))
    return false;
  return os::localTimeToSeconds(static_cast<int>(date / 10000), static_cast<int>(date / 100 % 100),
                                static_cast<int>(date % 100), static_cast<int>(time / 10000),
                                static_cast<int>(time / 100 % 100), static_cast<int>(time % 100),
                                seconds);
}

DumpSearch findThreadDumpFile(const char* dir, int processId, int64_t triggerSeconds,
                              std::string* name) {
  char pattern[1300];
  std::snprintf(pattern, sizeof pattern, "%s%cjavacore*%d.txt", dir, os::kPathSeparator, processId);
  logText(LOG_DEBUG, "NATIVE_THREADDUMP_INFO", "%s", dir);
  logText(LOG_DEBUG, "NATIVE_THREADDUMP_INFO", "%s", pattern);
  bool listed = false;
  int error = 0;
  std::vector<std::string> names = sortedEntries(dir, "javacore", &listed, &error);
  if (!listed) {
    logText(LOG_ERROR, "NATIVE_THREADDUMP_ERROR", "Invalid File Handle. Get Last Error reports %d",
            error);
    return DumpSearch::CannotSearch;
  }
  const std::string end = std::to_string(processId) + ".txt";
  bool first = true;
  for (const std::string& candidate : names) {
    if (!endsWith(candidate, end)) continue;
    logText(LOG_DEBUG, "NATIVE_THREADDUMP_INFO",
            first ? "The first found is %s" : "The next found is %s", candidate.c_str());
    first = false;
    // File times come from a coarser clock than the system time, so both
    // are compared in whole seconds.
    int64_t created = 0;
    if (os::fileCreatedSeconds(pathIn(dir, candidate).c_str(), &created) &&
        created >= triggerSeconds) {
      *name = candidate;
      return DumpSearch::Found;
    }
  }
  logText(LOG_ERROR, "NATIVE_THREADDUMP_ERROR", "%s", "Can't find javacore");
  return DumpSearch::NotFound;
}

bool generateThreadDumpFile(JNIEnv* env, std::string* name) {
  os::LocalTime utc = os::utcTime();
  int64_t triggerSeconds = os::nowSeconds();
  logText(LOG_DEBUG, "NATIVE_THREADDUMP_INFO", "Current time is %02d/%02d/%d   %02d:%02d:%02d",
          utc.month, utc.day, utc.year, utc.hour, utc.minute, utc.second);
  RasInterface* ras = obtainRas(env);
  if (!ras || !ras->GenerateJavacore) {
    logText(LOG_ERROR, "NATIVE_THREADDUMP_ERROR", "%s", "Unable to get RAS");
    return false;
  }
  ras->GenerateJavacore(env);
  os::sleepMillis(2000);
  int error = 0;
  // A longer current directory is cut, as a 256-character buffer would; the
  // search then fails and says so.
  std::string dir = os::currentDirectory(&error).substr(0, 256);
  return findThreadDumpFile(dir.c_str(), os::processId(), triggerSeconds, name) ==
         DumpSearch::Found;
}

bool examineJavacore(const char* dir, const char* name, int64_t noteSeconds,
                     uint32_t threadObjectId, int maxFrames, std::vector<JavacoreFrame>* frames) {
  if (!name || std::strncmp(name, "javacore", 8) != 0) return false;
  int64_t fileSeconds = 0;
  if (!javacoreNameTime(name, &fileSeconds)) {
    LOG_DEBUG_TEXT("Could not convert time for %s", name);
    return false;
  }
  LOG_DEBUG_TEXT("File time is %ld", static_cast<long>(fileSeconds));
  if (fileSeconds < noteSeconds) {
    LOG_DEBUG_TEXT("Not processing %s", name);
    return false;
  }
  std::string path = pathIn(dir, name);
  JavacoreParser parser(threadObjectId, maxFrames);
  if (std::FILE* in = std::fopen(path.c_str(), "r")) {
    parser.parseFile(in);
    std::fclose(in);
    os::removeFile(path.c_str());
  }
  *frames = parser.frames();
  LOG_DEBUG_TEXT("Searched thread dump in %s for thread id %lu", name,
                 static_cast<unsigned long>(threadObjectId));
  if (frames->empty())
    LOG_DEBUG_TEXT("Stack trace for thread id %lu was not found",
                   static_cast<unsigned long>(threadObjectId));
  return true;
}

void searchJavacores(const char* dir, int64_t noteSeconds, uint32_t threadObjectId, int maxFrames,
                     std::vector<JavacoreFrame>* frames) {
  bool listed = false;
  int error = 0;
  std::vector<std::string> names = sortedEntries(dir, "javacore", &listed, &error);
  if (!listed) {
    LOG_DEBUG_TEXT("Invalid File Handle. Get Last Error reports %d", error);
    return;
  }
  bool first = true;
  for (const std::string& name : names) {
    LOG_DEBUG_TEXT(first ? "The first file found is %s" : "Next File found is %s", name.c_str());
    first = false;
    if (examineJavacore(dir, name.c_str(), noteSeconds, threadObjectId, maxFrames, frames) &&
        !frames->empty())
      return;
  }
  frames->clear();
}

void stackTraceFromJavacore(JNIEnv* env, uint32_t threadObjectId, int maxFrames,
                            std::vector<JavacoreFrame>* frames) {
  LOG_DEBUG_TEXT("Getting stack trace for thread id %lu",
                 static_cast<unsigned long>(threadObjectId));
  const char* version = appServerProductVersion();
  if (version && (std::strcmp(version, "4.0.1") == 0 || std::strcmp(version, "4.0.2") == 0)) return;
  int64_t noteSeconds = os::nowSeconds();
  LOG_DEBUG_TEXT("Current time is %ld", static_cast<long>(noteSeconds));
  RasInterface* ras = heldRas.load(std::memory_order_acquire);
  if (!ras) {
    ras = obtainRas(env);
    if (!ras || !ras->DumpThreadStacks) {
      LOG_DEBUG_TEXT("%s", "Unable to get RAS");
      return;
    }
    heldRas.store(ras, std::memory_order_release);
  }
  ras->DumpThreadStacks(env, RAS_DUMP_THREAD_STACKS);
  LOG_DEBUG_TEXT("%s", "Triggered RAS to obtain stack trace for thread");
  os::sleepMillis(stackTraceSleepMillis());
  searchJavacores(".", noteSeconds, threadObjectId, maxFrames, frames);
}

int stackTraceSleepMillis() {
  int millis = getIntProperty("internal.stacktrace.sleep", 5000);
  return millis < 0 ? 5000 : millis;
}
