// Writing class bytes: a cursor over a buffer sized in advance, the
// instruction emitters of the wrapper code, descriptor type letters and the
// name conversions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Opcodes the wrapper code uses.
enum : uint8_t {
  OP_ICONST_0 = 3,
  OP_ILOAD = 21,
  OP_LLOAD = 22,
  OP_FLOAD = 23,
  OP_DLOAD = 24,
  OP_ALOAD = 25,
  OP_ISTORE = 54,
  OP_LSTORE = 55,
  OP_FSTORE = 56,
  OP_DSTORE = 57,
  OP_ASTORE = 58,
  OP_ARETURN = 176,
  OP_INVOKEVIRTUAL = 182,
  OP_INVOKESPECIAL = 183,
  OP_INVOKESTATIC = 184,
  OP_ARRAYLENGTH = 190,
  OP_WIDE = 196,
  OP_IFNULL = 198,
};

// Writes big-endian values into [start, start + capacity). A write that
// would pass the end writes nothing and marks the cursor overflowed.
class ClassWriter {
 public:
  ClassWriter(uint8_t* start, size_t capacity)
      : start_(start), at_(start), end_(start + capacity) {}

  void u1(uint32_t value);
  void u2(uint32_t value);
  void u4(uint32_t value);
  void bytes(const void* from, size_t count);
  // Overwrites two bytes already written at offset (a branch offset).
  void patchU2(size_t offset, uint32_t value);

  // Load and store of a local by type letter (A, I, L, F, D); the two-byte
  // form up to slot 255, `wide` above. False for another letter.
  bool load(char letter, uint32_t slot);
  bool store(char letter, uint32_t slot);
  void invoke(uint8_t opcode, uint32_t poolIndex) {
    u1(opcode);
    u2(poolIndex);
  }

  size_t written() const { return static_cast<size_t>(at_ - start_); }
  bool overflowed() const { return overflow_; }

 private:
  bool room(size_t count);
  bool local(uint8_t opcode, uint32_t slot);

  uint8_t* start_;
  uint8_t* at_;
  uint8_t* end_;
  bool overflow_ = false;
};

// The type letters of a method descriptor: one per parameter, then one for
// the return type ('A' object or array, 'I' int-like, 'L' long, 'F', 'D',
// 'V'). False, with letters cleared, for a malformed descriptor.
bool typeLetters(const char* descriptor, size_t length, std::string* letters);
// Local slots a value of the type letter takes.
inline uint32_t slotSize(char letter) {
  return letter == 'D' || letter == 'L' ? 2 : 1;
}

// In-place conversions of a class name between slash and dot form.
void slashToDot(char* name, size_t length);
void dotToSlash(char* name, size_t length);
