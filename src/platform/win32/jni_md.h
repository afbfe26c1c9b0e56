// Machine-dependent JNI definitions for Windows, which the JDK's jni.h
// includes. The JNI types have fixed sizes (jint 32 bits, jlong 64 bits, jbyte
// a signed 8-bit value); entry points are exported from the DLL and use the
// __stdcall convention of the Windows JVMs.
#ifndef DC_WIN32_JNI_MD_H
#define DC_WIN32_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
