// Thread dumps and stack traces from javacore files. The JVM (or the layer
// standing in for its reliability interface) writes a javacore into the
// current directory when asked; these procedures ask, wait, find the file
// the request produced and, for a stack trace, read one thread's frames out
// of it and delete it.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diag/JavacoreParser.h"

// The local time a javacore's name gives ("javacore.YYYYMMDD.HHMMSS.<pid>..."),
// in seconds since the epoch; false when the name does not have that form.
bool javacoreNameTime(const char* name, int64_t* seconds);

// --- full thread dump --------------------------------------------------------

// Finds, among the files of dir named "javacore*<pid>.txt" in name order, the
// first modified no earlier than the trigger second. Logs each candidate.
enum class DumpSearch { Found, CannotSearch, NotFound };
DumpSearch findThreadDumpFile(const char* dir, int processId, int64_t triggerSeconds,
                              std::string* name);

// Asks for a complete javacore, waits for it and finds it. On success the
// file's name (without directory) is in name; false after logging the
// failure.
bool generateThreadDumpFile(JNIEnv* env, std::string* name);

// --- stack trace of one thread -----------------------------------------------

// Examines one candidate file of dir for the thread: a javacore named no
// earlier than noteSeconds is parsed and deleted. True when it was parsed
// (found or not); frames receives what was found.
bool examineJavacore(const char* dir, const char* name, int64_t noteSeconds,
                     uint32_t threadObjectId, int maxFrames, std::vector<JavacoreFrame>* frames);

// Examines the javacore files of dir in name order until one yields frames.
void searchJavacores(const char* dir, int64_t noteSeconds, uint32_t threadObjectId, int maxFrames,
                     std::vector<JavacoreFrame>* frames);

// The whole procedure: product-version check, trigger, sleep, search of the
// current directory.
void stackTraceFromJavacore(JNIEnv* env, uint32_t threadObjectId, int maxFrames,
                            std::vector<JavacoreFrame>* frames);

// "internal.stacktrace.sleep" in milliseconds: default 5000, and 5000 for a
// negative value.
int stackTraceSleepMillis();
