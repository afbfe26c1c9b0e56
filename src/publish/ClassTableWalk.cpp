#include "publish/ClassTableWalk.h"

#include <atomic>

namespace {
std::atomic<ClassTableWalker> installed{nullptr};
}  // namespace

void setClassTableWalker(ClassTableWalker walker) {
  installed.store(walker, std::memory_order_release);
}

void walkClassTable(ClassVisitor visit, void* context) {
  if (ClassTableWalker walker = installed.load(std::memory_order_acquire)) walker(visit, context);
}
