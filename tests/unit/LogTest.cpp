#include "base/Log.h"
#include "base/LogTestAccess.h"

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
  void open(const std::string& catalogue) {
    home.makeDir("etc");
    home.makeDir("logs");
    home.write("etc/LogMessages", catalogue);
    CapturedOutput quiet;
    openLog(home.path().c_str(), "n", "s", "", getpid());
    ASSERT_NE(logFileName(), nullptr);
  }
  std::string contents() { return readFile(logFileName()); }

  TempDir home;
};

class LogConcurrency : public LogFile {};

}  // namespace

// Each level has its line format after the asctime stamp; the threshold
// (INFO at first) hides the levels above it, and 3 is never written.
TEST_F(Log, LineFormatsAndThreshold) {
  {
    CapturedOutput captured;
    logMessage(LOG_INFO, "hello");
    logMessage(LOG_DEBUG, "hidden-debug");
    logMessage(3, "never");
    std::regex line(
        R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] \d\d:\d\d:\d\d \d{4}  INFO: hello \n)");
    EXPECT_TRUE(std::regex_match(captured.out(), line)) << captured.out();
  }
  setLogLevel(LOG_ERROR);
  {
    CapturedOutput captured;
    logMessage(LOG_WARNING, "hidden-warning");
    logMessage(LOG_ERROR, "shown-error");
    EXPECT_EQ(captured.out().find("hidden"), std::string::npos);
    EXPECT_CONTAINS(captured.out(), "##ERROR: shown-error");
  }
  setLogLevel(LOG_TRACE);
  CapturedOutput levels;
  logMessage(3, "never");
  const std::pair<int, const char*> cases[] = {
      {LOG_ERROR, " ##ERROR: e \n"}, {LOG_WARNING, " WARNING: e \n"}, {LOG_INFO, " INFO: e \n"},
      {LOG_DEBUG, " DEBUG: e \n"},   {LOG_TRACE, " TRACE: e \n"},     {-5, " UNKNOW: e \n"}};
  for (auto [level, text] : cases) logMessage(level, "e");
  logMessage(LOG_INFO, nullptr);
  for (auto [level, text] : cases) EXPECT_EQ(countOf(levels.out(), text), 1) << text;
  EXPECT_CONTAINS(levels.out(), " INFO:  \n");
  EXPECT_EQ(levels.out().find("never"), std::string::npos);
}

TEST_F(Log, SetLogLevelRejectsLevelsOutsideTheRange) {
  for (int level : {3, -3}) {
    CapturedOutput captured;
    setLogLevel(level);
    EXPECT_CONTAINS(captured.out(), "##ERROR: Incorrect log level given: " + std::to_string(level) +
                                        " using the existing loglevel: 0  \n");
    EXPECT_EQ(logLevel.load(), LOG_INFO);
  }
  setLogLevel(-2);
  EXPECT_EQ(logLevel.load(), LOG_ERROR);
}

TEST_F(Log, OpenLogAnnouncesTheFileAndNeedsTheCatalogue) {
  TempDir home;
  home.makeDir("logs");
  CapturedOutput captured;
  openLog(home.path().c_str(), "n", "s", "", 42);
  logMessage(LOG_INFO, "still on stdout");
  const std::string& err = captured.err();
  EXPECT_CONTAINS(err, "[HM]: Using log file: " + home.path() + "/logs/n.s.");
  EXPECT_CONTAINS(err, "Error: Fail to open LogMessages\n");
  EXPECT_EQ(logFileName(), nullptr);
  EXPECT_CONTAINS(captured.out(), "INFO: still on stdout");
}

TEST_F(Log, UncreatableLogFileLeavesTheCatalogueUnloaded) {
  TempDir home;
  home.makeDir("etc");
  home.write("etc/LogMessages", "K=catalogued\n");
  CapturedOutput captured;
  openLog(home.path().c_str(), "n", "s", "", 42);  // no logs folder
  logCatalog(LOG_INFO, "K");
  EXPECT_CONTAINS(captured.err(), "Could not create " + home.path() + "/logs/n.s.");
  EXPECT_EQ(logFileName(), nullptr);
  EXPECT_EQ(captured.out().find("catalogued"), std::string::npos);
}

