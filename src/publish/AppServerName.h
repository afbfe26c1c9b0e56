// The application-server name as the Java side knows it, sent in the hello
// packet.
#pragma once

#include <jni.h>

// Asks the Java side for the application-server name; 0 on success (the
// buffer unchanged when Java answers null), 1 after a Java exception.
int getAppServerNameFromJava(char* buffer, int size, JNIEnv* env);
