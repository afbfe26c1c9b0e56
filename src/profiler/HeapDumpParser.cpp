#include "profiler/HeapDumpParser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/BigEndian.h"
#include "base/Log.h"

namespace {

enum : uint8_t {
  ROOT_UNKNOWN = 0xFF,
  ROOT_JNI_GLOBAL = 1,
  ROOT_JNI_LOCAL = 2,
  ROOT_JAVA_FRAME = 3,
  ROOT_NATIVE_STACK = 4,
  ROOT_STICKY_CLASS = 5,
  ROOT_THREAD_BLOCK = 6,
  ROOT_MONITOR_USED = 7,
  CLASS_DUMP = 0x20,
  INSTANCE_DUMP = 0x21,
  OBJECT_ARRAY_DUMP = 0x22,
  PRIMITIVE_ARRAY_DUMP = 0x23,
};

constexpr size_t kTextStart = 128 * 1024;
constexpr size_t kTextStep = 64 * 1024;

// The summary text buffer, grown in fixed steps.
class TextBuffer {
 public:
  bool append(const char* line, size_t length) {
    while (used_ + length + 1 > size_) {
      size_t bigger = size_ == 0 ? kTextStart : size_ + kTextStep;
      std::unique_ptr<char[]> grown(new (std::nothrow) char[bigger]);
      if (!grown) return false;
      if (used_ > 0) std::memcpy(grown.get(), text_.get(), used_);
      text_ = std::move(grown);
      size_ = bigger;
    }
    std::memcpy(text_.get() + used_, line, length);
    used_ += length;
    text_[used_] = '\0';
    return true;
  }
  std::unique_ptr<char[]> take() { return std::move(text_); }

 private:
  std::unique_ptr<char[]> text_;
  size_t size_ = 0;
  size_t used_ = 0;
};

double percentOf(uint64_t value, int64_t total) {
  return total > 0 ? static_cast<double>(value) / static_cast<double>(total) * 100.0 : 0.0;
}

bool appendLine(TextBuffer& text, const char* name, uint64_t bytes, int64_t totalBytes,
                uint64_t count, int64_t totalObjects) {
  char line[700];
  int length = std::snprintf(line, sizeof line, "%s,%lu,%.1lf,%lu,%.1lf\n", name,
                             static_cast<unsigned long>(bytes), percentOf(bytes, totalBytes),
                             static_cast<unsigned long>(count), percentOf(count, totalObjects));
  if (length < 0) return true;
  return text.append(line, std::min(static_cast<size_t>(length), sizeof line - 1));
}

}  // namespace

int8_t basicTypeOfSignature(const char* signature) {
  switch (signature ? signature[0] : 0) {
    case 'B':
      return 8;
    case 'C':
      return 5;
    case 'D':
      return 7;
    case 'F':
      return 6;
    case 'I':
      return 10;
    case 'J':
      return 11;
    case 'L':
    case '[':
      return 2;
    case 'S':
      return 9;
    case 'Z':
      return 4;
    default:
      return 0;
  }
}

bool HeapDumpParser::skip(size_t count) {
  if (count > static_cast<size_t>(end_ - cursor_)) {
    cursor_ = end_;
    return false;
  }
  cursor_ += count;
  return true;
}

bool HeapDumpParser::readU1(uint8_t* value) {
  if (end_ - cursor_ < 1) return skip(1);
  *value = *cursor_++;
  return true;
}

bool HeapDumpParser::readU2(uint16_t* value) {
  if (end_ - cursor_ < 2) return skip(2);
  *value = loadBigEndian16(cursor_);
  cursor_ += 2;
  return true;
}

bool HeapDumpParser::readU4(uint32_t* value) {
  if (end_ - cursor_ < 4) return skip(4);
  *value = loadBigEndian32(cursor_);
  cursor_ += 4;
  return true;
}

bool HeapDumpParser::readId(jobjectID* value) {
  if (end_ - cursor_ < 4) return skip(4);
  std::memcpy(value, cursor_, 4);
  cursor_ += 4;
  return true;
}

