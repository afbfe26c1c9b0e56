// The password-file natives with real Java strings, in the JVM that this test
// binary creates in-process.
#include <gtest/gtest.h>
#include <jni.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

extern "C" {
void Java_com_halden_probe_ProbeUtils_genPasswordFile(JNIEnv*, jclass, jstring, jstring, jstring);
jstring Java_com_halden_probe_ProbeUtils_getUser(JNIEnv*, jclass, jstring, jstring);
jstring Java_com_halden_probe_ProbeUtils_getPassword(JNIEnv*, jclass, jstring, jstring);
}

namespace {

class PasswordNatives : public testing::Test {
 protected:
  JNIEnv* env = nullptr;
  std::string file;
  std::string passkey = "k3!Vn^8x#Qp$2r&Tz*5mY";

  void SetUp() override {
    JavaVM* vm = nullptr;
    jsize count = 0;
    ASSERT_EQ(JNI_GetCreatedJavaVMs(&vm, 1, &count), JNI_OK);
    ASSERT_EQ(vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_10), JNI_OK);
    env->PushLocalFrame(32);
    // ctest runs the tests side by side: one file per test.
    file =
        testing::TempDir() + "pw_" + testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    EXPECT_FALSE(env->ExceptionCheck());
    env->PopLocalFrame(nullptr);
    std::remove(file.c_str());
  }
  jstring str(const std::string& text) { return env->NewStringUTF(text.c_str()); }
  // getUser (or getPassword) with the passkey, as text or "<null>".
  std::string get(bool wantPassword) {
    auto native = wantPassword ? Java_com_halden_probe_ProbeUtils_getPassword
                               : Java_com_halden_probe_ProbeUtils_getUser;
    jstring text = native(env, nullptr, str(passkey), str(file));
    if (!text) return "<null>";
    std::vector<char> utf(static_cast<size_t>(env->GetStringUTFLength(text)) + 1);
    env->GetStringUTFRegion(text, 0, env->GetStringLength(text), utf.data());
    return utf.data();
  }
};

TEST_F(PasswordNatives, JavaStringsRoundTripOnlyWithThePasskey) {
  const std::string secret =
      "gr\xc3\xbc\xc3\x9f"
      "e 1";
  testing::internal::CaptureStdout();
  Java_com_halden_probe_ProbeUtils_genPasswordFile(env, nullptr, str("j\xc3\xbcrgen"), str(secret),
                                                   str(file));
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_CONTAINS(printed, "Decrypted password: ******* \nVerified");
  EXPECT_EQ(get(false) + "/" + get(true), "j\xc3\xbcrgen/" + secret);

  passkey.back() = 'y';
  testing::internal::CaptureStderr();
  EXPECT_EQ(get(false) + get(true), "<null><null>");
  EXPECT_EQ(Java_com_halden_probe_ProbeUtils_getUser(env, nullptr, nullptr, str(file)), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(PasswordNatives, NullArgumentsAndMalformedTextGiveNothing) {
  Java_com_halden_probe_ProbeUtils_genPasswordFile(env, nullptr, str("u"), nullptr, str(file));
  EXPECT_FALSE(std::ifstream(file).good()) << "no file without a password";
  // A user id that is no modified UTF-8 cannot become a Java string.
  std::ofstream(file, std::ios::binary) << "\xc3:\xff";
  EXPECT_EQ(get(false) + "/" + get(true), "<null>/");
}

}  // namespace
