// The class table and the method table of loaded Java code, and the
// method-level options that steer how they are read and cleaned.
#pragma once

#include <cstdint>

class ClassTable;
class MethodTable;

// The method-table size the Java side configured (0 means 55511).
void setMethodTableSize(int size);
int methodTableSize();

// Made once, when the probe manager first starts; null until then.
void createMethodAndClassTables();
ClassTable* classTable();
MethodTable* methodTable();

// The class sequence counter starts again at every probe start; the first
// class gets 1.
void resetClassSequence();
uint32_t nextClassSequence();
