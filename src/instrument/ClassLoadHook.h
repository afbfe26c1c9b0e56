// The class-load hook: hands classes to the agent's Java instrumentation once
// an application-server launcher class is seen, and rewrites the JVM's
// class-definition methods so that later classes pass through the agent.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "platform/jvmpi.h"

// Handles one class-load-hook event. Whatever fails, the class loads (the
// JVM's bytes are handed back unchanged).
void instrumentClassLoadHook(JVMPI_Event* event);

// Handles one class-prepare event: a class that the hook wrapped has been
// accepted by the JVM, which makes its spec list done.
void instrumentClassPrepared(JVMPI_Event* event);

// Where the hook finds the Java entry BcmBootstrap.instrumentClassFromJVMPI,
// resolved at JVM init done; each answers null until then.
void setJavaInstrumentEntry(jclass (*bootstrapClass)(), jmethodID (*method)());

// Writes class bytes to the dump path as the class name, dotted, + ".class".
// Failures are silent.
void dumpClass(const char* name, size_t nameLength, const uint8_t* bytes, size_t length);
