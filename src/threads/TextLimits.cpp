#include "threads/TextLimits.h"

#include <atomic>

#include "config/PropertyMgr.h"

namespace {

constexpr int kSamples = 254;
constexpr int kFrozen = 65535;

// One measured average: a 16-bit sample counter, a 32-bit total and the
// estimate. Plain relaxed loads and stores, as the values are shared without
// a lock and only approximate.
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
    if (count >= kFrozen) return;
    count++;
    uint32_t sum = total.load(std::memory_order_relaxed) + static_cast<uint32_t>(bytes);
    total.store(sum, std::memory_order_relaxed);
    if (count == kSamples) {
      estimate.store(sum / kSamples, std::memory_order_relaxed);
      count = kFrozen;
    }
    samples.store(count, std::memory_order_relaxed);
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
