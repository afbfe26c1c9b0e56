#include "credentials/PasswordCipher.h"

#include <algorithm>

namespace {

// The cipher key (15 characters) and the passkey (21 characters).
const char kCipherKey[] = "q7&Lm!z0R#t2w%B";
const char kPasskey[] = "k3!Vn^8x#Qp$2r&Tz*5mY";

}  // namespace

PasswordCipher::PasswordCipher()
    : cipherKey_(kCipherKey), passkey_(kPasskey), out_(stdout), err_(stderr) {}

void PasswordCipher::setStreams(std::FILE* out, std::FILE* err) {
  out_ = out;
  err_ = err;
}

bool PasswordCipher::acceptsPasskey(const char* passkey) const {
  return passkey && passkey_ == passkey;
}

long PasswordCipher::markedLength(const MarkedBytes& text) const {
  size_t limit = std::min(text.size(), kLengthSearchBound);
  auto end = std::find(text.begin(), text.begin() + static_cast<long>(limit), kEndMarker);
  if (end == text.begin() + static_cast<long>(limit)) {
    std::fprintf(err_, "ERROR: Looks like the string is corrupt");
    std::fflush(err_);
    return -1;
  }
  return static_cast<long>(end - text.begin());
}

bool PasswordCipher::encrypt(const std::string& plaintext, MarkedBytes* ciphertext) const {
  if (!ciphertext) return false;
  MarkedBytes nibbles;
  nibbles.reserve(2 * plaintext.size() + 1);
  for (unsigned char c : plaintext) {
    nibbles.push_back(static_cast<unsigned char>(c >> 4));
    nibbles.push_back(static_cast<unsigned char>(c & 15));
  }
  nibbles.push_back(kEndMarker);
  long count = markedLength(nibbles);
  if (count < 0 || static_cast<size_t>(count) != 2 * plaintext.size()) {
    std::fprintf(err_, "Error occured during encryption\n");
    std::fflush(err_);
    return false;
  }
  ciphertext->clear();
  ciphertext->reserve(static_cast<size_t>(count) * kGroupSize + 1);
  for (long i = 0; i < count; i++) {
    for (char k : cipherKey_) {
      ciphertext->push_back(static_cast<unsigned char>(nibbles[i] ^ static_cast<unsigned char>(k)));
    }
  }
  ciphertext->push_back(kEndMarker);
  return true;
}

bool PasswordCipher::decrypt(const MarkedBytes* ciphertext, const char* passkey,
                             std::string* plaintext) const {
  if (!ciphertext || !plaintext || !acceptsPasskey(passkey)) return false;
  long length = markedLength(*ciphertext);
  if (length < 0) return false;
  const size_t total = static_cast<size_t>(length);
  // Collapse every group of 15 bytes back into the nibble it was spread from.
  MarkedBytes nibbles;
  nibbles.reserve(total / kGroupSize + 1);
  for (size_t start = 0; start < total; start += kGroupSize) {
    unsigned char nibble = 0;
    for (size_t j = 0; j < kGroupSize; j++) {
      if (start + j >= total) {
        std::fprintf(err_, "Encrypted password string is corrupt\n");
        std::fflush(err_);
        return false;
      }
      auto value = static_cast<unsigned char>((*ciphertext)[start + j] ^
                                              static_cast<unsigned char>(cipherKey_[j]));
      if (j == 0) {
        nibble = value;
      } else if (value != nibble) {
        std::fprintf(err_, "Error occured during decryption\n");
        std::fflush(err_);
        return false;
      }
    }
    nibbles.push_back(nibble);
  }
  // Join the nibbles in pairs; an odd last nibble has no partner and is left.
  plaintext->clear();
  for (size_t i = 0; i + 1 < nibbles.size(); i += 2) {
    plaintext->push_back(static_cast<char>((nibbles[i] & 15) * 16 + (nibbles[i + 1] & 15)));
  }
  return true;
}
