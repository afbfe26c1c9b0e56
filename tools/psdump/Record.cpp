#include "Record.h"

#include <cstring>
#include <utility>

namespace psdump {

Field Field::makeUnsigned(const char* name, uint64_t value) {
  Field f;
  f.name = name;
  f.kind = Kind::Unsigned;
  f.u = value;
  return f;
}

Field Field::makeSigned(const char* name, int64_t value) {
  Field f;
  f.name = name;
  f.kind = Kind::Signed;
  f.i = value;
  return f;
}

Field Field::makeText(const char* name, std::string text) {
  Field f;
  f.name = name;
  f.kind = Kind::Text;
  f.bytes = std::move(text);
  return f;
}

Field Field::makeBytes(const char* name, std::string raw) {
  Field f;
  f.name = name;
  f.kind = Kind::Bytes;
  f.bytes = std::move(raw);
  return f;
}

const Field* Record::find(const char* fieldName) const {
  for (const Field& f : fields) {
    // Names are the layout table's strings: the same address first.
    if (f.name == fieldName || std::strcmp(f.name, fieldName) == 0) return &f;
  }
  return nullptr;
}

uint64_t Record::unsignedValue(const char* fieldName) const {
  const Field* f = find(fieldName);
  if (f == nullptr) return 0;
  if (f->kind == Field::Kind::Unsigned) return f->u;
  if (f->kind == Field::Kind::Signed) return static_cast<uint64_t>(f->i);
  return 0;
}

int64_t Record::signedValue(const char* fieldName) const {
  const Field* f = find(fieldName);
  if (f == nullptr) return 0;
  if (f->kind == Field::Kind::Signed) return f->i;
  if (f->kind == Field::Kind::Unsigned) return static_cast<int64_t>(f->u);
  return 0;
}

std::string Record::text(const char* fieldName) const {
  const Field* f = find(fieldName);
  if (f == nullptr || (f->kind != Field::Kind::Text && f->kind != Field::Kind::Bytes)) return "";
  return f->bytes;
}

const char* packetKindName(PacketKind kind) {
  return kind == PacketKind::Hello ? "hello" : "data";
}

}  // namespace psdump
