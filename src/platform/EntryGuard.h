// Every entry point that the JVM calls (JNI natives, the load entries, JVMTI
// callbacks) runs its body through guardedEntry. A C++ exception must never
// unwind into the JVM's frames: that ends the host process. The library
// throws none of its own; what can escape in practice is a failed allocation
// inside the standard library (std::bad_alloc from a container). Such a call
// is answered like a call that failed: a line on standard error and the
// entry's failure value (0, false or null), and the host goes on.
#pragma once

#include <cstdio>

inline void entryFailed(const char* entry) noexcept {
  std::fprintf(stderr, "[HM]: ERROR: %s failed: out of memory or internal error\n", entry);
}

template <typename Result, typename Body>
Result guardedEntry(const char* entry, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    entryFailed(entry);
    return Result{};
  }
}

template <typename Body>
void guardedEntry(const char* entry, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    entryFailed(entry);
  }
}
