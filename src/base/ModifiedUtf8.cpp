#include "base/ModifiedUtf8.h"

namespace {

bool continuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// The length of the character a lead byte begins; 1 for anything else.
size_t sequenceLength(unsigned char b) {
  if ((b & 0xE0) == 0xC0) return 2;
  if ((b & 0xF0) == 0xE0) return 3;
  return 1;
}

}  // namespace

size_t wholeCharacterLength(const char* text, size_t length, size_t limit) {
  if (length <= limit || !text) return length < limit ? length : limit;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (limit == 0) return 0;
  // The start of the character that holds the last byte kept: at most two
  // continuation bytes back.
  size_t start = limit - 1;
  while (start > 0 && limit - start < 3 && continuation(bytes[start])) start--;
  if (start + sequenceLength(bytes[start]) > limit) return start;
  return limit;
}
