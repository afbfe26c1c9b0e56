// An owned text of an event record: a NUL-terminated copy that the record
// releases with itself. Null means absent (the serialiser then writes nothing
// for the field); producers that want an empty text assign "". The length is
// kept so that the serialiser never measures a text twice and so that byte
// strings with zero bytes (the correlation token) can be held as well.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>

#include "events/EventRecord.h"

class OwnedText {
 public:
  OwnedText() = default;
  ~OwnedText() { release(); }
  OwnedText(const OwnedText&) = delete;
  OwnedText& operator=(const OwnedText&) = delete;

  // Replaces the text by a copy of a C string; null makes it absent. False
  // when memory could not be had, and the text is then absent.
  bool assign(const char* text) {
    if (!text) {
      release();
      return true;
    }
    return assign(text, std::strlen(text));
  }

  // Replaces the text by a copy of `length` bytes (zero bytes included) and a
  // terminator. False when memory could not be had; the text is then absent.
  bool assign(const void* bytes, size_t length) {
    // The copy is made before the old text goes, so a text may be assigned
    // from a part of itself.
    char* copy = nullptr;
    if ((bytes || length == 0) && length < UINT32_MAX) copy = new (std::nothrow) char[length + 1];
    if (copy) {
      if (length > 0) std::memcpy(copy, bytes, length);
      copy[length] = '\0';
    }
    release();
    data_ = copy;
    length_ = copy ? static_cast<uint32_t>(length) : 0;
    return copy != nullptr;
  }

  // Replaces the text by a copy of `length` bytes and a terminator made in
  // `storage` (length + 1 bytes that outlive this text and are not its to
  // release).
  void assignInPlace(char* storage, const void* bytes, size_t length) {
    if (length > 0) std::memcpy(storage, bytes, length);
    storage[length] = '\0';
    release();
    data_ = storage;
    length_ = static_cast<uint32_t>(length);
    borrowed_ = true;
  }

  // Cuts the text in place to its first `length` bytes; longer requests and
  // absent texts are left as they are.
  void cut(size_t length) {
    if (!data_ || length >= length_) return;
    data_[length] = '\0';
    length_ = static_cast<uint32_t>(length);
  }

  void release() {
    if (!borrowed_) delete[] data_;
    data_ = nullptr;
    length_ = 0;
    borrowed_ = false;
  }

  bool present() const { return data_ != nullptr; }
  // The bytes its own allocation takes (0 for absent texts and texts in
  // their record's storage).
  size_t footprint() const {
    return data_ && !borrowed_ ? allocationFootprint(size_t{length_} + 1) : 0;
  }
  const char* get() const { return data_; }
  size_t length() const { return length_; }

 private:
  char* data_ = nullptr;
  uint32_t length_ = 0;
  // The storage is the record's, not this text's.
  bool borrowed_ = false;
};
