// The heap dump reader and its summary text on arbitrary bytes. Class
// information is made up from the class id, so that class dumps of every
// shape (interfaces, static fields of every basic type) are read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "profiler/HeapDumpParser.h"

namespace {

bool classInfo(void*, jobjectID classId, HeapClassInfo* info) {
  if (classId % 5 == 0) return false;
  std::snprintf(info->name, sizeof info->name, "c%u", classId % 64);
  info->classId = classId;
  info->interfaceCount = static_cast<int32_t>(classId % 7);
  info->staticCount = static_cast<int32_t>(classId % 13);
  info->staticTypes.reset(new int8_t[static_cast<size_t>(info->staticCount) + 1]);
  for (int32_t i = 0; i < info->staticCount; i++)
    info->staticTypes[i] = static_cast<int8_t>((classId >> 3) + static_cast<uint32_t>(i)) % 13;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HeapDumpParser parser(&classInfo, nullptr);
  parser.parse(data, data + size);
  // Every byte counted was skipped over inside the input.
  if (parser.totals().bytes() > static_cast<int64_t>(size)) std::abort();
  std::unique_ptr<char[]> text = parser.summaryText();
  if (!text) std::abort();  // a small summary always fits
  return 0;
}