bool HeapDumpParser::parse(const uint8_t* begin, const uint8_t* end) {
  parsed_ = true;
  totals_ = HeapTotals();
  classes_.clear();
  lineOfClass_.clear();
  lineOfName_.clear();
  cursor_ = begin;
  end_ = begin && end > begin ? end : begin;
  try {
    bool more = true;
    while (more && cursor_ < end_) {
      switch (*cursor_++) {
        case ROOT_UNKNOWN:
        case ROOT_STICKY_CLASS:
        case ROOT_MONITOR_USED:
          more = skip(4);
          break;
        case ROOT_JNI_GLOBAL:
        case ROOT_NATIVE_STACK:
        case ROOT_THREAD_BLOCK:
          more = skip(8);
          break;
        case ROOT_JNI_LOCAL:
        case ROOT_JAVA_FRAME:
          more = skip(12);
          break;
        case CLASS_DUMP:
          more = readClassDump();
          break;
        case INSTANCE_DUMP:
          more = readInstanceDump();
          break;
        case OBJECT_ARRAY_DUMP:
          more = readObjectArray();
          break;
        case PRIMITIVE_ARRAY_DUMP:
          more = readPrimitiveArray();
          break;
        default:  // the next byte is read as a tag
          break;
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Without the class's information its length is unknown: the parse goes on
// from the byte after the class id.
bool HeapDumpParser::readClassDump() {
  jobjectID classId = 0;
  if (!readId(&classId)) return false;
  HeapClassInfo info;
  if (!source_ || !source_(context_, classId, &info)) return true;
  uint32_t instanceSize = 0;
  uint16_t poolCount = 0;
  if (!skip(24) || !readU4(&instanceSize)) return false;
  if (info.interfaceCount > 0 && !skip(4 * static_cast<size_t>(info.interfaceCount))) return false;
  if (!readU2(&poolCount) || !skip(7 * static_cast<size_t>(poolCount))) return false;
  for (int32_t i = 0; info.staticTypes && i < info.staticCount; i++) {
    if (!skip(jvmpiBasicTypeSize(info.staticTypes[i]))) return false;
  }
  return true;
}

bool HeapDumpParser::readInstanceDump() {
  jobjectID classId = 0;
  uint32_t size = 0;
  if (!skip(4) || !readId(&classId) || !readU4(&size) || !skip(size)) return false;
  totals_.instances++;
  totals_.instanceBytes += size;
  countInstance(classId, size);
  return true;
}

void HeapDumpParser::countInstance(jobjectID classId, uint32_t size) {
  auto known = lineOfClass_.find(classId);
  int32_t line = -1;
  if (known != lineOfClass_.end()) {
    line = known->second;
  } else {
    HeapClassInfo info;
    if (source_ && source_(context_, classId, &info)) {
      info.name[sizeof info.name - 1] = '\0';
      std::string name(info.name);
      auto named = lineOfName_.find(name);
      if (named != lineOfName_.end()) {
        line = named->second;
      } else if (classes_.size() < kMaxClasses) {
        line = static_cast<int32_t>(classes_.size());
        classes_.push_back(ClassLine{name, 0, 0});
        lineOfName_.emplace(std::move(name), line);
      }
    }
    lineOfClass_.emplace(classId, line);
  }
  if (line < 0) return;
  classes_[static_cast<size_t>(line)].count++;
  classes_[static_cast<size_t>(line)].bytes += size;
}

bool HeapDumpParser::readObjectArray() {
  uint32_t count = 0;
  if (!skip(4) || !readU4(&count) || !skip(4) || !skip(4 * static_cast<size_t>(count)))
    return false;
  totals_.objectArrays++;
  totals_.objectArrayBytes += 4 * static_cast<int64_t>(count);
  return true;
}

bool HeapDumpParser::readPrimitiveArray() {
  uint32_t count = 0;
  uint8_t type = 0;
  if (!skip(4) || !readU4(&count) || !readU1(&type)) return false;
  size_t element = type == 2 ? 0 : jvmpiBasicTypeSize(type);
  if (element == 0) return true;
  size_t bytes = element * count;
  if (!skip(bytes)) return false;
  totals_.primitiveArrays++;
  totals_.primitiveArrayBytes += static_cast<int64_t>(bytes);
  return true;
}

std::unique_ptr<char[]> HeapDumpParser::summaryText() {
  std::vector<ClassLine> lines = std::move(classes_);
  classes_.clear();
  lineOfClass_.clear();
  lineOfName_.clear();
  std::stable_sort(lines.begin(), lines.end(),
                   [](const ClassLine& a, const ClassLine& b) { return a.bytes < b.bytes; });
  const int64_t totalBytes = totals_.bytes();
  const int64_t totalObjects = totals_.objects();
  TextBuffer text;
  char head[64];
  int length = std::snprintf(head, sizeof head, "%ld,%ld\n", static_cast<long>(totalBytes),
                             static_cast<long>(totalObjects));
  bool ok = text.append(head, static_cast<size_t>(length));
  for (const ClassLine& line : lines) {
    ok =
        ok && appendLine(text, line.name.c_str(), line.bytes, totalBytes, line.count, totalObjects);
  }
  ok = ok && appendLine(text, "primitive[]", static_cast<uint64_t>(totals_.primitiveArrayBytes),
                        totalBytes, static_cast<uint64_t>(totals_.primitiveArrays), totalObjects);
  ok = ok && appendLine(text, "object[]", static_cast<uint64_t>(totals_.objectArrayBytes),
                        totalBytes, static_cast<uint64_t>(totals_.objectArrays), totalObjects);
  if (!ok) {
    logCatalogArgs(LOG_INFO, "PROBE_INFO", "realloc failed to create class summary string\n");
    return nullptr;
  }
  return text.take();
}
