// Writes each input as a password file, reads it back and deciphers it, and
// checks the parts against the file format worked out here independently.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "credentials/PasswordCipher.h"
#include "credentials/PasswordFile.h"
#include "platform/os.h"

namespace {

const char kPasskey[] = "k3!Vn^8x#Qp$2r&Tz*5mY";

void fail(const char* what) {
  std::fprintf(stderr, "password file read wrongly: %s\n", what);
  std::abort();
}

// The input's file, one per process, removed when the run ends.
struct InputFile {
  std::string path = "/tmp/fuzz_password_file." + std::to_string(os::processId());
  ~InputFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const InputFile input;
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  std::FILE* file = std::fopen(input.path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  PasswordCipher cipher;
  cipher.setStreams(quiet, quiet);
  std::string user = "before";
  MarkedBytes ciphertext;
  bool read = readPasswordFile(cipher, input.path.c_str(), &user, &ciphertext, kPasskey);
  if (read != (size > 0 && size <= kMaxPasswordFileSize)) fail("refused or accepted wrongly");
  if (!read) return 0;

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  size_t colon = bytes.find(':');
  if (user != (colon == std::string::npos ? "before" : bytes.substr(0, colon))) fail("user id");
  size_t start = colon == std::string::npos ? 1 : colon + 1;
  if (std::string(ciphertext.begin(), ciphertext.end()) != bytes.substr(start)) fail("ciphertext");

  std::string plaintext;
  bool deciphered = readCredentials(cipher, input.path.c_str(), &user, &plaintext, kPasskey);
  // Deciphering needs an end marker after whole groups of 15 bytes.
  size_t marker = bytes.find('\xff', start);
  size_t length = marker == std::string::npos ? 1 : marker - start;
  if (deciphered && (length % 15 != 0 || plaintext.size() != length / 15 / 2)) fail("plaintext");
  return 0;
}
