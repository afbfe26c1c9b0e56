// Who this process is: the identity values resolved at start-up from the
// command line, the environment or defaults, the argument copy, and the data
// file names derived from them.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

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

// A relative home directory is taken from the current directory, once at
// start-up: later steps change the current directory (the monitored
// directory is made from inside <home>/lib) and must not read the home
// relative to wherever they stand. Cut to the field like any other value.
void makeHomeDirAbsolute();

// Replaces the argument copy (taken once at start-up).
void setArgumentCopy(std::vector<std::string> arguments);

// Stores the boot class name in slash form: the configured one, or the
// default boot class when none is configured.
void setBootClassName(const char* configured);

// Resolves the identity values from an argument list and the environment
// (steps 2 to 6 of the start-up).
void resolveIdentity(int argc, const char* const* argv);

// Creates <home>/lib/monitored/<server> when it is missing.
void createMonitoredDirectory();

// A new 1024-byte buffer (delete[]) holding the MOD file path.
char* modFileName();
