// initializeProbe against a scripted JNIEnv: which fields the Java class
// lacks decides how far the exchange goes.
#include <gtest/gtest.h>
#include <jni.h>

#include <set>
#include <string>

#include "profiler/Tables.h"

extern "C" jboolean JNICALL Java_com_halden_probe_ProbeSystem_initializeProbe(JNIEnv*, jclass);

namespace {

// Field ids are the field names' addresses; a name in `missing` has no field.
std::set<std::string> missing;
std::set<std::string> foundClasses;
int hashSize = 0;
char fakeObject;

jfieldID JNICALL getStaticFieldID(JNIEnv*, jclass, const char* name, const char*) {
  static std::set<std::string> names;
  if (missing.count(name)) return nullptr;
  return reinterpret_cast<jfieldID>(const_cast<std::string*>(&*names.insert(name).first));
}
jobject JNICALL getStaticObjectField(JNIEnv*, jclass, jfieldID) {
  return reinterpret_cast<jobject>(&fakeObject);
}
jint JNICALL getStaticIntField(JNIEnv*, jclass, jfieldID field) {
  return *reinterpret_cast<std::string*>(field) == "methodHashSize" ? hashSize : 0;
}
void JNICALL setStaticIntField(JNIEnv*, jclass, jfieldID, jint) {}
void JNICALL setStaticLongField(JNIEnv*, jclass, jfieldID, jlong) {}
void JNICALL setStaticObjectField(JNIEnv*, jclass, jfieldID, jobject) {}
const char* JNICALL getStringUTFChars(JNIEnv*, jstring, jboolean*) {
  return "value";
}
void JNICALL releaseStringUTFChars(JNIEnv*, jstring, const char*) {}
jsize JNICALL getStringUTFLength(JNIEnv*, jstring) {
  return 5;
}
jclass JNICALL findClass(JNIEnv*, const char* name) {
  foundClasses.insert(name);
  return nullptr;
}
jboolean JNICALL exceptionCheck(JNIEnv*) {
  return JNI_FALSE;
}
void JNICALL exceptionVoid(JNIEnv*) {}
void JNICALL deleteLocalRef(JNIEnv*, jobject) {}
jobject JNICALL newGlobalRef(JNIEnv*, jobject object) {
  return object;
}
jstring JNICALL newStringUTF(JNIEnv*, const char*) {
  return reinterpret_cast<jstring>(&fakeObject);
}

JNIEnv* scriptedEnv() {
  static JNINativeInterface_ table = [] {
    JNINativeInterface_ t{};
    t.GetStaticFieldID = getStaticFieldID;
    t.GetStaticObjectField = getStaticObjectField;
    t.GetStaticIntField = getStaticIntField;
    t.SetStaticIntField = setStaticIntField;
    t.SetStaticLongField = setStaticLongField;
    t.SetStaticObjectField = setStaticObjectField;
    t.GetStringUTFChars = getStringUTFChars;
    t.ReleaseStringUTFChars = releaseStringUTFChars;
    t.GetStringUTFLength = getStringUTFLength;
    t.FindClass = findClass;
    t.ExceptionCheck = exceptionCheck;
    t.ExceptionDescribe = exceptionVoid;
    t.ExceptionClear = exceptionVoid;
    t.DeleteLocalRef = deleteLocalRef;
    t.NewGlobalRef = newGlobalRef;
    t.NewStringUTF = newStringUTF;
    return t;
  }();
  static JNIEnv env{&table};
  return &env;
}

}  // namespace

// A class-reference field that is missing ends the class-reference and
// product-version step: the product version is not asked for, and the call
// goes on to write the facts and succeeds.
TEST(InitializeProbe, MissingClassReferenceSkipsTheProductVersion) {
  missing = {"clazz"};
  foundClasses.clear();
  EXPECT_EQ(Java_com_halden_probe_ProbeSystem_initializeProbe(scriptedEnv(), nullptr), JNI_TRUE);
  EXPECT_EQ(foundClasses.count("com/halden/probe/ProbeSystem"), 0u);

  missing.clear();
  EXPECT_EQ(Java_com_halden_probe_ProbeSystem_initializeProbe(scriptedEnv(), nullptr), JNI_TRUE);
  EXPECT_EQ(foundClasses.count("com/halden/probe/ProbeSystem"), 1u);
}

// The method-table size from Java: 0 or less takes the default, a huge value
// is bounded, anything else is kept.
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
