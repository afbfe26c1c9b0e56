// Who this process is: the identity values resolved at start-up from the
// command line, the environment or defaults, the argument copy, and the data
// file names derived from them.
#pragma once

#include <jni.h>

// Each holds at most 255 characters; longer values are cut.
extern char homeDir[256];
extern char nodeName[256];
extern char serverName[256];
extern char profileName[256];
extern char extDirs[2000];
// The boot class of the transaction-performance agent, in slash form.
extern char bootClassName[256];

// The JavaVM given to the entry point, kept for the life of the process.
extern JavaVM* javaVM;

// The process's argument copy: count and private copies of each argument.
int argumentCount();
const char* argumentAt(int index);

// Runs the identity and configuration start-up: argument copy, identity
// values, monitored directory, log, property file, MOD file, boot class name.
bool identityStartup(JavaVM* vm);

// Resolves the identity values from an argument list and the environment
// (steps 2 to 6 of the start-up); used by identityStartup and by tests.
void resolveIdentity(int argc, const char* const* argv);

// Creates <home>/lib/monitored/<server> when it is missing.
void createMonitoredDirectory();

// A new 1024-byte buffer (delete[]) holding the MOD file path.
char* modFileName();

// Asks the Java side for the application-server name; 0 on success (the
// buffer unchanged when Java answers null), 1 after a Java exception.
int getAppServerNameFromJava(char* buffer, int size, JNIEnv* env);
