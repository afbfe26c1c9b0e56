#include "config/PropertyMgr.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Log.h"
#include "base/LogTestAccess.h"
#include "config/Identity.h"
#include "support/TestSupport.h"

namespace {

class PropertyMgrTest : public testing::Test {
 protected:
  void SetUp() override {
    resetLog();
    home.makeDir("etc");
    identity.set(home.path(), "n", "s");
  }
  void TearDown() override {
    PropertyMgr::destroyInstance();
    resetLog();
  }
  // A manager over the test's home; its load messages are kept in `loadErr`.
  std::unique_ptr<PropertyMgr> make() {
    CapturedOutput captured;
    std::unique_ptr<PropertyMgr> mgr(new PropertyMgr());
    loadErr = captured.err();
    return mgr;
  }
  std::string value(PropertyMgr& mgr, const char* key) {
    const char* v = mgr.getProperty(key);
    return v ? std::string(v) : std::string("<absent>");
  }

  IdentityScope identity;
  TempDir home;
  std::string loadErr;
};

struct LineCase {
  const char* line;
  const char* key;
  const char* value;  // null: nothing may be stored under key
};

}  // namespace

TEST_F(PropertyMgrTest, LineParserTrimsAndSplitsOnTheFirstEquals) {
  const LineCase cases[] = {
      {"key=value", "key", "value"},
      {"  key  =  value  ", "key", "value"},
      {"key=value=more", "key", "value"},
      {"key==value", "key", "value"},  // runs of "=" are one separator
      {"==key=value", "key", "value"},
      {"key= =value", "key", ""},                 // a value of blanks is stored empty
      {"key=\x01value\x7f", "key", "value\x7f"},  // 0x7f is not blank
      {"key=\xc3\xa9t\xc3\xa9", "key", "t"},      // bytes >= 0x80 at the ends count as blanks
      {"key=a\xc3\xa9z", "key", "a\xc3\xa9z"},    // ...but not inside
      {"key=", "key", nullptr},
      {"key = = =", "key", ""},  // the blank run between the first two "="
      {"key", "key", nullptr},
      {"=value", "value", nullptr},
      {"# key=value", "# key", nullptr},
      {"   #key=value", "#key", nullptr},
  };
  for (const LineCase& c : cases) {
    auto mgr = make();
    mgr->parseLine(c.line);
    if (c.value)
      EXPECT_EQ(value(*mgr, c.key), c.value) << "line: " << c.line;
    else
      EXPECT_EQ(mgr->getProperty(c.key), nullptr) << "line: " << c.line;
  }
  make()->parseLine(nullptr);
}

TEST_F(PropertyMgrTest, PutPropertyCopiesAndRejectsNullsAndIntPropertyIsTheLeadingNumber) {
  auto mgr = make();
  EXPECT_FALSE(mgr->putProperty(nullptr, "v"));
  EXPECT_FALSE(mgr->putProperty("k", nullptr));
  std::string k = "key", v = "value";
  EXPECT_TRUE(mgr->putProperty(k.c_str(), v.c_str()));
  k[0] = 'X';
  v[0] = 'X';
  EXPECT_EQ(value(*mgr, "key"), "value");
  EXPECT_EQ(mgr->getProperty(nullptr), nullptr);
  EXPECT_TRUE(mgr->putProperty("key", "replaced"));
  EXPECT_EQ(value(*mgr, "key"), "replaced");
  // An int property is the leading decimal number.
  mgr->parseLine("digits=12abc");
  mgr->parseLine("letters=abc");
  mgr->parseLine("negative= -7 ");
  mgr->parseLine("empty= =");
  EXPECT_EQ(mgr->getIntProperty("digits", 99), 12);
  EXPECT_EQ(mgr->getIntProperty("letters", 99), 0);
  EXPECT_EQ(mgr->getIntProperty("negative", 99), -7);
  EXPECT_EQ(mgr->getIntProperty("empty", 99), 0);
  EXPECT_EQ(mgr->getIntProperty("absent", 99), 99);
  EXPECT_EQ(mgr->getIntProperty(nullptr, 99), 99);
}

