#include "profiler/HeapSnapshot.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "config/Identity.h"
#include "profiler/EventHandler.h"
#include "profiler/HeapDumpParser.h"

namespace {

std::mutex snapshotLock;

// Where a class load requested on this thread during a dump is copied; null
// outside a class-information request.
thread_local HeapClassInfo* classInfoTarget = nullptr;
thread_local bool classInfoCopied = false;
// The parser of the snapshot running on this thread.
thread_local HeapDumpParser* activeParser = nullptr;

bool requestClassInfo(void*, jobjectID classId, HeapClassInfo* info) {
  JVMPI_Interface* table = jvmpi;
  if (!table || !table->RequestEvent || classId == 0) return false;
  classInfoTarget = info;
  classInfoCopied = false;
  jint answer =
      table->RequestEvent(JVMPI_EVENT_CLASS_LOAD, reinterpret_cast<void*>(uintptr_t{classId}));
  classInfoTarget = nullptr;
  return answer == JVMPI_SUCCESS && classInfoCopied;
}

void parseDump(char* begin, char* end) {
  if (activeParser)
    activeParser->parse(reinterpret_cast<const uint8_t*>(begin),
                        reinterpret_cast<const uint8_t*>(end));
}

// The megabytes of an "-Xmx" value: digits, then an optional unit letter.
long megabytesOfValue(const char* value) {
  unsigned long long number = 0;
  const char* p = value;
  while (*p >= '0' && *p <= '9') {
    number = number * 10 + static_cast<unsigned>(*p - '0');
    if (number > (1ULL << 50)) break;
    p++;
  }
  unsigned long long megabytes = 0;
  switch (*p) {
    case 'k':
    case 'K':
      megabytes = number / 1024;
      break;
    case 'm':
    case 'M':
      megabytes = number;
      break;
    case 'g':
    case 'G':
      megabytes = number * 1024;
      break;
    case 't':
    case 'T':
      megabytes = number * 1024 * 1024;
      break;
    default:
      megabytes = number / (1024 * 1024);
      break;
  }
  const unsigned long long most = 1ULL << 40;
  return static_cast<long>(megabytes > most ? most : megabytes);
}

}  // namespace

long heapMegabytesOf(int count, const char* const* options) {
  long megabytes = 0;
  for (int i = 0; i < count; i++) {
    const char* option = options[i];
    for (const char* found = option ? std::strstr(option, "-Xmx") : nullptr; found;
         found = std::strstr(found + 4, "-Xmx"))
      megabytes = megabytesOfValue(found + 4);
  }
  return megabytes == 0 ? 128 : megabytes;
}

long heapMegabytes() {
  int count = argumentCount();
  std::unique_ptr<const char*[]> options(new (std::nothrow) const char*[count > 0 ? count : 1]);
  if (!options) return 128;
  for (int i = 0; i < count; i++) options[i] = argumentAt(i);
  return heapMegabytesOf(count, options.get());
}

double heapRoomFor(long megabytes) {
  return static_cast<double>(static_cast<unsigned long long>(1677721.6 * megabytes));
}

int testHeapDumpEnvironment() {
  const double bytes = heapRoomFor(heapMegabytes());
  if (bytes >= static_cast<double>(SIZE_MAX)) return 1;
  // Kept in a volatile so that the allocation is really made.
  void* volatile room = std::malloc(static_cast<size_t>(bytes));
  if (!room) return 1;
  std::free(room);
  return 0;
}

void copyHeapDumpClassInfo(JVMPI_Event* event) {
  HeapClassInfo* info = classInfoTarget;
  if (!info || !event) return;
  const auto& load = event->u.class_load;
  const char* name = load.class_name ? load.class_name : "";
  std::strncpy(info->name, name, sizeof info->name - 1);
  info->name[sizeof info->name - 1] = '\0';
  info->interfaceCount = load.num_interfaces > 0 ? load.num_interfaces : 0;
  info->classId = load.class_id;
  info->staticCount = 0;
  info->staticTypes.reset();
  if (load.num_static_fields > 0 && load.statics) {
    info->staticTypes.reset(new (std::nothrow) int8_t[load.num_static_fields]);
    if (info->staticTypes) {
      info->staticCount = load.num_static_fields;
      for (jint i = 0; i < load.num_static_fields; i++)
        info->staticTypes[i] = basicTypeOfSignature(load.statics[i].field_signature);
    }
  }
  classInfoCopied = true;
}

int takeHeapSnapshot(std::unique_ptr<char[]>* text) {
  text->reset();
  std::lock_guard<std::mutex> one(snapshotLock);
  if (testHeapDumpEnvironment() != 0) return HEAP_SNAPSHOT_NO_MEMORY;
  JVMPI_Interface* table = jvmpi;
  if (!table || !table->RequestEvent) return HEAP_SNAPSHOT_OK;
  HeapDumpParser parser(&requestClassInfo, nullptr);
  setHeapDumpHandlers(&parseDump, &copyHeapDumpClassInfo);
  activeParser = &parser;
  bool dumped = false;
  {
    JVMPI_HeapDumpArg level{JVMPI_DUMP_LEVEL_2};
    dumped = table->RequestEvent(JVMPI_EVENT_HEAP_DUMP, &level) == JVMPI_SUCCESS;
  }
  activeParser = nullptr;
  if (dumped && parser.parsed()) *text = parser.summaryText();
  return HEAP_SNAPSHOT_OK;
}
