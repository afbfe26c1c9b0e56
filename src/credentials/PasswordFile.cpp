#include "credentials/PasswordFile.h"

#include <cstdio>
#include <cstring>

#include "platform/os.h"

namespace {

// A link, FIFO, device or directory where the password file should be: it
// is neither followed nor opened, so nothing the link points at is
// overwritten or read and no call waits for a writer.
const char kNotRegular[] = "The file %s is a link or not a regular file: refused\n";

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

// True when a file step succeeded; otherwise reports it: a refused path
// with its own message, any other failure with `failed`.
bool succeeded(const PasswordCipher& cipher, int error, const char* failed, const char* fileName) {
  if (error == 0) return true;
  report(cipher.err(), error == os::kNotRegularFile ? kNotRegular : failed, fileName);
  return false;
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
  // Built whole, then written to a new file that replaces the old one.
  std::string bytes = std::string(userId) + ":";
  bytes.append(reinterpret_cast<const char*>(ciphertext), byteCount);
  return succeeded(cipher, os::replaceFile(fileName, bytes.data(), bytes.size()),
                   "Could not open the file for writing, %s\n", fileName);
}

bool parsePasswordFile(const PasswordCipher& cipher, const char* fileName, const std::string& bytes,
                       std::string* userId, MarkedBytes* ciphertext) {
  // An empty file and one larger than the largest valid file get no buffer.
  if (bytes.empty() || bytes.size() > kMaxPasswordFileSize) {
    report(cipher.err(), "No data in file %s \n", fileName);
    return false;
  }
  size_t colon = bytes.find(':');
  size_t cipherStart = 1;
  if (colon != std::string::npos) {
    userId->assign(bytes, 0, colon);
    cipherStart = colon + 1;
  }
  ciphertext->assign(bytes.begin() + static_cast<long>(cipherStart), bytes.end());
  return true;
}

bool readPasswordFile(const PasswordCipher& cipher, const char* fileName, std::string* userId,
                      MarkedBytes* ciphertext, const char* passkey) {
  if (!checkReadArguments(cipher, fileName, userId, ciphertext, passkey)) return false;
  // One byte beyond the largest valid file tells a larger one.
  std::string bytes;
  return succeeded(cipher, os::readRegularFile(fileName, kMaxPasswordFileSize + 1, &bytes),
                   "Could not open the file %s\n", fileName) &&
         parsePasswordFile(cipher, fileName, bytes, userId, ciphertext);
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
  // The reader splits the file at its first ':': such a user id could never
  // be read back.
  if (std::strchr(userId, ':')) {
    report(err, "Please enter a user id without ':'\n");
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
