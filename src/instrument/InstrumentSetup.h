// Set-up of the load-time instrumentation, run by the entry point.
#pragma once

// Installs the default method specs, then reads the property file named by
// XRPSKEPA_PROPS (or propertyFile when that is unset or empty). A file that
// cannot be read, or holds a bad escape, leaves the defaults. False when a
// line of the file fails: then instrumentation cannot be set up.
bool instrumentationSetup(const char* propertyFile);