// The file with the profile in parentheses is searched first when there is a
// profile, the node and server file otherwise, then the default file.
TEST_F(PropertyMgrTest, FileSearchOrder) {
  home.write("etc/n.s(p).datacollector.properties", "from=profile\n");
  home.write("etc/n.s.datacollector.properties", "from=specific\n");
  home.write("etc/datacollector.properties", "from=default\n");
  identity.set(home.path(), "n", "s", "p");
  std::string profile = home.path() + "/etc/n.s(p).datacollector.properties";
  EXPECT_EQ(value(*make(), "from"), "profile");
  EXPECT_EQ(loadErr, "[HM]: Using property file " + profile + " \n");
  identity.set(home.path(), "n", "s");
  EXPECT_EQ(value(*make(), "from"), "specific");

  identity.set(home.path(), "n", "s", "q");  // no file for this profile
  auto mgr = make();
  EXPECT_EQ(value(*mgr, "from"), "default");  // the node and server file is not searched
  std::string fallback = home.path() + "/etc/datacollector.properties";
  EXPECT_EQ(loadErr, "[HM]: Property file not found " + home.path() +
                         "/etc/n.s(q).datacollector.properties \n" +
                         "[HM]: Using default property file " + fallback + " \n");
  EXPECT_EQ(mgr->fileInUse(), fallback);
}

TEST_F(PropertyMgrTest, NoFileOrNoHomeAnswersEveryLookupAbsent) {
  auto mgr = make();
  std::string fallback = home.path() + "/etc/datacollector.properties";
  EXPECT_CONTAINS(loadErr, "[HM]: Default Property not found " + fallback + "\n");
  EXPECT_EQ(mgr->getProperty("anything"), nullptr);
  EXPECT_EQ(mgr->getIntProperty("anything", 5), 5);
  identity.set("", "n", "s");
  mgr = make();
  EXPECT_EQ(loadErr, "[HM]: hm.home not found, failed to initialize the Property Manager...\n");
  EXPECT_EQ(mgr->getProperty("x"), nullptr);
}

// Lines are parsed one by one, a later key replacing the earlier value;
// long lines are read in pieces of 12999 bytes.
TEST_F(PropertyMgrTest, FileLinesAndLongLines) {
  std::string first = "l=" + std::string(12997, 'v');  // exactly one piece
  home.write("etc/n.s.datacollector.properties",
             "# comment\n\na = 1\r\nb=two words \na=3\n" + first + "m=7\nc=no newline at end");
  auto mgr = make();
  EXPECT_EQ(value(*mgr, "a"), "3");
  EXPECT_EQ(value(*mgr, "b"), "two words");
  EXPECT_EQ(value(*mgr, "l"), std::string(12997, 'v'));
  EXPECT_EQ(value(*mgr, "m"), "7");  // the rest of the long line, as a line
  EXPECT_EQ(value(*mgr, "c"), "no newline at end");
}

// Threads that meet no manager at their first lookup end up with one
// manager between them; one made after a destroy reads the file again.
TEST_F(PropertyMgrTest, ConcurrencyOfTheFirstLookups) {
  home.write("etc/n.s.datacollector.properties", "k=first\n");
  std::vector<PropertyMgr*> seen(4);
  {
    CapturedOutput quiet;
    std::vector<std::thread> threads;
    for (auto& slot : seen)
      threads.emplace_back([&slot] {
        getProperty("k");
        slot = PropertyMgr::existing();
      });
    for (auto& t : threads) t.join();
  }
  for (PropertyMgr* mgr : seen) EXPECT_EQ(mgr, seen[0]);
  EXPECT_STREQ(getProperty("k"), "first");
  PropertyMgr::destroyInstance();
  home.write("etc/n.s.datacollector.properties", "k=second\nflag=yEs\n");
  {
    CapturedOutput quiet;
    EXPECT_STREQ(getProperty("k"), "second");
  }
  EXPECT_TRUE(propertyIsYes("flag"));
  EXPECT_FALSE(propertyIsYes("k"));
}

TEST_F(PropertyMgrTest, LongIdentityPathsAreCutNotOverrun) {
  std::string longNode(255, 'n');
  identity.set(home.path(), longNode, std::string(255, 's'), std::string(255, 'p'));
  auto mgr = make();
  EXPECT_EQ(std::string(mgr->fileInUse()).size(), 255u);
  EXPECT_EQ(mgr->getProperty("x"), nullptr);
}
