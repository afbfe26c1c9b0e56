// The reversible cipher of the password file. Each half-byte of a password is
// XORed with every character of a fixed 15-character key, so one password
// byte becomes 30 ciphertext bytes whose groups of 15 must agree when they are
// collapsed again. Deciphering is allowed only to a caller that presents the
// fixed passkey.
//
// This is obfuscation, not encryption: both keys are fixed in the library, so
// anyone who has the library can read a password file back.
//
// The cipher's internal byte strings end with one byte 0xFF instead of a zero
// byte; nibbles (0 to 15) and nibbles XORed with key characters never contain
// that value. A cipher object is made for one native call and discarded.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// An internal string: its bytes followed by the end marker kEndMarker.
using MarkedBytes = std::vector<unsigned char>;

class PasswordCipher {
 public:
  static constexpr unsigned char kEndMarker = 0xFF;
  // The longest password genPasswordFile accepts, in bytes of its UTF-8 form.
  static constexpr int kMaxPasswordLength = 1000;
  // The length search of an internal string looks no further than this.
  static constexpr size_t kLengthSearchBound = 3 * 15 * kMaxPasswordLength;
  // Ciphertext bytes per nibble and per plaintext byte.
  static constexpr size_t kGroupSize = 15;
  static constexpr size_t kBytesPerCharacter = 2 * kGroupSize;

  PasswordCipher();
  PasswordCipher(const PasswordCipher&) = delete;
  PasswordCipher& operator=(const PasswordCipher&) = delete;

  // The length of an internal string: the index of its first end marker.
  // A string without one among its first kLengthSearchBound bytes (or among
  // all its bytes, when it is shorter) is corrupt: the message is printed
  // and the answer is -1.
  long markedLength(const MarkedBytes& text) const;

  // Enciphers n plaintext bytes into 30n bytes followed by the end marker.
  bool encrypt(const std::string& plaintext, MarkedBytes* ciphertext) const;

  // Deciphers a ciphertext with the passkey. A missing ciphertext or a wrong
  // passkey fails without a message; a ciphertext whose groups disagree, that
  // ends inside a group or that has no end marker fails with a message.
  bool decrypt(const MarkedBytes* ciphertext, const char* passkey, std::string* plaintext) const;

  // True when passkey is exactly the cipher's passkey.
  bool acceptsPasskey(const char* passkey) const;
  const char* passkey() const { return passkey_.c_str(); }

  // Where the cipher and the password file print: standard output and
  // standard error unless set otherwise.
  void setStreams(std::FILE* out, std::FILE* err);
  std::FILE* out() const { return out_; }
  std::FILE* err() const { return err_; }

 private:
  std::string cipherKey_;
  std::string passkey_;
  std::FILE* out_;
  std::FILE* err_;
};
