// Set-up of the load-time instrumentation, run by the entry point.
#pragma once

// Reads the instrumentation property file (the default path when empty).
// False when instrumentation cannot be set up.
bool instrumentationSetup(const char* propertyFile);
