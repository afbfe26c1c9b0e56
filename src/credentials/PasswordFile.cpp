#include "credentials/PasswordFile.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/os.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The value is the caller's text (a file name): echoed cut to 512 bytes, so
// that a huge name does not flood the output on every call.
void report(std::FILE* stream, const char* format, const char* value = nullptr) {
  constexpr size_t kMostEchoedBytes = 512;
  char cut[kMostEchoedBytes + 1] = "";
  if (value) {
    size_t length = strnlen(value, kMostEchoedBytes);
    std::memcpy(cut, value, length);
    cut[length] = '\0';
  }
  std::fprintf(stream, format, cut);
  std::fflush(stream);
}

// The number of characters of a UTF-8 text: its bytes that do not continue
// a character.
size_t characterCount(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) count++;
  }
  return count;
}

bool checkReadArguments(const PasswordCipher& cipher, const char* fileName, const void* userId,
                        const void* secret, const char* passkey) {
  if (!cipher.acceptsPasskey(passkey)) return false;
  if (!fileName) {
    report(cipher.err(), "Invalid file name \n");
    return false;
  }
  if (!userId || !secret) {
    report(cipher.err(), "Invalid userid or password \n");
    return false;
  }
  return true;
}

}  // namespace

bool writePasswordFile(const PasswordCipher& cipher, const char* fileName, const char* userId,
                       const unsigned char* ciphertext, size_t byteCount) {
  if (!fileName || !userId || !ciphertext) {
    report(cipher.err(), "Invalid file name or user id or password\n");
    return false;
  }
  FilePtr file(os::openPrivateFileForWriting(fileName));
  if (!file) {
    report(cipher.err(), "Could not open the file for writing, %s\n", fileName);
    return false;
  }
  std::string head = std::string(userId) + ":";
  bool written = std::fwrite(head.data(), 1, head.size(), file.get()) == head.size() &&
                 std::fwrite(ciphertext, 1, byteCount, file.get()) == byteCount;
  // A write error may only show when the buffered bytes go out at the close.
  written = std::fclose(file.release()) == 0 && written;
  if (!written) report(cipher.err(), "Could not write the file %s\n", fileName);
  return written;
}

bool readPasswordFile(const PasswordCipher& cipher, const char* fileName, std::string* userId,
                      MarkedBytes* ciphertext, const char* passkey) {
  if (!checkReadArguments(cipher, fileName, userId, ciphertext, passkey)) return false;
  FilePtr file(std::fopen(fileName, "rb"));
  if (!file) {
    report(cipher.err(), "Could not open the file %s\n", fileName);
    return false;
  }
  // Read at most one byte beyond the largest valid file: an empty file and a
  // larger one get no buffer.
  std::vector<unsigned char> bytes(kMaxPasswordFileSize + 1);
  size_t size = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (size == 0 || size > kMaxPasswordFileSize || std::ferror(file.get())) {
    report(cipher.err(), "No data in file %s \n", fileName);
    return false;
  }
  bytes.resize(size);
  const void* found = std::memchr(bytes.data(), ':', size);
  size_t cipherStart = 1;
  if (found) {
    size_t colon = static_cast<size_t>(static_cast<const unsigned char*>(found) - bytes.data());
    userId->assign(reinterpret_cast<const char*>(bytes.data()), colon);
    cipherStart = colon + 1;
  }
  ciphertext->assign(bytes.begin() + static_cast<long>(cipherStart), bytes.end());
  return true;
}

bool readCredentials(const PasswordCipher& cipher, const char* fileName, std::string* userId,
                     std::string* password, const char* passkey) {
  if (!checkReadArguments(cipher, fileName, userId, password, passkey)) return false;
  std::string user;
  MarkedBytes ciphertext;
  if (!readPasswordFile(cipher, fileName, &user, &ciphertext, passkey)) return false;
  *userId = user;
  std::string plaintext;
  if (!cipher.decrypt(&ciphertext, passkey, &plaintext)) return false;
  *password = plaintext;
  return true;
}

void genPasswordFile(const PasswordCipher& cipher, const char* userId, const char* password,
                     const char* fileName) {
  if (!userId || !password || !fileName) return;
  std::FILE* out = cipher.out();
  std::FILE* err = cipher.err();
  const std::string entered = password;
  if (entered.size() > static_cast<size_t>(PasswordCipher::kMaxPasswordLength)) {
    std::fprintf(err, "Please enter a password less than %d char in length\n",
                 PasswordCipher::kMaxPasswordLength);
    std::fflush(err);
    return;
  }
  if (std::strlen(userId) > kMaxUserIdLength) {
    std::fprintf(err, "Please enter a user id less than %zu char in length\n", kMaxUserIdLength);
    std::fflush(err);
    return;
  }
  MarkedBytes ciphertext;
  if (!cipher.encrypt(entered, &ciphertext)) return;
  std::string decrypted;
  bool deciphered = cipher.decrypt(&ciphertext, cipher.passkey(), &decrypted);

  // The cipher key is fixed in the library, so the ciphertext gives the
  // password away as surely as the plaintext: print neither.
  size_t cipherLength = ciphertext.size() - 1;
  std::fprintf(out, "Encrypted password: %zu \n", cipherLength);
  std::fprintf(out, "Decrypted password: %s \n",
               std::string(deciphered ? characterCount(decrypted) : 0, '*').c_str());
  std::fflush(out);
  if (!deciphered || decrypted != entered) {
    report(err,
           "Your actual password and decrypted password don't match, Please enter a password "
           "that has no spaces\n");
    return;
  }
  if (!writePasswordFile(cipher, fileName, userId, ciphertext.data(), cipherLength + 1)) return;

  std::string userRead;
  MarkedBytes cipherRead;
  std::string passwordRead;
  if (!readPasswordFile(cipher, fileName, &userRead, &cipherRead, cipher.passkey())) return;
  bool passwordOk =
      cipher.decrypt(&cipherRead, cipher.passkey(), &passwordRead) && passwordRead == entered;
  if (userRead != userId) {
    report(err, "Internal Error: User id read from file is not same as uid entered\n");
  } else if (!passwordOk) {
    report(err, "Internal Error: Password read from file is not same as Password entered\n");
  } else {
    report(out,
           "Verified user id & password by reading the created file, passwordfile: %s was "
           "properly created\n",
           fileName);
  }
}
