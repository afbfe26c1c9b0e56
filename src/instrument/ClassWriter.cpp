#include "instrument/ClassWriter.h"

#include <cstring>

bool ClassWriter::room(size_t count) {
  if (overflow_ || static_cast<size_t>(end_ - at_) < count) {
    overflow_ = true;
    return false;
  }
  return true;
}

void ClassWriter::u1(uint32_t value) {
  if (room(1)) *at_++ = static_cast<uint8_t>(value);
}

void ClassWriter::u2(uint32_t value) {
  if (!room(2)) return;
  *at_++ = static_cast<uint8_t>(value >> 8);
  *at_++ = static_cast<uint8_t>(value);
}

void ClassWriter::u4(uint32_t value) {
  if (!room(4)) return;
  for (int shift = 24; shift >= 0; shift -= 8) *at_++ = static_cast<uint8_t>(value >> shift);
}

void ClassWriter::bytes(const void* from, size_t count) {
  if (count == 0 || !room(count)) return;
  std::memcpy(at_, from, count);
  at_ += count;
}

void ClassWriter::patchU2(size_t offset, uint32_t value) {
  if (offset + 2 > written()) {
    overflow_ = true;
    return;
  }
  start_[offset] = static_cast<uint8_t>(value >> 8);
  start_[offset + 1] = static_cast<uint8_t>(value);
}

bool ClassWriter::local(uint8_t opcode, uint32_t slot) {
  if (slot > 0xFFFF) return false;
  if (slot <= 255) {
    u1(opcode);
    u1(slot);
  } else {
    u1(OP_WIDE);
    u1(opcode);
    u2(slot);
  }
  return true;
}

namespace {

// The load opcode of a type letter, 0 for none; the store is 33 above it.
uint8_t loadOpcode(char letter) {
  switch (letter) {
    case 'A':
      return OP_ALOAD;
    case 'I':
      return OP_ILOAD;
    case 'L':
      return OP_LLOAD;
    case 'F':
      return OP_FLOAD;
    case 'D':
      return OP_DLOAD;
    default:
      return 0;
  }
}

// Reads one field type at *at; its letter, or 0 when malformed.
char fieldType(const char* text, size_t length, size_t* at) {
  if (*at >= length) return 0;
  char c = text[(*at)++];
  switch (c) {
    case 'B':
    case 'C':
    case 'S':
    case 'Z':
    case 'I':
      return 'I';
    case 'J':
      return 'L';
    case 'F':
    case 'D':
      return c;
    case 'L': {
      size_t start = *at;
      while (*at < length && text[*at] != ';') (*at)++;
      if (*at >= length || *at == start) return 0;
      (*at)++;
      return 'A';
    }
    case '[': {
      size_t dims = 1;
      while (*at < length && text[*at] == '[') {
        (*at)++;
        dims++;
      }
      if (dims > 255) return 0;
      return fieldType(text, length, at) ? 'A' : 0;
    }
    default:
      return 0;
  }
}

}  // namespace

bool ClassWriter::load(char letter, uint32_t slot) {
  uint8_t opcode = loadOpcode(letter);
  return opcode && local(opcode, slot);
}

bool ClassWriter::store(char letter, uint32_t slot) {
  uint8_t opcode = loadOpcode(letter);
  return opcode && local(static_cast<uint8_t>(opcode + (OP_ISTORE - OP_ILOAD)), slot);
}

bool typeLetters(const char* descriptor, size_t length, std::string* letters) {
  letters->clear();
  size_t at = 0;
  if (length == 0 || descriptor[at++] != '(') return false;
  while (at < length && descriptor[at] != ')') {
    char letter = fieldType(descriptor, length, &at);
    if (!letter) return letters->clear(), false;
    letters->push_back(letter);
  }
  if (at >= length) return letters->clear(), false;
  at++;
  char result = 0;
  if (at < length && descriptor[at] == 'V') {
    at++;
    result = 'V';
  } else {
    result = fieldType(descriptor, length, &at);
  }
  if (!result || at != length) return letters->clear(), false;
  letters->push_back(result);
  return true;
}

void slashToDot(char* name, size_t length) {
  for (size_t i = 0; i < length; i++) {
    if (name[i] == '/') name[i] = '.';
  }
}

void dotToSlash(char* name, size_t length) {
  for (size_t i = 0; i < length; i++) {
    if (name[i] == '.') name[i] = '/';
  }
}
