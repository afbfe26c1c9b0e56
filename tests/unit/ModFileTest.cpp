#include "config/ModFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "base/Log.h"
#include "base/LogTestAccess.h"
#include "config/ProbeState.h"
#include "config/ProbeStateTestAccess.h"
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
  // Runs the step; `log` gets only the lines it wrote.
  void run() {
    size_t before = readFile(logFileName()).size();
    CapturedOutput captured;
    runModFileStep();
    out = captured.out();
    log = readFile(logFileName()).substr(before);
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
  EXPECT_EQ(modLevel.load(), 2);             // its log lines are checked in the JVM tests
  identity.set(home.path(), "n", "s", "p");  // the profile name is part of the path
  run();
  EXPECT_EQ(readFile(home.path() + "/etc/n.s(p).hm.mod"), "2");
}

// An existing file sets the level it names; what it cannot supply leaves 2.
// The file is never rewritten.
TEST_F(ModFile, ExistingContentGivesTheLevel) {
  const std::pair<const char*, int> cases[] = {
      {"1", 1}, {"3\n", 3}, {" 1\n", 1}, {"1001", 1}, {"1003", 3},
      {"0", 2}, {"-3", 2},  {"", 2},     {"high", 2}, {"7", 2},
  };
  for (auto [content, level] : cases) {
    home.write("etc/n.s.hm.mod", content);
    modLevel.store(content[0] == 'h' ? 1 : 2);
    reportedModLevel.store(2);
    run();
    EXPECT_EQ(modLevel.load(), level) << content;
    EXPECT_EQ(reportedModLevel.load(), level) << content;
    EXPECT_CONTAINS(log, "INFO: Using probe level " + std::to_string(level) + "\n") << content;
    bool changed =
        log.find("changed from (2) to (" + std::to_string(level) + ")") != std::string::npos;
    EXPECT_EQ(changed, level != 2) << content;
    EXPECT_EQ(readFile(home.path() + "/etc/n.s.hm.mod"), content);
  }
  EXPECT_CONTAINS(log, "##ERROR: Incorrect MOD level given (7) rejecting, current MOD level 2");

  // A file that cannot be written still gives level 2.
  identity.set(home.path() + "/missing", "n", "s");
  modLevel.store(3);
  run();
  EXPECT_CONTAINS(out, "[HM]: INFO:[DataCollector] Failed to write modfile.\n");
  EXPECT_EQ(modLevel.load(), 2);
}
