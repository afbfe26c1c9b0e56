// Reading of raw class-file bytes: a bounds-checked big-endian reader, the
// constant-pool index, and the sizes of members and attributes. There is no
// class model: the rewriter works on the bytes through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>
#include "base/BigEndian.h"

// Constant-pool tags the agent knows.
enum : uint8_t {
  CP_UTF8 = 1,
  CP_INTEGER = 3,
  CP_FLOAT = 4,
  CP_LONG = 5,
  CP_DOUBLE = 6,
  CP_CLASS = 7,
  CP_STRING = 8,
  CP_FIELDREF = 9,
  CP_METHODREF = 10,
  CP_INTERFACE_METHODREF = 11,
  CP_NAME_AND_TYPE = 12,
};

// A cursor over [start, end): every read checks that its bytes are there and
// leaves the cursor failed (and every later read failing) when they are not.
class ByteReader {
 public:
  ByteReader(const uint8_t* start, const uint8_t* end) : at_(start), end_(end) {}

  bool u1(uint8_t* out);
  bool u2(uint16_t* out);
  bool u4(uint32_t* out);
  bool skip(size_t count);

  const uint8_t* position() const { return at_; }
  size_t remaining() const { return ok_ ? static_cast<size_t>(end_ - at_) : 0; }
  bool ok() const { return ok_; }

 private:
  bool fail() { return ok_ = false; }

  const uint8_t* at_;
  const uint8_t* end_;
  bool ok_ = true;
};

// Skips one field_info or method_info (8 bytes + its attributes); false when
// the member runs past the end.
bool skipMember(ByteReader& in);
// Skips one attribute (6 bytes + its u4 length); false when it runs past the end.
bool skipAttribute(ByteReader& in);
// Skips a u2 count of attributes and the attributes.
bool skipAttributes(ByteReader& in);

// The constant-pool index of one class file. Entries point into the class
// bytes, which must outlive the index. Every entry lies wholly inside the
// bytes; the accessors check index range and tag, so a lying reference gives
// null instead of a read outside the pool.
class ConstantPoolIndex {
 public:
  // Indexes the pool that starts at the count (class bytes + 8). False, with
  // an error logged for an unknown tag, when the pool is cut short or holds
  // an entry the agent does not know.
  bool build(const uint8_t* classBytes, size_t length);

  uint16_t count() const { return count_; }
  // The entry's tag byte, or null for index 0, an index past the pool or the
  // slot after a Long or Double.
  const uint8_t* entry(uint32_t index) const;
  // The entry when it carries the given tag, else null.
  const uint8_t* entry(uint32_t index, uint8_t tag) const;
  // The bytes and length of a Utf8 entry; false when index is not one.
  bool utf8(uint32_t index, const uint8_t** bytes, uint16_t* length) const;
  // The name of a Class entry (a Utf8); false when index is not a Class
  // whose name is a Utf8.
  bool className(uint32_t index, const uint8_t** bytes, uint16_t* length) const;

  // The first byte after the pool: the class's access_flags.
  const uint8_t* poolEnd() const { return end_; }

 private:
  std::vector<const uint8_t*> entries_;
  uint16_t count_ = 0;
  const uint8_t* end_ = nullptr;
};
