// Natives of com.halden.probe.ProbeUtils for the password file: each call
// builds its own PasswordCipher and works on local copies of its strings.
#include <jni.h>

#include <string>

#include "base/JniUtil.h"
#include "credentials/PasswordCipher.h"
#include "credentials/PasswordFile.h"
#include "platform/EntryGuard.h"

namespace {

// A Java string's modified UTF-8 characters, copied and released at once; an
// empty string when they cannot be obtained.
std::string charsOf(JNIEnv* env, jstring text) {
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) {
    clearPendingException(env);
    return std::string();
  }
  std::string copy(chars);
  env->ReleaseStringUTFChars(text, chars);
  return copy;
}

// True when text is well-formed modified UTF-8 (sequences of one, two or
// three bytes), the only form a new Java string may be made from. What a
// password file holds comes from outside and is checked first.
bool isModifiedUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    size_t follow = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : 3;
    if (follow == 3 || text.size() - i <= follow) return false;
    for (size_t k = 1; k <= follow; k++) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += follow + 1;
  }
  return true;
}

// The user id (wantPassword false) or the password of a password file, as a
// new Java string, or null.
jstring readBack(JNIEnv* env, jstring passkey, jstring fileName, bool wantPassword) {
  if (!passkey || !fileName) return nullptr;
  std::string key = charsOf(env, passkey);
  std::string name = charsOf(env, fileName);
  PasswordCipher cipher;
  std::string userId, password;
  if (!readCredentials(cipher, name.c_str(), &userId, &password, key.c_str())) return nullptr;
  // A Java string ends at a zero byte, as the value's C form does.
  std::string value = (wantPassword ? password : userId).c_str();
  if (!isModifiedUtf8(value)) return nullptr;
  jstring result = env->NewStringUTF(value.c_str());
  if (clearPendingException(env)) return nullptr;
  return result;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_halden_probe_ProbeUtils_genPasswordFile(JNIEnv* env, jclass,
                                                                        jstring userId,
                                                                        jstring password,
                                                                        jstring fileName) {
  guardedEntry("Java_com_halden_probe_ProbeUtils_genPasswordFile", [&]() {
    if (!userId || !password || !fileName) return;
    std::string user = charsOf(env, userId);
    std::string secret = charsOf(env, password);
    std::string name = charsOf(env, fileName);
    PasswordCipher cipher;
    genPasswordFile(cipher, user.c_str(), secret.c_str(), name.c_str());
  });
}

JNIEXPORT jstring JNICALL Java_com_halden_probe_ProbeUtils_getUser(JNIEnv* env, jclass,
                                                                   jstring passkey,
                                                                   jstring fileName) {
  return guardedEntry<jstring>("Java_com_halden_probe_ProbeUtils_getUser", [&]() -> jstring {
    return readBack(env, passkey, fileName, false);
  });
}

JNIEXPORT jstring JNICALL Java_com_halden_probe_ProbeUtils_getPassword(JNIEnv* env, jclass,
                                                                       jstring passkey,
                                                                       jstring fileName) {
  return guardedEntry<jstring>("Java_com_halden_probe_ProbeUtils_getPassword",
                               [&]() -> jstring { return readBack(env, passkey, fileName, true); });
}

}  // extern "C"
