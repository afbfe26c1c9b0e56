#include "base/Log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace {

// Every test leaves logging as a fresh process has it.
class Log : public testing::Test {
 protected:
  void SetUp() override { resetLog(); }
  void TearDown() override { resetLog(); }
};

// A home directory with etc/LogMessages and logs/, and the log opened on it.
class LogFile : public Log {
 protected:
  void open(const std::string& catalogue, const char* profile = "") {
    home.makeDir("etc");
    home.makeDir("logs");
    home.write("etc/LogMessages", catalogue);
    CapturedOutput quiet;
    openLog(home.path().c_str(), "n", "s", profile, getpid());
    ASSERT_NE(logFileName(), nullptr);
  }
  std::string contents() { return readFile(logFileName()); }

  TempDir home;
};

}  // namespace

TEST_F(Log, EachLevelHasItsLineFormat) {
  setLogLevel(LOG_TRACE);
  CapturedOutput captured;
  logMessage(LOG_ERROR, "e");
  logMessage(LOG_WARNING, "w");
  logMessage(LOG_INFO, "i");
  logMessage(LOG_DEBUG, "d");
  logMessage(LOG_TRACE, "t");
  logMessage(-5, "u");
  const std::string& out = captured.out();
  EXPECT_EQ(countOf(out, " ##ERROR: e \n"), 1);
  EXPECT_EQ(countOf(out, " WARNING: w \n"), 1);
  EXPECT_EQ(countOf(out, " INFO: i \n"), 1);
  EXPECT_EQ(countOf(out, " DEBUG: d \n"), 1);
  EXPECT_EQ(countOf(out, " TRACE: t \n"), 1);
  EXPECT_EQ(countOf(out, " UNKNOW: u \n"), 1);
}

TEST_F(Log, LineStartsWithTheAsctimeStampWithoutItsLineEnd) {
  CapturedOutput captured;
  logMessage(LOG_INFO, "hello");
  std::regex line(
      R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] \d\d:\d\d:\d\d \d{4}  INFO: hello \n)");
  EXPECT_TRUE(std::regex_match(captured.out(), line)) << captured.out();
}

TEST_F(Log, ThresholdFiltersLevelsAboveIt) {
  CapturedOutput captured;
  logMessage(LOG_DEBUG, "hidden-debug");
  logMessage(LOG_TRACE, "hidden-trace");
  logMessage(3, "never");
  setLogLevel(LOG_ERROR);
  logMessage(LOG_WARNING, "hidden-warning");
  logMessage(LOG_ERROR, "shown-error");
  logMessage(-5, "shown-unknown");
  setLogLevel(LOG_TRACE);
  logMessage(LOG_TRACE, "shown-trace");
  logMessage(3, "never");
  const std::string& out = captured.out();
  EXPECT_EQ(out.find("hidden"), std::string::npos);
  EXPECT_EQ(out.find("never"), std::string::npos);
  EXPECT_NE(out.find("##ERROR: shown-error"), std::string::npos);
  EXPECT_NE(out.find("UNKNOW: shown-unknown"), std::string::npos);
  EXPECT_NE(out.find("TRACE: shown-trace"), std::string::npos);
}

TEST_F(Log, NullTextWritesAnEmptyText) {
  CapturedOutput captured;
  logMessage(LOG_INFO, nullptr);
  EXPECT_NE(captured.out().find(" INFO:  \n"), std::string::npos);
}

