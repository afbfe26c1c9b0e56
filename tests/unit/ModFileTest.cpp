#include "config/ModFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "base/Log.h"
#include "config/ProbeState.h"
#include "config/PropertyMgr.h"
#include "support/TestSupport.h"

namespace {

// The MOD file step over a fresh home with a catalogue and a log.
class ModFile : public testing::Test {
 protected:
  void SetUp() override {
    resetLog();
    resetProbeState();
    home.makeDir("etc");
    home.makeDir("logs");
    home.write("etc/LogMessages", "PROBE_INFO=%s\n");
    identity.set(home.path(), "n", "s");
    CapturedOutput quiet;
    openLog(home.path().c_str(), "n", "s", "", getpid());
  }
  void TearDown() override {
    PropertyMgr::destroyInstance();
    resetProbeState();
    resetLog();
  }
  void run() {
    CapturedOutput captured;
    runModFileStep();
    out = captured.out();
    log = readFile(logFileName());
  }

  IdentityScope identity;
  TempDir home;
  std::string out, log;
};

}  // namespace

TEST_F(ModFile, MissingFileIsCreatedHoldingTwo) {
  run();
  std::string path = home.path() + "/etc/n.s.hm.mod";
  EXPECT_EQ(readFile(path), "2");
  EXPECT_EQ(modLevel.load(), 2);
  EXPECT_NE(out.find("\tINFO:[DataCollector] using modfile: '" + path + "'\n"), std::string::npos);
  EXPECT_TRUE(inOrder(log, {"INFO:[DataCollector] using modfile: '" + path + "'\n",
                            "INFO: Using probe level 2\n"}));
}

TEST_F(ModFile, ProfileNameIsPartOfThePath) {
  identity.set(home.path(), "n", "s", "p");
  run();
  EXPECT_EQ(readFile(home.path() + "/etc/n.s(p).hm.mod"), "2");
}

TEST_F(ModFile, ExistingLevelIsApplied) {
  home.write("etc/n.s.hm.mod", "3\n");
  run();
  EXPECT_EQ(modLevel.load(), 3);
  EXPECT_EQ(reportedModLevel.load(), 3);
  EXPECT_NE(log.find("Native MOD level changed from (2) to (3)"), std::string::npos);
  EXPECT_NE(log.find("INFO: Using probe level 3\n"), std::string::npos);
  EXPECT_EQ(readFile(home.path() + "/etc/n.s.hm.mod"), "3\n");  // left as it was
}

TEST_F(ModFile, OutOfRangeLevelEndsAtTwo) {
  home.write("etc/n.s.hm.mod", "7");
  run();
  EXPECT_EQ(modLevel.load(), 2);
  EXPECT_NE(log.find("##ERROR: Incorrect MOD level given (7) rejecting, current MOD level 2"),
            std::string::npos);
  EXPECT_NE(log.find("INFO: Using probe level 2\n"), std::string::npos);
  EXPECT_EQ(readFile(home.path() + "/etc/n.s.hm.mod"), "7");
}

TEST_F(ModFile, UnreadableContentMeansTwo) {
  home.write("etc/n.s.hm.mod", "high");
  modLevel.store(1);
  run();
  EXPECT_EQ(modLevel.load(), 2);
}

TEST_F(ModFile, ThousandFormIsAccepted) {
  home.write("etc/n.s.hm.mod", "1001");
  run();
  EXPECT_EQ(modLevel.load(), 1);
}

TEST_F(ModFile, UnwritableFileStillGivesLevelTwo) {
  identity.set(home.path() + "/missing", "n", "s");
  modLevel.store(3);
  run();
  EXPECT_NE(out.find("[HM]: INFO:[DataCollector] Failed to write modfile.\n"), std::string::npos);
  EXPECT_EQ(modLevel.load(), 2);
}
