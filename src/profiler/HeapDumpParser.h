// The reader of a profiler heap dump (level 2) and the per-class summary the
// heap snapshot reports. Object ids are 4 bytes as stored; other integers are
// big-endian. Every read is checked against the dump's end: a record cut
// short ends the parse with what was counted so far.
//
// Class information (name, interface count, static field types) comes from a
// source the caller gives, asked by class id; during a snapshot that is a
// class load requested from the profiler interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/jvmpi.h"

// What a requested class load tells about a class.
struct HeapClassInfo {
  char name[512] = {0};  // at most 511 bytes
  int32_t interfaceCount = 0;
  int32_t staticCount = 0;
  jobjectID classId = 0;
  // The basic type of each static field (staticCount entries).
  std::unique_ptr<int8_t[]> staticTypes;
};

// Fills `info` for a class id; false when no information can be had.
using ClassInfoSource = bool (*)(void* context, jobjectID classId, HeapClassInfo* info);

// The basic type of a field from the first character of its signature.
int8_t basicTypeOfSignature(const char* signature);

struct HeapTotals {
  int64_t instances = 0;
  int64_t instanceBytes = 0;
  int64_t objectArrays = 0;
  int64_t objectArrayBytes = 0;
  int64_t primitiveArrays = 0;
  int64_t primitiveArrayBytes = 0;

  int64_t objects() const { return instances + objectArrays + primitiveArrays; }
  int64_t bytes() const { return instanceBytes + objectArrayBytes + primitiveArrayBytes; }
};

class HeapDumpParser {
 public:
  static constexpr size_t kMaxClasses = 20000;

  struct ClassLine {
    std::string name;
    uint64_t count = 0;
    uint64_t bytes = 0;
  };

  HeapDumpParser(ClassInfoSource source, void* context) : source_(source), context_(context) {}

  // Resets the counts and the summary, then reads the dump. False when memory
  // for the summary ran out (what was counted stays).
  bool parse(const uint8_t* begin, const uint8_t* end);

  // A dump has been read since the parser was made.
  bool parsed() const { return parsed_; }
  const HeapTotals& totals() const { return totals_; }
  const std::vector<ClassLine>& classes() const { return classes_; }

  // The summary text: totals, the class lines by bytes (smallest first),
  // then "primitive[]" and "object[]". Null when the text buffer could not
  // grow. The summary entries are released afterwards.
  std::unique_ptr<char[]> summaryText();

 private:
  bool readClassDump();
  bool readInstanceDump();
  bool readObjectArray();
  bool readPrimitiveArray();
  void countInstance(jobjectID classId, uint32_t size);

  bool skip(size_t count);
  bool readU1(uint8_t* value);
  bool readU2(uint16_t* value);
  bool readU4(uint32_t* value);
  bool readId(jobjectID* value);

  ClassInfoSource source_;
  void* context_;
  const uint8_t* cursor_ = nullptr;
  const uint8_t* end_ = nullptr;
  bool parsed_ = false;
  HeapTotals totals_;
  std::vector<ClassLine> classes_;
  // Class id to its line in classes_ (-1: no information or no room), so
  // that each class's information is asked for once per dump.
  std::unordered_map<jobjectID, int32_t> lineOfClass_;
  std::unordered_map<std::string, int32_t> lineOfName_;
};
