// An owned text of an event record: a NUL-terminated copy that the record
// releases with itself. Null means absent (the serialiser then writes nothing
// for the field); producers that want an empty text assign "". The length is
// kept so that the serialiser never measures a text twice and so that byte
// strings with zero bytes (the correlation token) can be held as well.
//
// A copy that cannot be made leaves the empty text, never an absent one: an
// absent field would shift every later byte of its record on the wire. The
// empty text needs no memory of its own.
#pragma once

#include <cstddef>
#include <cstdint>
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
  // when memory could not be had, and the text is then empty.
  bool assign(const char* text) {
    if (!text) {
      release();
      return true;
    }
    return assign(text, std::strlen(text));
  }

  // Replaces the text by a copy of `length` bytes (zero bytes included) and a
  // terminator. False when memory could not be had; the text is then empty.
  bool assign(const void* bytes, size_t length) {
    // The copy is made before the old text goes, so a text may be assigned
    // from a part of itself.
    char* made = nullptr;
    if (length > 0 && bytes && length < UINT32_MAX) made = new (std::nothrow) char[length + 1];
    if (made) {
      std::memcpy(made, bytes, length);
      made[length] = '\0';
    }
    release();
    if (made) {
      data_ = made;
      length_ = static_cast<uint32_t>(length);
    } else {
      data_ = emptyText();
      borrowed_ = true;
    }
    return made != nullptr || length == 0;
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
  void cut(size_t length);

  void release() {
    if (!borrowed_) delete[] data_;
    data_ = nullptr;
    length_ = 0;
    borrowed_ = false;
  }

  bool present() const { return data_ != nullptr; }
  // The bytes its own allocation takes (0 for absent texts, the empty text
  // and texts in their record's storage).
  size_t footprint() const {
    return data_ && !borrowed_ ? allocationFootprint(size_t{length_} + 1) : 0;
  }
  const char* get() const { return data_; }
  size_t length() const { return length_; }

 private:
  // The shared empty text; never written (a cut of it is a no-op).
  static char* emptyText() {
    static char empty[1] = {'\0'};
    return empty;
  }

  char* data_ = nullptr;
  uint32_t length_ = 0;
  // The storage is not this text's: the record's, or the shared empty text.
  bool borrowed_ = false;
};
