// What tests reach of the class events. Included by tests only (and by
// ClassEvents.cpp, which defines it).
#pragma once

// Forgets the name separator decided by the first class name.
void resetNameSeparator();
