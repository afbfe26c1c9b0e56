#include "threads/TextLimits.h"

#include <atomic>

#include "config/PropertyMgr.h"

namespace {

constexpr int kSamples = 254;
constexpr int kFrozen = 65535;

// One measured average: a 16-bit sample counter, a 32-bit total and the
// estimate, shared without a lock. Each sample claims its number with a
// compare-and-swap, and the claim of the 254th moves the counter straight to
// its frozen mark: no thread can write a smaller count back afterwards, so
// the estimate is set once and then stays. A sample counted just before the
// freeze may add its bytes to the total only after it, which shifts the
// estimate a little at most.
struct SizeEstimate {
  std::atomic<uint32_t> estimate;
  std::atomic<int> samples{0};
  std::atomic<uint32_t> total{0};

  explicit SizeEstimate(uint32_t initial) : estimate(initial) {}

  void reset(uint32_t initial) {
    estimate.store(initial, std::memory_order_relaxed);
    samples.store(0, std::memory_order_relaxed);
    total.store(0, std::memory_order_relaxed);
  }

  void sample(size_t bytes) {
    int count = samples.load(std::memory_order_relaxed);
    int next;
    do {
      if (count >= kFrozen) return;
      next = count + 1 == kSamples ? kFrozen : count + 1;
    } while (!samples.compare_exchange_weak(count, next, std::memory_order_relaxed));
    uint32_t sum = total.fetch_add(static_cast<uint32_t>(bytes), std::memory_order_relaxed) +
                   static_cast<uint32_t>(bytes);
    if (next == kFrozen) estimate.store(sum / kSamples, std::memory_order_relaxed);
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

void readTextLimits() {
  urlLimitBytes.store(atLeastOne(getIntProperty("internal.url.limit", 1000)),
                      std::memory_order_relaxed);
  sqlLimitBytes.store(atLeastOne(getIntProperty("internal.sql.limit", 5000)),
                      std::memory_order_relaxed);
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
  return urlEstimate.samples.load(std::memory_order_relaxed);
}
int sqlSampleCount() {
  return sqlEstimate.samples.load(std::memory_order_relaxed);
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
