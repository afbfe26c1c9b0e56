#include "instrument/ConstantPool.h"

#include <cstring>

#include "base/Log.h"

bool ByteReader::u1(uint8_t* out) {
  if (remaining() < 1) return fail();
  *out = *at_++;
  return true;
}

bool ByteReader::u2(uint16_t* out) {
  if (remaining() < 2) return fail();
  *out = loadBigEndian16(at_);
  at_ += 2;
  return true;
}

bool ByteReader::u4(uint32_t* out) {
  if (remaining() < 4) return fail();
  *out = loadBigEndian32(at_);
  at_ += 4;
  return true;
}

bool ByteReader::skip(size_t count) {
  if (remaining() < count) return fail();
  at_ += count;
  return true;
}

bool skipAttribute(ByteReader& in) {
  uint32_t length = 0;
  return in.skip(2) && in.u4(&length) && in.skip(length);
}

bool skipAttributes(ByteReader& in) {
  uint16_t count = 0;
  if (!in.u2(&count)) return false;
  for (uint16_t i = 0; i < count; i++) {
    if (!skipAttribute(in)) return false;
  }
  return true;
}

bool skipMember(ByteReader& in) {
  return in.skip(6) && skipAttributes(in);
}

namespace {

// Size of a known entry with its tag byte, 0 for an unknown tag. A Utf8's
// size needs its length bytes, which the caller has checked are there.
size_t entrySize(const uint8_t* entry) {
  switch (entry[0]) {
    case CP_UTF8:
      return 3 + static_cast<size_t>(loadBigEndian16(entry + 1));
    case CP_INTEGER:
    case CP_FLOAT:
      return 5;
    case CP_LONG:
    case CP_DOUBLE:
      return 9;
    case CP_CLASS:
    case CP_STRING:
      return 3;
    case CP_FIELDREF:
    case CP_METHODREF:
    case CP_INTERFACE_METHODREF:
    case CP_NAME_AND_TYPE:
      return 5;
    default:
      return 0;
  }
}

}  // namespace

bool ConstantPoolIndex::build(const uint8_t* classBytes, size_t length) {
  entries_.clear();
  count_ = 0;
  end_ = nullptr;
  if (!classBytes || length < 10) return false;
  const uint8_t* end = classBytes + length;
  uint16_t count = loadBigEndian16(classBytes + 8);
  const uint8_t* at = classBytes + 10;
  std::vector<const uint8_t*> entries(count ? count : 1, nullptr);
  for (uint32_t index = 1; index < count; index++) {
    size_t left = static_cast<size_t>(end - at);
    if (left < 3) return false;  // the smallest entry is three bytes
    size_t size = entrySize(at);
    if (size == 0) {
      char text[96];
      formatText(text, sizeof text, "Unknown constant pool tag %d at index %u", at[0], index);
      logMessage(LOG_ERROR, text);
      return false;
    }
    if (size > left) return false;
    entries[index] = at;
    at += size;
    if (entries[index][0] == CP_LONG || entries[index][0] == CP_DOUBLE) {
      // The slot after a Long or Double stays empty; the pair must fit the pool.
      if (++index >= count) return false;
    }
  }
  entries_.swap(entries);
  count_ = count;
  end_ = at;
  return true;
}

const uint8_t* ConstantPoolIndex::entry(uint32_t index) const {
  return index < count_ ? entries_[index] : nullptr;
}

const uint8_t* ConstantPoolIndex::entry(uint32_t index, uint8_t tag) const {
  const uint8_t* found = entry(index);
  return found && found[0] == tag ? found : nullptr;
}

bool ConstantPoolIndex::utf8(uint32_t index, const uint8_t** bytes, uint16_t* length) const {
  const uint8_t* found = entry(index, CP_UTF8);
  if (!found) return false;
  *length = loadBigEndian16(found + 1);
  *bytes = found + 3;
  return true;
}

bool ConstantPoolIndex::className(uint32_t index, const uint8_t** bytes, uint16_t* length) const {
  const uint8_t* found = entry(index, CP_CLASS);
  return found && utf8(loadBigEndian16(found + 1), bytes, length);
}
