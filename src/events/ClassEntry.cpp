#include "events/ClassEntry.h"

#include <atomic>

namespace {
std::atomic<void (*)(ClassEntry*)> retirement{nullptr};
}  // namespace

void setClassEntryRetirement(void (*retire)(ClassEntry*)) {
  retirement.store(retire, std::memory_order_release);
}

void retireClassEntry(ClassEntry* entry) {
  if (auto retire = retirement.load(std::memory_order_acquire)) retire(entry);
}
