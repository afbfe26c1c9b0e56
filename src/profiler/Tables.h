// The class table and the method table of loaded Java code.
#pragma once

// The method-table size the Java side configured (0 means 55511).
void setMethodTableSize(int size);
int methodTableSize();

// Made once, when the probe manager first starts.
void createMethodAndClassTables();
// The class sequence counter starts again at every probe start.
void resetClassSequence();

// Reads the method-level options (sync flag, cleanup threshold and interval)
// and prints which way method lookups go.
void readMethodLevelOptions();
bool methodLevelSync();
int cleanupThreshold();
int cleanupInterval();