// The catalogue keeps each format's line end, stops at its first "#" line,
// keeps the first of two equal keys and writes nothing for keys without a
// format or unknown (keys are case-sensitive).
TEST_F(LogFile, CatalogueLookups) {
  open("G=hello %s\nK=one\nK=two\nNOFORMAT\n#C=third\nD=fourth\n");
  logCatalogArgs(LOG_INFO, "G", "world");
  logCatalogArgs(LOG_INFO, "K");
  for (const char* key : {"NOFORMAT", "NOFORMAT\n", "k", "missing", "#C", "D"})
    logCatalogArgs(LOG_INFO, key);
  logCatalog(LOG_INFO, nullptr);
  std::string log = contents();
  EXPECT_TRUE(inOrder(log, {" INFO: hello world\n \n", " INFO: one\n \n"})) << log;
  EXPECT_EQ(countOf(log, "INFO"), 2) << log;
  logCatalogArgs(LOG_DEBUG, "G", "hidden");  // above the threshold
  EXPECT_EQ(contents(), log);
}

TEST_F(LogFile, FormatAskingForMoreArgumentsIsNotFormatted) {
  open("TWO=%s and %s\nNUM=%d\nCOUNT=%n\nSTAR=%*d\nLONG=%ld %lu %hhx\n");
  logCatalogArgs(LOG_INFO, "TWO", "only one");
  logCatalogArgs(LOG_INFO, "NUM", "a string for %d");
  logCatalogArgs(LOG_INFO, "COUNT", 1);
  logCatalogArgs(LOG_INFO, "STAR", 1, 2);
  logCatalogArgs(LOG_INFO, "LONG", -1, 7u, 255);
  std::string log = contents();
  for (const char* key : {"TWO", "NUM", "COUNT", "STAR"})
    EXPECT_CONTAINS(
        log, "##ERROR: catalogue format of " + std::string(key) + " does not fit its arguments")
        << key;
  EXPECT_EQ(log.find("only one"), std::string::npos);
  // Length modifiers are harmless: each argument is formatted at its own size.
  EXPECT_CONTAINS(log, "INFO: -1 7 ff");
}

TEST_F(LogFile, CatalogueMessagesAreCutToTheirBufferAndHugeWidthsAreNotPadded) {
  open("BIG=%s|\nWIDE=[%999999999d]\nPREC=[%.99999999999s]\nZERO=%05d|%-4s|%x\n");
  std::string big(5000, 'x');
  char out[2000];
  const LogArg arg(big.c_str());
  ASSERT_EQ(formatCatalog("BIG", &arg, 1, out, sizeof out), CatalogResult::Formatted);
  EXPECT_EQ(std::string(out), std::string(1999, 'x'));
  logCatalogArgs(LOG_INFO, "BIG", big.c_str());
  EXPECT_CONTAINS(contents(), " INFO: " + std::string(1999, 'x') + " \n");
  const LogArg one(1);
  ASSERT_EQ(formatCatalog("WIDE", &one, 1, out, 64), CatalogResult::Formatted);
  EXPECT_EQ(std::string(out), "[" + std::string(62, ' '));
  const LogArg text("abc");
  ASSERT_EQ(formatCatalog("PREC", &text, 1, out, 64), CatalogResult::Formatted);
  EXPECT_EQ(std::string(out), "[abc]\n");
  const LogArg three[] = {LogArg(42), LogArg("ab"), LogArg(255u)};
  ASSERT_EQ(formatCatalog("ZERO", three, 3, out, 64), CatalogResult::Formatted);
  EXPECT_EQ(std::string(out), "00042|ab  |ff\n");
}

TEST_F(LogFile, CloseLogReturnsToStandardOutputForGood) {
  open("K=catalogued\n");
  std::string name = logFileName();
  {
    CapturedOutput captured;
    logMessage(LOG_INFO, "into the file");
    EXPECT_EQ(captured.out(), "");
  }
  EXPECT_CONTAINS(contents(), " INFO: into the file \n");
  closeLog();
  EXPECT_EQ(logFileName(), nullptr);
  CapturedOutput captured;
  logMessage(LOG_INFO, "after close");
  logCatalogArgs(LOG_INFO, "K");
  openLog(home.path().c_str(), "n", "s", "", 7);
  EXPECT_EQ(logFileName(), nullptr);  // the catalogue is not loaded again
  EXPECT_CONTAINS(captured.out(), "INFO: after close");
  EXPECT_EQ(captured.out().find("catalogued"), std::string::npos);
  EXPECT_EQ(readFile(name).find("after close"), std::string::npos);
}

// Loggers on other threads keep writing while the log is closed and opened
// again: none may write to a closed stream or read a freed catalogue (the
// sanitizers catch either), and a close never waits for good.
TEST_F(LogConcurrency, CloseAndReopenWhileOtherThreadsLog) {
  open("K=key %s\n");
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
