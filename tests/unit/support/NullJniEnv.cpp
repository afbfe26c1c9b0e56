#include "support/NullJniEnv.h"

namespace {

JNINativeInterface_ makeTable() {
  JNINativeInterface_ table{};
  table.FindClass = [](JNIEnv*, const char*) JNICALL -> jclass { return nullptr; };
  table.ExceptionCheck = [](JNIEnv*) JNICALL -> jboolean { return JNI_FALSE; };
  table.ExceptionOccurred = [](JNIEnv*) JNICALL -> jthrowable { return nullptr; };
  table.ExceptionDescribe = table.ExceptionClear = [](JNIEnv*) JNICALL {};
  table.DeleteLocalRef = [](JNIEnv*, jobject) JNICALL {};
  return table;
}

const JNINativeInterface_ nullTable = makeTable();

}  // namespace

NullJniEnv::NullJniEnv() {
  env_.functions = &nullTable;
}
