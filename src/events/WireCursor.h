// The write position in a packet buffer of known capacity. Every write
// checks the room left; one that does not fit writes nothing and marks the
// cursor as overrun, and every later write is skipped until the writer of
// the record settles it. Numbers go out big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class WireCursor {
 public:
  WireCursor(uint8_t* buffer, size_t capacity) : pos_(buffer), end_(buffer + capacity) {}

  uint8_t* position() const { return pos_; }
  size_t remaining() const { return static_cast<size_t>(end_ - pos_); }
  bool overrun() const { return overrun_; }

  void u8(uint32_t v) {
    if (!room(1)) return;
    *pos_++ = static_cast<uint8_t>(v);
  }
  void u16(uint32_t v) {
    if (!room(2)) return;
    pos_[0] = static_cast<uint8_t>(v >> 8);
    pos_[1] = static_cast<uint8_t>(v);
    pos_ += 2;
  }
  void u32(uint32_t v) {
    if (!room(4)) return;
    pos_[0] = static_cast<uint8_t>(v >> 24);
    pos_[1] = static_cast<uint8_t>(v >> 16);
    pos_[2] = static_cast<uint8_t>(v >> 8);
    pos_[3] = static_cast<uint8_t>(v);
    pos_ += 4;
  }
  void u64(uint64_t v) {
    if (!room(8)) return;
    for (int i = 0; i < 8; i++) pos_[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
    pos_ += 8;
  }
  void bytes(const void* data, size_t length) {
    if (length == 0 || !room(length)) return;
    std::memcpy(pos_, data, length);
    pos_ += length;
  }

  // Claims `n` bytes at once for a writer that fills them itself with the
  // put functions below: one room check for a run of fields. Null, and the
  // cursor overrun, when they do not fit.
  uint8_t* claim(size_t n) {
    if (!room(n)) return nullptr;
    uint8_t* at = pos_;
    pos_ += n;
    return at;
  }
  static uint8_t* put8(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    return p + 1;
  }
  static uint8_t* put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
    return p + 2;
  }
  static uint8_t* put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
    return p + 4;
  }
  static uint8_t* put64(uint8_t* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v >> 32));
    return put32(p + 4, static_cast<uint32_t>(v));
  }

  // A record writer takes a mark before its first byte and settles it after
  // its last: a record that did not fit leaves nothing behind.
  uint8_t* mark() const { return pos_; }
  bool settle(uint8_t* mark) {
    if (!overrun_) return true;
    pos_ = mark;
    overrun_ = false;
    return false;
  }

 private:
  bool room(size_t n) {
    if (overrun_ || static_cast<size_t>(end_ - pos_) < n) {
      overrun_ = true;
      return false;
    }
    return true;
  }

  uint8_t* pos_;
  uint8_t* end_;
  bool overrun_ = false;
};
