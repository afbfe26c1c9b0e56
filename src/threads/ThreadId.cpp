#include "threads/ThreadId.h"

#include <cstdint>

uint32_t threadIdOf(JNIEnv* env) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(env));
}
