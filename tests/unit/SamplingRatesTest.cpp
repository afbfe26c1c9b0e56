#include "requests/SamplingRates.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/Log.h"
#include "config/ProbeState.h"

namespace {
class SamplingRates : public testing::Test {
 protected:
  void SetUp() override {
    resetLog();
    resetProbeState();
    reportEventAgentRunning(true);
    reportNetworkAgentRunning(true);
  }
  void TearDown() override {
    resetProbeState();
    resetLog();
  }
  static std::vector<int> rates() {
    std::vector<int> out;
    for (auto& r : samplingRates) out.push_back(r.load());
    return out;
  }
};
}  // namespace

// Up to four rates are taken from the array, the rest keep their values.
TEST_F(SamplingRates, ArrayGivesUpToFourRates) {
  const jint shorter[] = {5, 6};
  setSamplingRates(nullptr, shorter, 2, 1);
  EXPECT_EQ(rates(), (std::vector<int>{5, 6, 2, 2}));
  setSamplingRates(nullptr, nullptr, 0, 3);
  EXPECT_EQ(rates(), (std::vector<int>{5, 6, 2, 2}));
  EXPECT_EQ(samplingExtra.load(), 3);
  const jint longer[] = {10, 20, 30, 40, 50, 60};
  setSamplingRates(nullptr, longer, 6, 7);
  EXPECT_EQ(rates(), (std::vector<int>{10, 20, 30, 40}));
  EXPECT_EQ(samplingExtra.load(), 7);
}
