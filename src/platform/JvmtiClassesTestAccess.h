// What tests reach of the JVMTI class and method ids. Included by tests only
// (and by JvmtiClasses.cpp, which defines it, and jvmtiProviderReset).
#pragma once

// Forgets every id (the weak references are not released).
void jvmtiClassesReset();
