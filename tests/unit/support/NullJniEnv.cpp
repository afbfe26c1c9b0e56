#include "support/NullJniEnv.h"

namespace {

jclass JNICALL findClass(JNIEnv*, const char*) {
  return nullptr;
}
jboolean JNICALL exceptionCheck(JNIEnv*) {
  return JNI_FALSE;
}
jthrowable JNICALL exceptionOccurred(JNIEnv*) {
  return nullptr;
}
void JNICALL exceptionDescribe(JNIEnv*) {}
void JNICALL exceptionClear(JNIEnv*) {}
void JNICALL deleteLocalRef(JNIEnv*, jobject) {}

JNINativeInterface_ makeTable() {
  JNINativeInterface_ table{};
  table.FindClass = findClass;
  table.ExceptionCheck = exceptionCheck;
  table.ExceptionOccurred = exceptionOccurred;
  table.ExceptionDescribe = exceptionDescribe;
  table.ExceptionClear = exceptionClear;
  table.DeleteLocalRef = deleteLocalRef;
  return table;
}

const JNINativeInterface_ nullTable = makeTable();

}  // namespace

NullJniEnv::NullJniEnv() {
  env_.functions = &nullTable;
}
