// initializeProbe against a scripted JNIEnv: which fields the Java class
// lacks decides how far the exchange goes.
#include <gtest/gtest.h>
#include <jni.h>

#include <set>
#include <string>

#include "profiler/Tables.h"

extern "C" jboolean JNICALL Java_com_halden_probe_ProbeSystem_initializeProbe(JNIEnv*, jclass);

namespace {

std::set<std::string> missing;
std::set<std::string> foundClasses;
int hashSize = 0;
char fakeObject;

// Field ids are the field names' addresses; a name in `missing` has no field.
// Strings read as "value"; every class lookup fails.
JNIEnv* scriptedEnv() {
  static JNINativeInterface_ table = [] {
    JNINativeInterface_ t{};
    t.GetStaticFieldID = [](JNIEnv*, jclass, const char* name, const char*) JNICALL -> jfieldID {
      static std::set<std::string> names;
      if (missing.count(name)) return nullptr;
      return reinterpret_cast<jfieldID>(const_cast<std::string*>(&*names.insert(name).first));
    };
    t.GetStaticObjectField = [](JNIEnv*, jclass, jfieldID)
                                 JNICALL { return reinterpret_cast<jobject>(&fakeObject); };
    t.GetStaticIntField = [](JNIEnv*, jclass, jfieldID field) JNICALL -> jint {
      return *reinterpret_cast<std::string*>(field) == "methodHashSize" ? hashSize : 0;
    };
    t.SetStaticIntField = [](JNIEnv*, jclass, jfieldID, jint) JNICALL {};
    t.SetStaticLongField = [](JNIEnv*, jclass, jfieldID, jlong) JNICALL {};
    t.SetStaticObjectField = [](JNIEnv*, jclass, jfieldID, jobject) JNICALL {};
    t.GetStringUTFChars = [](JNIEnv*, jstring, jboolean*) JNICALL { return "value"; };
    t.ReleaseStringUTFChars = [](JNIEnv*, jstring, const char*) JNICALL {};
    t.GetStringUTFLength = [](JNIEnv*, jstring) JNICALL -> jsize { return 5; };
    t.FindClass = [](JNIEnv*, const char* name) JNICALL -> jclass {
      foundClasses.insert(name);
      return nullptr;
    };
    t.ExceptionCheck = [](JNIEnv*) JNICALL -> jboolean { return JNI_FALSE; };
    t.ExceptionDescribe = t.ExceptionClear = [](JNIEnv*) JNICALL {};
    t.DeleteLocalRef = [](JNIEnv*, jobject) JNICALL {};
    t.NewGlobalRef = [](JNIEnv*, jobject object) JNICALL { return object; };
    t.NewStringUTF = [](JNIEnv*, const char*)
                         JNICALL { return reinterpret_cast<jstring>(&fakeObject); };
    return t;
  }();
  static JNIEnv env{&table};
  return &env;
}

}  // namespace

// A missing class-reference field ends that step before the product version;
// the call goes on to write the facts and succeeds.
TEST(InitializeProbe, MissingClassReferenceSkipsTheProductVersion) {
  missing = {"clazz"};
  foundClasses.clear();
  EXPECT_EQ(Java_com_halden_probe_ProbeSystem_initializeProbe(scriptedEnv(), nullptr), JNI_TRUE);
  EXPECT_EQ(foundClasses.count("com/halden/probe/ProbeSystem"), 0u);

  missing.clear();
  EXPECT_EQ(Java_com_halden_probe_ProbeSystem_initializeProbe(scriptedEnv(), nullptr), JNI_TRUE);
  EXPECT_EQ(foundClasses.count("com/halden/probe/ProbeSystem"), 1u);
}

TEST(InitializeProbe, MethodHashSizeIsDefaultedAndBounded) {
  missing.clear();
  const int cases[][2] = {{0, 55511}, {-7, 55511}, {1259, 1259}, {0x7fffffff, 4194304}};
  for (const auto& c : cases) {
    hashSize = c[0];
    Java_com_halden_probe_ProbeSystem_initializeProbe(scriptedEnv(), nullptr);
    EXPECT_EQ(methodTableSize(), c[1]) << c[0];
  }
  setMethodTableSize(0);
}
