// Parses each input as the bytes of a password file and deciphers it, from
// memory (the reader's only file step is reading the bytes whole), and checks
// the parts against the file format worked out here independently.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "credentials/PasswordCipher.h"
#include "credentials/PasswordFile.h"

namespace {

const char kPasskey[] = "k3!Vn^8x#Qp$2r&Tz*5mY";

void fail(const char* what) {
  std::fprintf(stderr, "password file read wrongly: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  PasswordCipher cipher;
  cipher.setStreams(quiet, quiet);
  std::string user = "before";
  MarkedBytes ciphertext;
  bool read = parsePasswordFile(cipher, "input", bytes, &user, &ciphertext);
  if (read != (size > 0 && size <= kMaxPasswordFileSize)) fail("refused or accepted wrongly");
  if (!read) return 0;

  size_t colon = bytes.find(':');
  if (user != (colon == std::string::npos ? "before" : bytes.substr(0, colon))) fail("user id");
  size_t start = colon == std::string::npos ? 1 : colon + 1;
  if (std::string(ciphertext.begin(), ciphertext.end()) != bytes.substr(start)) fail("ciphertext");

  std::string plaintext;
  bool deciphered = cipher.decrypt(&ciphertext, kPasskey, &plaintext);
  // Deciphering needs an end marker after whole groups of 15 bytes.
  size_t marker = bytes.find('\xff', start);
  size_t length = marker == std::string::npos ? 1 : marker - start;
  if (deciphered && (length % 15 != 0 || plaintext.size() != length / 15 / 2)) fail("plaintext");
  return 0;
}
