#include "threads/ThreadId.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace {

// The pairings of every JNIEnv that holds an id, both ways. Guarded by
// pairingLock; touched only on the slow path.
struct Pairings {
  std::mutex lock;
  std::unordered_map<JNIEnv*, uint32_t> idOfEnv;
  std::unordered_map<uint32_t, JNIEnv*> envOfId;
};

Pairings& pairings() {
  // Never destroyed: natives and profiler events may still arrive while the
  // process runs its exit handlers.
  static Pairings* instance = new Pairings();
  return *instance;
}

// Bumped by every release, so that a cached id is checked again after any
// pairing may have ended.
std::atomic<uint32_t> releaseEpoch{0};

// The calling thread's own id. Plain data, so reading it costs no
// initialisation guard.
struct CachedId {
  JNIEnv* env;
  uint32_t id;
  uint32_t epoch;
};
thread_local CachedId cached = {nullptr, 0, 0};

// The caller holds the pairing lock.
uint32_t assignLocked(Pairings& p, JNIEnv* env) {
  auto found = p.idOfEnv.find(env);
  if (found != p.idOfEnv.end()) return found->second;
  uint32_t candidate = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(env));
  // JNIEnv pointers are 8-aligned; stepping by 8 keeps ids spread over the
  // thread table's buckets the way the addresses themselves would be.
  while (candidate == 0 || p.envOfId.count(candidate) != 0) candidate += 8;
  p.idOfEnv.emplace(env, candidate);
  p.envOfId.emplace(candidate, env);
  return candidate;
}

}  // namespace

uint32_t threadIdOf(JNIEnv* env) {
  if (!env) return 0;
  uint32_t epoch = releaseEpoch.load(std::memory_order_relaxed);
  if (cached.env == env && cached.epoch == epoch) return cached.id;
  Pairings& p = pairings();
  uint32_t id;
  {
    std::lock_guard<std::mutex> guard(p.lock);
    id = assignLocked(p, env);
  }
  cached = CachedId{env, id, epoch};
  return id;
}

uint32_t lookupThreadId(JNIEnv* env) {
  if (!env) return 0;
  if (cached.env == env && cached.epoch == releaseEpoch.load(std::memory_order_relaxed))
    return cached.id;
  Pairings& p = pairings();
  std::lock_guard<std::mutex> guard(p.lock);
  auto found = p.idOfEnv.find(env);
  return found == p.idOfEnv.end() ? 0 : found->second;
}

JNIEnv* envOfThreadId(uint32_t id) {
  if (id == 0) return nullptr;
  Pairings& p = pairings();
  std::lock_guard<std::mutex> guard(p.lock);
  auto found = p.envOfId.find(id);
  return found == p.envOfId.end() ? nullptr : found->second;
}

void releaseThreadId(JNIEnv* env) {
  if (!env) return;
  Pairings& p = pairings();
  {
    std::lock_guard<std::mutex> guard(p.lock);
    auto found = p.idOfEnv.find(env);
    if (found == p.idOfEnv.end()) return;
    p.envOfId.erase(found->second);
    p.idOfEnv.erase(found);
    releaseEpoch.fetch_add(1, std::memory_order_relaxed);
  }
  if (cached.env == env) cached = CachedId{nullptr, 0, 0};
}

int assignedThreadIdCount() {
  Pairings& p = pairings();
  std::lock_guard<std::mutex> guard(p.lock);
  return static_cast<int>(p.idOfEnv.size());
}
