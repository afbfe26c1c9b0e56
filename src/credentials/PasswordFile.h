// The password file: a user id, ":", and the ciphertext of a password
// (PasswordCipher) with its end marker, written in one go and read in one go.
// Every message goes to the streams of the cipher handed in.
//
// Bounds: user ids and passwords of up to 1000 characters each (bytes of
// their UTF-8 form) are written and read back whole; genPasswordFile refuses
// longer ones. The read-back holds its values in strings sized to what it
// reads, and it reads no file larger than the largest such values make
// (kMaxPasswordFileSize): a larger file is refused as having no data.
#pragma once

#include <cstddef>
#include <string>

#include "credentials/PasswordCipher.h"

constexpr size_t kMaxUserIdLength = PasswordCipher::kMaxPasswordLength;
// User id, ":", the ciphertext of the longest password and its end marker.
constexpr size_t kMaxPasswordFileSize =
    kMaxUserIdLength + 1 + PasswordCipher::kBytesPerCharacter * PasswordCipher::kMaxPasswordLength +
    1;

// Writes userId, ":" and byteCount bytes of ciphertext (its end marker
// included) to a new file that then replaces fileName whole. A new file is
// readable and writable by its owner only, an existing one keeps its mode;
// a link, FIFO, device or directory at fileName is refused with a message.
bool writePasswordFile(const PasswordCipher& cipher, const char* fileName, const char* userId,
                       const unsigned char* ciphertext, size_t byteCount);

// Splits the bytes of a password file (read from fileName, which only the
// messages name) as readPasswordFile does; an empty file and one larger than
// kMaxPasswordFileSize are refused as having no data.
bool parsePasswordFile(const PasswordCipher& cipher, const char* fileName, const std::string& bytes,
                       std::string* userId, MarkedBytes* ciphertext);

// Reads a password file: the bytes before the first ":" into userId, the
// bytes after it into ciphertext. Without a ":", userId is left as it was and
// the ciphertext is everything after the first byte. Needs the passkey. Only
// a regular file is read: a link, FIFO, device or directory is refused with
// a message, without waiting.
bool readPasswordFile(const PasswordCipher& cipher, const char* fileName, std::string* userId,
                      MarkedBytes* ciphertext, const char* passkey);

// Reads a password file and deciphers its password. A file without ":" gives
// an empty user id.
bool readCredentials(const PasswordCipher& cipher, const char* fileName, std::string* userId,
                     std::string* password, const char* passkey);

// Creates a password file for userId and password, reads it back and reports
// the outcome; a user id containing ':' is refused (it could not be read
// back). It never prints the password nor its ciphertext: only one '*'
// per character and the ciphertext's length in bytes.
void genPasswordFile(const PasswordCipher& cipher, const char* userId, const char* password,
                     const char* fileName);
