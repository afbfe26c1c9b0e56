#include "threads/TextLimits.h"

#include <atomic>

namespace {

constexpr int kSamples = 254;
constexpr int kFrozen = 65535;

// One measured average: a 16-bit sample counter, a 32-bit total and the
// estimate, shared without a lock. Counter and total are one 64-bit value
// (counter in the high half), so each sample adds its count and its bytes in
// one compare-and-swap; the claim of the 254th moves the counter straight to
// its frozen mark and holds every earlier sample's bytes: the estimate is set
// once, from all 254 samples, and then stays.
struct SizeEstimate {
  std::atomic<uint32_t> estimate;
  std::atomic<uint64_t> state{0};

  explicit SizeEstimate(uint32_t initial) : estimate(initial) {}

  void reset(uint32_t initial) {
    estimate.store(initial, std::memory_order_relaxed);
    state.store(0, std::memory_order_relaxed);
  }

  int samples() const { return static_cast<int>(state.load(std::memory_order_relaxed) >> 32); }

  void sample(size_t bytes) {
    uint64_t current = state.load(std::memory_order_relaxed);
    uint64_t next;
    do {
      uint32_t count = static_cast<uint32_t>(current >> 32);
      if (count >= kFrozen) return;
      uint32_t total = static_cast<uint32_t>(current) + static_cast<uint32_t>(bytes);
      uint64_t nextCount = count + 1 == kSamples ? kFrozen : count + 1;
      next = nextCount << 32 | total;
    } while (!state.compare_exchange_weak(current, next, std::memory_order_relaxed));
    if (next >> 32 == kFrozen)
      estimate.store(static_cast<uint32_t>(next) / kSamples, std::memory_order_relaxed);
  }
};

std::atomic<int> urlLimitBytes{300};
std::atomic<int> sqlLimitBytes{5000};
SizeEstimate urlEstimate(100);
SizeEstimate sqlEstimate(1000);

int atLeastOne(int limit) {
  return limit < 1 ? 1 : limit;
}

}  // namespace

void initTextLimits() {
  urlLimitBytes.store(300, std::memory_order_relaxed);
  sqlLimitBytes.store(5000, std::memory_order_relaxed);
  urlEstimate.reset(100);
  sqlEstimate.reset(1000);
}

void setTextLimits(const TextLimitSettings& settings) {
  urlLimitBytes.store(settings.urlLimit, std::memory_order_relaxed);
  sqlLimitBytes.store(settings.sqlLimit, std::memory_order_relaxed);
}

int urlLimit() {
  return urlLimitBytes.load(std::memory_order_relaxed);
}
int sqlLimit() {
  return sqlLimitBytes.load(std::memory_order_relaxed);
}
uint32_t urlSizeEstimate() {
  return urlEstimate.estimate.load(std::memory_order_relaxed);
}
uint32_t sqlSizeEstimate() {
  return sqlEstimate.estimate.load(std::memory_order_relaxed);
}
int urlSampleCount() {
  return urlEstimate.samples();
}
int sqlSampleCount() {
  return sqlEstimate.samples();
}

size_t keptBytes(size_t length, int limit) {
  size_t cap = static_cast<size_t>(atLeastOne(limit));
  return length + 1 < cap ? length + 1 : cap;
}

void sampleUrlSize(size_t bytes) {
  urlEstimate.sample(bytes);
}
void sampleSqlSize(size_t bytes) {
  sqlEstimate.sample(bytes);
}
