// The password file on real files: what genPasswordFile writes and prints, and
// what the reader makes of intact, tampered, cut and foreign files.
#include "credentials/PasswordFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
const char kPasskey[] = "k3!Vn^8x#Qp$2r&Tz*5mY";

class PasswordFile : public testing::Test {
 protected:
  TempDir dir;
  PasswordCipher cipher;
  std::string file = dir.at("pw");
  std::string user, password;

  // Both streams of a genPasswordFile call.
  std::string generate(const char* userId, const std::string& secret) {
    CapturedOutput printed;
    genPasswordFile(cipher, userId, secret.c_str(), file.c_str());
    printed.finish();
    return printed.out() + printed.err();
  }
  // Whether readCredentials succeeds; err receives what it printed.
  bool read(std::string* err, const char* passkey = kPasskey) {
    CapturedOutput printed;
    bool ok = readCredentials(cipher, file.c_str(), &user, &password, passkey);
    printed.finish();
    *err = printed.out() + printed.err();
    return ok;
  }
};

TEST_F(PasswordFile, GeneratedFileHasItsLayoutAndReadsBack) {
  EXPECT_EQ(generate("bob", "h\xc3\xa9llo"),
            "Encrypted password: 180 \nDecrypted password: ***** \n"
            "Verified user id & password by reading the created file, passwordfile: " +
                file + " was properly created\n");
  for (const std::string& secret : std::vector<std::string>{"", "a b!", std::string(1000, 'p')}) {
    generate("operator", secret);
    std::string bytes = readFile(file), err;
    ASSERT_EQ(bytes.size(), 8 + 1 + 30 * secret.size() + 1);
    EXPECT_EQ(bytes.substr(0, 9), "operator:");
    EXPECT_EQ(bytes.back(), '\xff');
    ASSERT_TRUE(read(&err)) << err;
    EXPECT_EQ(user + "/" + password + "/" + err, "operator/" + secret + "/");
  }
#ifdef _WIN32
  GTEST_SKIP() << "Windows files have no owner/group mode bits: access lists decide";
#endif
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // An existing file keeps its mode and loses its old content.
  dir.write("pw", std::string(500, 'x'));
  fs::permissions(file, fs::perms::owner_all | fs::perms::group_read);
  generate("u", "p");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read);
  EXPECT_EQ(readFile(file).size(), 1 + 1 + 30 + 1u);
}

// A known answer: "Az" is the nibbles 4, 1, 7 and 10, each XORed with the 15
// characters of the cipher key; the passkey of the library reads it back.
TEST_F(PasswordFile, KnownPasswordGivesKnownBytes) {
  dir.write("pw", std::string("u:") + "u3\"Hi%~4V'p6s!F" + "p6'Ml {1S\"u3v$C" + "v0!Kj&}7U$s5p\"E" +
                      "{=,Fg+p:X)~8}/H" + "\xff");
  const std::string known = readFile(file);
  std::string err;
  ASSERT_TRUE(read(&err)) << err;
  EXPECT_EQ(user + "/" + password, "u/Az");
  generate("u", "Az");
  EXPECT_EQ(readFile(file), known);
}

TEST_F(PasswordFile, WrongPasskeyGivesNothingAndPrintsNothing) {
  generate("alice", "s3cret");
  std::string err, near = kPasskey;
  near[10] ^= 1;
  for (const char* passkey : {near.c_str(), "k3!Vn^8x#Qp$2r&Tz*5m", "k3!Vn^8x#Qp$2r&Tz*5mYY"}) {
    EXPECT_FALSE(read(&err, passkey));
    EXPECT_EQ(err + user + password, "") << passkey;
  }
}

