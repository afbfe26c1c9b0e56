// The correlation-token counter and its file; the serialiser's saving into
// the file of a real home is checked in the JVM test.
#include "requests/GpsCounter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/FakeJvmpi.h"
#include "support/TestSupport.h"

namespace {

class GpsCounterTest : public ::testing::Test {
 protected:
  void SetUp() override { fake.install(); }
  void TearDown() override { fake.uninstall(); }

  std::string file() const { return home.at("n.s.haldenGpsCounter.txt"); }
  std::string content() const { return readFile(file()); }

  // A counter set up with mask "1010" over a file holding `held`.
  void setUpOver(GpsCounter& counter, const char* held, int cushion = 200) {
    home.write("n.s.haldenGpsCounter.txt", held);
    counter.setup("1010", cushion, file());
  }

  FakeJvmpi fake;
  TempDir home;
};

}  // namespace

TEST_F(GpsCounterTest, PassingTheSavedMarkReservesCushionsAndARestartContinuesAboveIt) {
  GpsCounter first;
  setUpOver(first, "5");
  // The file is replaced whole: a reader of the old one still sees its
  // number (a crash mid-write leaves it, never an empty file).
#ifndef _WIN32
  std::ifstream old(file());
  first.save(0xA0000006);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "5");
#else
  first.save(0xA0000006);
#endif
  EXPECT_EQ(content(), "205");
  EXPECT_EQ(first.savedToken(), 0xA00000CDu);
  // Below the mark: the file is left alone.
  home.write("n.s.haldenGpsCounter.txt", "untouched");
  first.save(0xA00000CC);
  EXPECT_EQ(content(), "untouched");
  // A token on the mark may have been issued: the mark moves past it.
  first.save(0xA00000CD);
  EXPECT_EQ(content(), "405");
  // Tokens whose records never reached the serialiser leave a gap of many
  // cushions; the mark still passes the token handed in.
  first.save(0xA0000400);
  EXPECT_EQ(content(), "1205");
  EXPECT_EQ(first.savedToken(), 0xA00004B5u);

  GpsCounter restarted;
  restarted.setup("1010", 200, file());
  EXPECT_EQ(restarted.next(), 0xA00004B5u);
}

TEST_F(GpsCounterTest, CounterFilesWithoutAUsableNumber) {
  struct Case {
    const char* held;
    uint32_t firstToken;
  };
  const std::vector<Case> cases = {
      {"garbage", 0xA0000000},      // no number: from 0
      {"-5", 0xA0000000},           // a sign is no counter: from 0
      {"99999999999", 0xA0000000},  // more than 32 bits: from 0
      {"", 0xA0000000},             // empty: from 0
      {"268435461", 0xA0000005},    // 0x10000005, above the mask: its counter bits
      {" \n42 trailing", 0xA000002A}};
  for (const Case& c : cases) {
    GpsCounter counter;
    CapturedOutput output;
    setUpOver(counter, c.held);
    output.finish();
    EXPECT_EQ(counter.next(), c.firstToken) << "file holding \"" << c.held << "\"";
  }
}

TEST_F(GpsCounterTest, AnUnwritableFileKeepsTheStateAndIsReported) {
  GpsCounter counter;
  setUpOver(counter, "5");
  const std::string nowhere = home.at("no/such/dir/counter.txt");
  CapturedOutput output;
  counter.initCounter(nowhere);
  output.finish();
  EXPECT_CONTAINS(output.out(), "GPSTokenUtils In initGpsCounter(), counterFp = NULL for writing");
  EXPECT_EQ(counter.next(), 0xA0000005u);
  // The saver still writes to the file set up before.
  counter.save(0xA0000006);
  EXPECT_EQ(content(), "205");
}
