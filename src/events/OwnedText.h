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
#include <cstring>
#include <new>

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
    char* copy = emptyText();
    size_t kept = 0;
    if (length > 0 && bytes && length < static_cast<size_t>(-1)) {
      if (char* made = new (std::nothrow) char[length + 1]) {
        std::memcpy(made, bytes, length);
        made[length] = '\0';
        copy = made;
        kept = length;
      }
    }
    release();
    data_ = copy;
    length_ = kept;
    return kept == length;
  }

  // Cuts the text in place to its first `length` bytes; longer requests and
  // absent texts are left as they are.
  void cut(size_t length);

  void release() {
    if (data_ != emptyText()) delete[] data_;
    data_ = nullptr;
    length_ = 0;
  }

  bool present() const { return data_ != nullptr; }
  const char* get() const { return data_; }
  size_t length() const { return length_; }

 private:
  // The shared empty text; never written (a cut of it is a no-op).
  static char* emptyText() {
    static char empty[1] = {'\0'};
    return empty;
  }

  char* data_ = nullptr;
  size_t length_ = 0;
};