TEST_F(PasswordFile, TamperedCutAndUnterminatedCiphertextsFail) {
  generate("alice", "s3cret");
  const std::string good = readFile(file);
  std::string err;
  for (size_t at = 6; at + 1 < good.size(); at += 7) {
    std::string bad = good;
    bad[at] ^= 0x10;
    dir.write("pw", bad);
    EXPECT_FALSE(read(&err));
    EXPECT_EQ(err, "Error occured during decryption\n") << at;
  }
  dir.write("pw", good.substr(0, 6 + 37) + "\xff");
  EXPECT_FALSE(read(&err));
  EXPECT_EQ(err, "Encrypted password string is corrupt\n");
  dir.write("pw", good.substr(0, good.size() - 1));
  EXPECT_FALSE(read(&err));
  EXPECT_EQ(err, "ERROR: Looks like the string is corrupt");
}

TEST_F(PasswordFile, UserIdEndsAtTheFirstColonAndWithoutOneIsKept) {
  MarkedBytes ciphertext;
  dir.write("pw", "a:b:\xff");
  ASSERT_TRUE(readPasswordFile(cipher, file.c_str(), &user, &ciphertext, kPasskey));
  EXPECT_EQ(user, "a");
  EXPECT_EQ(ciphertext, (MarkedBytes{'b', ':', 0xFF}));
  dir.write("pw", "abc\xff");
  ASSERT_TRUE(readPasswordFile(cipher, file.c_str(), &user, &ciphertext, kPasskey));
  EXPECT_EQ(user, "a");
  EXPECT_EQ(ciphertext, (MarkedBytes{'b', 'c', 0xFF}));
}

TEST_F(PasswordFile, RefusedValuesAreReported) {
  EXPECT_EQ(generate("u", std::string(1001, 'p')),
            "Please enter a password less than 1000 char in length\n");
  EXPECT_EQ(generate(std::string(1001, 'u').c_str(), "p"),
            "Please enter a user id less than 1000 char in length\n");
  EXPECT_FALSE(fileExists(file));
  EXPECT_EQ(generate("a:b", "p"), "Please enter a user id without ':'\n");
  EXPECT_FALSE(fileExists(file));
  std::string err, noFolder = dir.at("none/pw");
  unsigned char marker = 0xFF;
  CapturedOutput printed;
  EXPECT_FALSE(writePasswordFile(cipher, noFolder.c_str(), "u", &marker, 1));
  EXPECT_FALSE(readCredentials(cipher, nullptr, &user, &password, kPasskey));
  EXPECT_FALSE(readCredentials(cipher, noFolder.c_str(), &user, nullptr, kPasskey));
  printed.finish();
  EXPECT_EQ(printed.err(), "Could not open the file for writing, " + noFolder +
                               "\nInvalid file name \nInvalid userid or password \n");
  file = noFolder;
  EXPECT_FALSE(read(&err));
  EXPECT_EQ(err, "Could not open the file " + noFolder + "\n");
}

#ifndef _WIN32
// A link planted at the path is neither written through nor read through,
// and a FIFO does not hold the caller.
TEST_F(PasswordFile, LinksAndFifosAreRefusedWithAMessage) {
  const std::string refused = "The file " + file + " is a link or not a regular file: refused\n";
  dir.write("shared", "world-readable");
  fs::create_symlink(dir.at("shared"), file);
  EXPECT_CONTAINS(generate("mallory", "topsecret"), refused);
  EXPECT_EQ(readFile(dir.at("shared")), "world-readable");
  fs::remove(file);
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  std::string err;
  EXPECT_FALSE(read(&err));
  EXPECT_EQ(err, refused);
}
#endif

// A caller's file name is echoed cut, however long: a 1 MB name printed on
// every call would flood the server's output.
TEST_F(PasswordFile, AHugeFileNameIsEchoedCut) {
  std::string err;
  file = std::string(1 << 20, 'f');
  EXPECT_FALSE(read(&err));
  EXPECT_EQ(err, "Could not open the file " + std::string(512, 'f') + "\n");
}

// Random files are the password-file fuzz target's; here the size bounds.
TEST_F(PasswordFile, OversizedAndEmptyFilesAreRefused) {
  std::string err;
  for (size_t size : {kMaxPasswordFileSize + 1, size_t{0}}) {
    dir.write("pw", std::string(size, ':'));
    EXPECT_FALSE(read(&err));
    EXPECT_EQ(err, "No data in file " + file + " \n");
  }
}

}  // namespace
