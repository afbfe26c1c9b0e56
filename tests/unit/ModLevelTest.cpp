#include <gtest/gtest.h>
#include <jni.h>

#include <string>

#include "base/Log.h"
#include "base/LogTestAccess.h"
#include "config/ProbeState.h"
#include "config/ProbeStateTestAccess.h"
#include "config/PropertyMgr.h"
#include "support/TestSupport.h"

extern "C" {
jint JNICALL Java_com_halden_probe_ProbeController_getMonitoringLevel(JNIEnv*, jclass);
jboolean JNICALL Java_com_halden_probe_ProbeController_isNativeProbeEnabled(JNIEnv*, jclass);
}

namespace {
class ModLevel : public testing::Test {
 protected:
  void SetUp() override {
    resetLog();
    resetProbeState();
  }
  void TearDown() override {
    PropertyMgr::destroyInstance();  // the L3 switch reads a property
    resetProbeState();
    resetLog();
  }
  // Changes the level; returns the result and keeps the output in `out`.
  bool change(int level) {
    CapturedOutput captured;
    bool changed = changeModLevel(level);
    out = captured.out();
    return changed;
  }
  std::string out;
};
}  // namespace

// 1000 plus a level asks for that level; leaving level 3 runs the L3 switch.
TEST_F(ModLevel, ThousandPlusLevelChangesTheLevelAndLeavingThreeRunsTheL3Switch) {
  EXPECT_TRUE(change(1003));
  EXPECT_EQ(modLevel.load(), 3);
  EXPECT_EQ(reportedModLevel.load(), 3);
  EXPECT_TRUE(inOrder(out, {"INFO: L3 is handled in Java now ...",
                            "INFO: Native MOD level changed from (2) to (3) \n"}));
  EXPECT_EQ(Java_com_halden_probe_ProbeController_getMonitoringLevel(nullptr, nullptr), 1003);
  EXPECT_TRUE(change(1));
  EXPECT_TRUE(
      inOrder(out, {"L3 is handled in Java now", "Native MOD level changed from (3) to (1)"}));
  EXPECT_TRUE(change(2));
  EXPECT_EQ(out.find("L3"), std::string::npos);  // 1 to 2 does not touch L3
  EXPECT_EQ(reportedModLevel.load(), 2);
}

TEST_F(ModLevel, TheSameLevelAndLevelsOutsideOneToThreeAreRejected) {
  ASSERT_TRUE(change(3));
  EXPECT_FALSE(change(1003));
  EXPECT_CONTAINS(out, "INFO: Current Native MOD level is same as new level \n");
  const std::pair<int, int> cases[] = {{0, 0}, {4, 4}, {1000, 1000}, {-1, -1}, {1004, 4}};
  for (auto [requested, reported] : cases) {
    EXPECT_FALSE(change(requested));
    EXPECT_CONTAINS(out, "##ERROR: Incorrect MOD level given (" + std::to_string(reported) +
                             ") rejecting, current MOD level 3 \n");
    EXPECT_EQ(modLevel.load(), 3);
    EXPECT_EQ(reportedModLevel.load(), 3);
  }
}

TEST(ProbeState, ProbeIsEnabledWhenBothAgentsReportRunning) {
  resetProbeState();
  EXPECT_FALSE(Java_com_halden_probe_ProbeController_isNativeProbeEnabled(nullptr, nullptr));
  reportEventAgentRunning(true);
  EXPECT_TRUE(probeDisabled.load());
  reportEventAgentRunning(false);
  reportNetworkAgentRunning(true);
  EXPECT_TRUE(probeDisabled.load());  // the event agent no longer runs
  reportEventAgentRunning(true);
  EXPECT_FALSE(probeDisabled.load());
  EXPECT_TRUE(Java_com_halden_probe_ProbeController_isNativeProbeEnabled(nullptr, nullptr));
  // A report of false does not disable the probe again; a repeated report
  // changes nothing, a change to true enables again.
  reportNetworkAgentRunning(false);
  EXPECT_FALSE(probeDisabled.load());
  reportNetworkAgentRunning(true);
  probeDisabled.store(true);  // as the stop order does
  reportNetworkAgentRunning(true);
  EXPECT_TRUE(probeDisabled.load());
  reportNetworkAgentRunning(false);
  reportNetworkAgentRunning(true);  // a change to true re-enables
  EXPECT_FALSE(probeDisabled.load());
  resetProbeState();
}
