// The identity values of the hello packet, gathered on the event agent's
// thread: the application-server name as the Java side knows it, the node
// name, and the probe manager's values through a source the start-up
// installs.
#pragma once

#include <jni.h>

struct HelloIdentity;

// Asks the Java side for the application-server name; 0 on success (the
// buffer unchanged when Java answers null), 1 after a Java exception. A long
// name is cut to the buffer at a whole character.
int getAppServerNameFromJava(char* buffer, int size, JNIEnv* env);

// Fills the product version, command agent id and admin port.
using ProbeIdentitySource = void (*)(HelloIdentity* identity);
void setProbeIdentitySource(ProbeIdentitySource source);

// Fills every value: the node name, the application-server name (from Java
// through `env`, or hm.appserver when there is no `env` or Java answers null
// or fails) and, when a source is installed, the probe manager's values.
void fillHelloIdentity(HelloIdentity* identity, JNIEnv* env);