TEST_F(Log, SetLogLevelRejectsLevelsOutsideTheRange) {
  for (int level : {3, -3}) {
    CapturedOutput captured;
    setLogLevel(level);
    const std::string& out = captured.out();
    EXPECT_NE(out.find("Setting Log Level: " + std::to_string(level) + " \n"), std::string::npos);
    EXPECT_NE(out.find("##ERROR: Incorrect log level given: " + std::to_string(level) +
                       " using the existing loglevel: 0  \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(logLevel.load(), LOG_INFO);
  }
  CapturedOutput captured;
  setLogLevel(-2);
  EXPECT_NE(captured.out().find("Setting Log Level: -2 \n"), std::string::npos);
  EXPECT_EQ(logLevel.load(), LOG_ERROR);
}

TEST_F(LogFile, FileNameWithoutProfile) {
  open("K=v\n");
  std::string name = logFileName();
  std::regex pattern(home.path() + R"(/logs/n\.s\.\d{14}\.)" + std::to_string(getpid()) +
                     R"(\.datacollector\.log)");
  EXPECT_TRUE(std::regex_match(name, pattern)) << name;
  EXPECT_TRUE(fileExists(name));
}

TEST_F(LogFile, FileNameWithProfileInParentheses) {
  open("K=v\n", "prof");
  std::string name = logFileName();
  std::regex pattern(home.path() + R"(/logs/n\.s\(prof\)\.\d{14}\.)" + std::to_string(getpid()) +
                     R"(\.datacollector\.log)");
  EXPECT_TRUE(std::regex_match(name, pattern)) << name;
}

TEST_F(LogFile, LinesGoToTheFileAndNotToStandardOutput) {
  open("K=v\n");
  CapturedOutput captured;
  logMessage(LOG_INFO, "into the file");
  EXPECT_EQ(captured.out(), "");
  EXPECT_NE(contents().find(" INFO: into the file \n"), std::string::npos);
}

TEST_F(Log, OpenLogAnnouncesTheFileAndNeedsTheCatalogue) {
  TempDir home;
  home.makeDir("logs");
  CapturedOutput captured;
  openLog(home.path().c_str(), "n", "s", "", 42);
  logMessage(LOG_INFO, "still on stdout");
  const std::string& err = captured.err();
  EXPECT_NE(err.find("[HM]: Using log file: " + home.path() + "/logs/n.s."), std::string::npos);
  EXPECT_NE(err.find("Error: Fail to open LogMessages\n"), std::string::npos);
  EXPECT_EQ(logFileName(), nullptr);
  EXPECT_NE(captured.out().find("INFO: still on stdout"), std::string::npos);
}

TEST_F(Log, UncreatableLogFileLeavesTheCatalogueUnloaded) {
  TempDir home;
  home.makeDir("etc");
  home.write("etc/LogMessages", "K=catalogued\n");
  CapturedOutput captured;
  openLog(home.path().c_str(), "n", "s", "", 42);  // no logs folder
  logCatalog(LOG_INFO, "K");
  EXPECT_NE(captured.err().find("Could not create " + home.path() + "/logs/n.s."),
            std::string::npos);
  EXPECT_EQ(logFileName(), nullptr);
  EXPECT_EQ(captured.out().find("catalogued"), std::string::npos);
}

TEST_F(LogFile, SecondOpenDoesNothing) {
  open("K=v\n");
  std::string first = logFileName();
  CapturedOutput quiet;
  openLog(home.path().c_str(), "other", "s", "", 1);
  EXPECT_EQ(first, logFileName());
}

TEST_F(LogFile, CatalogueFormatKeepsTheLineEndReadFromTheFile) {
  open("GREETING=hello %s\n");
  logCatalogArgs(LOG_INFO, "GREETING", "world");
  EXPECT_NE(contents().find(" INFO: hello world\n \n"), std::string::npos) << contents();
}

TEST_F(LogFile, CatalogueStopsAtItsFirstHashLine) {
  open("A=first\nB=second\n#C=third\nD=fourth\n");
  logCatalogArgs(LOG_INFO, "A");
  logCatalogArgs(LOG_INFO, "B");
  logCatalogArgs(LOG_INFO, "#C");
  logCatalogArgs(LOG_INFO, "D");
  std::string log = contents();
  EXPECT_NE(log.find("INFO: first"), std::string::npos);
  EXPECT_NE(log.find("INFO: second"), std::string::npos);
  EXPECT_EQ(log.find("third"), std::string::npos);
  EXPECT_EQ(log.find("fourth"), std::string::npos);
}

TEST_F(LogFile, UnknownKeysAndKeysWithoutFormatWriteNothing) {
  open("NOFORMAT\nK=known\n");
  logCatalogArgs(LOG_INFO, "NOFORMAT");
  logCatalogArgs(LOG_INFO, "NOFORMAT\n");
  logCatalogArgs(LOG_INFO, "k");  // keys are case-sensitive
  logCatalogArgs(LOG_INFO, "missing");
  logCatalog(LOG_INFO, nullptr);
  EXPECT_EQ(contents(), "");
}

TEST_F(LogFile, FirstOfTwoEqualKeysWins) {
  open("K=one\nK=two\n");
  logCatalogArgs(LOG_INFO, "K");
  EXPECT_NE(contents().find("INFO: one"), std::string::npos);
  EXPECT_EQ(contents().find("two"), std::string::npos);
}

TEST_F(LogFile, CatalogueHonoursTheThreshold) {
  open("K=shown %d\n");
  logCatalogArgs(LOG_DEBUG, "K", 1);
  EXPECT_EQ(contents(), "");
  setLogLevel(LOG_DEBUG);
  logCatalogArgs(LOG_DEBUG, "K", 7);
  EXPECT_NE(contents().find("DEBUG: shown 7"), std::string::npos);
}

TEST_F(LogFile, FormatAskingForMoreArgumentsIsNotFormatted) {
  open("TWO=%s and %s\nNUM=%d\nCOUNT=%n\nSTAR=%*d\nLONG=%ld %lu %hhx\n");
  logCatalogArgs(LOG_INFO, "TWO", "only one");
  logCatalogArgs(LOG_INFO, "NUM", "a string for %d");
  logCatalogArgs(LOG_INFO, "COUNT", 1);
  logCatalogArgs(LOG_INFO, "STAR", 1, 2);
  logCatalogArgs(LOG_INFO, "LONG", -1, 7u, 255);
  std::string log = contents();
  EXPECT_NE(log.find("##ERROR: catalogue format of TWO does not fit its arguments"),
            std::string::npos);
  EXPECT_NE(log.find("##ERROR: catalogue format of NUM does not fit its arguments"),
            std::string::npos);
  EXPECT_NE(log.find("##ERROR: catalogue format of COUNT does not fit its arguments"),
            std::string::npos);
  EXPECT_NE(log.find("##ERROR: catalogue format of STAR does not fit its arguments"),
            std::string::npos);
  EXPECT_EQ(log.find("only one"), std::string::npos);
  // Length modifiers are harmless: each argument is formatted at its own size.
  EXPECT_NE(log.find("INFO: -1 7 ff"), std::string::npos) << log;
}

TEST_F(LogFile, CatalogueMessageIsCutToItsBuffer) {
  open("BIG=%s|\n");
  std::string big(5000, 'x');
  char out[2000];
  const LogArg arg(big.c_str());
  ASSERT_EQ(formatCatalog("BIG", &arg, 1, out, sizeof out), CatalogResult::Formatted);
  EXPECT_EQ(std::string(out), std::string(1999, 'x'));
  logCatalogArgs(LOG_INFO, "BIG", big.c_str());
  EXPECT_NE(contents().find(" INFO: " + std::string(1999, 'x') + " \n"), std::string::npos);
}

TEST_F(LogFile, HugeWidthsAreCutNotPadded) {
  open("WIDE=[%999999999d]\nPREC=[%.99999999999s]\nZERO=%05d|%-4s|%x\n");
  const LogArg one(1);
  char out[64];
  ASSERT_EQ(formatCatalog("WIDE", &one, 1, out, sizeof out), CatalogResult::Formatted);
  EXPECT_EQ(std::string(out), "[" + std::string(62, ' '));
  const LogArg text("abc");
  ASSERT_EQ(formatCatalog("PREC", &text, 1, out, sizeof out), CatalogResult::Formatted);
  EXPECT_EQ(std::string(out), "[abc]\n");
  const LogArg three[] = {LogArg(42), LogArg("ab"), LogArg(255u)};
  ASSERT_EQ(formatCatalog("ZERO", three, 3, out, sizeof out), CatalogResult::Formatted);
  EXPECT_EQ(std::string(out), "00042|ab  |ff\n");
}

TEST_F(Log, LoadCatalogFromAStream) {
  TempDir dir;
  dir.write("catalog", "A=%s-%d\nB\n");
  FILE* in = std::fopen(dir.at("catalog").c_str(), "r");
  ASSERT_NE(in, nullptr);
  loadCatalog(in);
  std::fclose(in);
  const LogArg args[] = {LogArg("x"), LogArg(5)};
  char out[32];
  EXPECT_EQ(formatCatalog("A", args, 2, out, sizeof out), CatalogResult::Formatted);
  EXPECT_STREQ(out, "x-5\n");
  EXPECT_EQ(formatCatalog("A", args, 1, out, sizeof out), CatalogResult::Refused);
  EXPECT_EQ(formatCatalog("B\n", args, 2, out, sizeof out), CatalogResult::NoFormat);
  EXPECT_EQ(formatCatalog("C", args, 2, out, sizeof out), CatalogResult::NoEntry);
}

TEST_F(LogFile, CloseLogReturnsToStandardOutputForGood) {
  open("K=catalogued\n");
  std::string name = logFileName();
  closeLog();
  EXPECT_EQ(logFileName(), nullptr);
  CapturedOutput captured;
  logMessage(LOG_INFO, "after close");
  logCatalogArgs(LOG_INFO, "K");
  openLog(home.path().c_str(), "n", "s", "", 7);
  EXPECT_EQ(logFileName(), nullptr);  // the catalogue is not loaded again
  EXPECT_NE(captured.out().find("INFO: after close"), std::string::npos);
  EXPECT_EQ(captured.out().find("catalogued"), std::string::npos);
  EXPECT_EQ(readFile(name).find("after close"), std::string::npos);
}

// Loggers on other threads keep writing while the log is closed and opened
// again: none may write to a closed stream or read a freed catalogue (the
// sanitizers catch either), and a close never waits for good.
TEST(LogConcurrency, CloseAndReopenWhileOtherThreadsLog) {
  resetLog();
  TempDir home;
  home.makeDir("etc");
  home.makeDir("logs");
  home.write("etc/LogMessages", "K=key %s\n");
  std::atomic<bool> stop{false};
  std::atomic<int> lines{0};
  CapturedOutput quiet;
  std::vector<std::thread> loggers;
  for (int t = 0; t < 4; t++)
    loggers.emplace_back([&] {
      while (!stop.load()) {
        logMessage(LOG_INFO, "line");
        logCatalogArgs(LOG_INFO, "K", "value");
        lines++;
      }
    });
  for (int round = 0; round < 50 || lines.load() < 2000; round++) {
    openLog(home.path().c_str(), "n", "s", "", getpid());
    resetLog();
  }
  stop = true;
  for (std::thread& logger : loggers) logger.join();
}
