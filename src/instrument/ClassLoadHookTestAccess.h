// What tests reach of the class-load hook. Included by tests only (and by
// ClassLoadHook.cpp, which defines it).
#pragma once

// Clears the launcher-seen, list-done and busy flags, so that a test runs
// the hook again from the start.
void resetClassLoadHook();
