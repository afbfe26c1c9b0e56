// A record decoded from the collector connection: where it sat in the
// stream, which layout its tag selected, and its fields by name in wire
// order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace psdump {

// One decoded field. Names point to static strings of the layout table.
struct Field {
  enum class Kind { Unsigned, Signed, Text, Bytes, List };

  const char* name = "";
  Kind kind = Kind::Unsigned;
  uint64_t u = 0;     // Unsigned
  int64_t i = 0;      // Signed
  std::string bytes;  // Text (8-bit text as sent) or Bytes (raw)
  // List: one group of fields per element. A group of one field with an
  // empty name stands for a bare value.
  std::vector<std::vector<Field>> items;

  static Field makeUnsigned(const char* name, uint64_t value);
  static Field makeSigned(const char* name, int64_t value);
  static Field makeText(const char* name, std::string text);
  static Field makeBytes(const char* name, std::string raw);
};

// The fields of a record, in wire order. The decoder fills record after
// record into the same list: fields past size() stay allocated with their
// text storage for the next record, so records of different lengths can
// alternate without a text being freed and allocated again.
class FieldList {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  Field& operator[](size_t i) { return store_[i]; }
  const Field& operator[](size_t i) const { return store_[i]; }
  Field* begin() { return store_.data(); }
  Field* end() { return store_.data() + size_; }
  const Field* begin() const { return store_.data(); }
  const Field* end() const { return store_.data() + size_; }

  // Appends a field: one kept from an earlier record (every member still
  // holds its old value, for the caller to set) or a new one. Like a
  // vector's, it may move the fields already in the list.
  Field& append() {
    if (size_ < store_.size()) return store_[size_++];
    ++size_;
    return store_.emplace_back();
  }
  void push_back(Field f) { append() = std::move(f); }
  // Empties the list, keeping the fields for reuse.
  void clear() { size_ = 0; }

 private:
  std::vector<Field> store_;
  size_t size_ = 0;
};

enum class PacketKind { Data, Hello };

struct Record {
  uint64_t offset = 0;  // stream offset of the record's first byte (its tag)
  uint64_t length = 0;  // bytes the record occupies, end marker included
  uint64_t packet = 0;  // 1-based packet number within the connection
  PacketKind packetKind = PacketKind::Data;
  // Position within its packet: 0 for the count record and the time record,
  // then 1, 2, ...
  uint32_t index = 0;
  int tag = 0;
  const char* name = "";  // layout name, e.g. "methodEntry"
  int type = -1;          // event record type; -1 for the count, time and identity records
  int subtype = -1;       // event record subtype; -1 likewise
  // The thread id of records that carry one (in their head or as a field
  // of that name); set also when the decoder keeps no fields.
  bool hasThread = false;
  uint32_t thread = 0;
  FieldList fields;

  // The first field of that name, or null.
  const Field* find(const char* fieldName) const;
  // Convenience for tests and the summary: the field's number (0 when absent
  // or not a number) and text ("" when absent or not a text).
  uint64_t unsignedValue(const char* fieldName) const;
  int64_t signedValue(const char* fieldName) const;
  std::string text(const char* fieldName) const;
};

const char* packetKindName(PacketKind kind);

}  // namespace psdump
