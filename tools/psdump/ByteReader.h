// Bounds-checked big-endian reads over a ByteSource, with the stream offset
// of every byte. The first failure (a short stream or a fault the decoder
// reports) sticks: later reads return zeros and consume nothing, so a
// decoder can walk a layout and test ok() where it matters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteSource.h"

namespace psdump {

// Big-endian numbers from bytes already known to be there.
inline uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline uint64_t be64(const uint8_t* p) {
  return (uint64_t{be32(p)} << 32) | be32(p + 4);
}

struct DecodeError {
  uint64_t offset = 0;  // stream offset of the byte at fault
  std::string message;  // names the offset and what was expected there
};

class ByteReader {
 public:
  explicit ByteReader(ByteSource& source);

  bool ok() const { return !failed_; }
  const DecodeError& error() const { return error_; }
  // Stream offset of the next unread byte.
  uint64_t offset() const { return base_ + pos_; }

  // Makes n bytes readable without consuming them. False when the stream
  // ends first (no failure is recorded; available() tells how many came).
  bool fill(size_t n);
  size_t available() const { return end_ - pos_; }
  // The next unread bytes; valid for available() bytes until the next read.
  const uint8_t* peek() const { return buf_.data() + pos_; }

  // What is being read, for the message when the stream ends inside it:
  // a static description, the record tag (-1 for none) and its offset.
  void setContext(const char* what, int tag, uint64_t start);

  uint8_t u8() {
    if (!need(1)) return 0;
    return buf_[pos_++];
  }
  uint16_t u16() {
    if (!need(2)) return 0;
    const uint8_t* p = buf_.data() + pos_;
    pos_ += 2;
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
  }
  uint32_t u32() {
    if (!need(4)) return 0;
    const uint8_t* p = buf_.data() + pos_;
    pos_ += 4;
    return be32(p);
  }
  uint64_t u64() {
    const uint64_t high = u32();
    const uint64_t low = u32();
    return (high << 32) | low;
  }
  // The next n bytes, consumed: one bounds check for a run of fixed-size
  // fields. Null (the failure recorded) when the stream ends first; valid
  // until the next read.
  const uint8_t* take(size_t n) {
    if (!need(n)) return nullptr;
    const uint8_t* p = buf_.data() + pos_;
    pos_ += n;
    return p;
  }
  // Consumes n bytes the caller saw available().
  void advance(size_t n) { pos_ += n; }
  std::string bytes(size_t n);
  // The next n bytes into dst (which keeps its storage); empty on failure.
  void bytesInto(std::string& dst, size_t n);
  void skip(size_t n) {
    if (need(n)) pos_ += n;
  }

  // Records a failure at offset (the first one wins).
  void fail(uint64_t offset, std::string message);

 private:
  // Fills n bytes or records the end-of-stream failure.
  bool need(size_t n) { return (!failed_ && end_ - pos_ >= n) || needMore(n); }
  bool needMore(size_t n);

  ByteSource& source_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
  uint64_t base_ = 0;  // stream offset of buf_[0]
  bool ended_ = false;
  bool failed_ = false;
  DecodeError error_;
  const char* context_ = nullptr;
  int contextTag_ = -1;
  uint64_t contextStart_ = 0;
};

}  // namespace psdump
