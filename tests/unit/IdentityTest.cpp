#include "config/Identity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"
#include "support/TestSupport.h"

namespace {

const char kHomeError[] = "ERROR: hm.home system property undefined, please define it\n";
const char kNodeError[] =
    "ERROR: hm.nodename(for QAS) or weblogic.Domain(for WLS) system property undefined, please "
    "define it\n";
const char kServerError[] =
    "ERROR: hm.appserver (for QAS) or weblogic.Name(for WLS) system property undefined, please "
    "define it\n";

class Identity : public testing::Test {
 protected:
  // Resolves from the given arguments ("NULL" stands for a null pointer);
  // returns what went to standard error.
  std::string resolve(std::vector<std::string> args) {
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a == "NULL" ? nullptr : a.c_str());
    CapturedOutput captured;
    resolveIdentity(static_cast<int>(argv.size()), argv.data());
    return captured.err();
  }
  IdentityScope scope;
};

}  // namespace

// "-Dname=value" and "name=value" are taken alike, the later one winning;
// the command line comes before the environment, which also stands in for
// an empty command-line value.
TEST_F(Identity, CommandLineThenEnvironment) {
  for (std::string form : {"-D", ""}) {
    std::string err =
        resolve({"java", form + "hm.home=/h", form + "hm.nodename=n", form + "hm.appserver=s",
                 form + "hm.profilename=p", form + "hm.ext.dirs=/a:/b", "Main"});
    EXPECT_EQ(std::string(homeDir) + nodeName + serverName + profileName + extDirs, "/hnsp/a:/b");
    EXPECT_EQ(err, "");
  }
  resolve({"NULL", "-Dhm.home=/first", "hm.home=/second", "NULL"});
  EXPECT_STREQ(homeDir, "/second");
  resolve({"hm.home=/second", "-Dhm.home=/third"});
  EXPECT_STREQ(homeDir, "/third");

  ScopedEnv home("hm.home", "/env/home");
  ScopedEnv node("hm.nodename", "envnode");
  ScopedEnv server("hm.appserver", "envserver");
  ScopedEnv profile("hm.profilename", "envprofile");
  std::string err = resolve({"java", "-Dhm.nodename=cmdnode", "-Dhm.home="});
  EXPECT_STREQ(homeDir, "/env/home");
  EXPECT_STREQ(nodeName, "cmdnode");
  EXPECT_STREQ(serverName, "envserver");
  EXPECT_STREQ(profileName, "envprofile");
  EXPECT_EQ(err, "");
}

// A name counts only as "-Dname=value" or "name=value" from the start.
TEST_F(Identity, DefaultsComeWithTheirErrorLines) {
  std::string err =
      resolve({"java", "x-Dhm.home=/no", "-Dhm.homes=/no", "-Dhm.home", "--hm.home=/no"});
  EXPECT_STREQ(homeDir, "/halden");
  EXPECT_STREQ(nodeName, "defaultnode");
  EXPECT_STREQ(serverName, "appserver");
  EXPECT_STREQ(profileName, "");
  EXPECT_STREQ(extDirs, "");
  EXPECT_EQ(err, std::string(kHomeError) + kNodeError + kServerError);
}

TEST_F(Identity, LongValuesAreCutNotOverrun) {
  std::string huge(2000, 'h');
  std::string hugeExt(2500, 'e');
  resolve({"-Dhm.home=" + huge, "-Dhm.nodename=" + huge, "-Dhm.ext.dirs=" + hugeExt});
  EXPECT_EQ(std::string(homeDir), std::string(255, 'h'));
  EXPECT_EQ(std::string(nodeName), std::string(255, 'h'));
  EXPECT_EQ(std::string(extDirs), std::string(1999, 'e'));
  ScopedEnv server("hm.appserver", huge.c_str());
  resolve({});
  EXPECT_EQ(std::string(serverName), std::string(255, 'h'));
  // The MOD file name (its forms are checked with the MOD file step).
  scope.set(huge, huge, huge, huge);
  EXPECT_EQ(std::strlen(std::unique_ptr<char[]>(modFileName()).get()), 1023u);
}

// A relative home is made absolute once, so the monitored directory lands
// under <cwd>/<home>/lib and not under <home>/lib/<home>/lib; a second call
// finds the directory made, and the working directory is left alone.
TEST_F(Identity, RelativeHomeBecomesAbsoluteBeforeTheMonitoredDirectory) {
  TempDir top;
  top.makeDir("h/lib");
  std::string before = currentDirectory();
  ASSERT_EQ(chdir(top.path().c_str()), 0);
  scope.set("h", "n", "srv");
  const std::string cwd = currentDirectory();
  makeHomeDirAbsolute();
  EXPECT_EQ(std::string(homeDir), cwd + "/h");
  for (int twice = 0; twice < 2; twice++) {
    CapturedOutput quiet;
    createMonitoredDirectory();
  }
  EXPECT_TRUE(fileExists(top.at("h/lib/monitored/srv")));
  EXPECT_FALSE(fileExists(top.at("h/lib/h")));
  EXPECT_EQ(currentDirectory(), cwd);
  makeHomeDirAbsolute();  // an absolute home stays as it is
  EXPECT_EQ(std::string(homeDir), cwd + "/h");
  ASSERT_EQ(chdir(before.c_str()), 0);
}

TEST_F(Identity, MonitoredDirectoryNeedsLib) {
  TempDir home;
  scope.set(home.path(), "n", "srv");
  std::string before = currentDirectory();
  CapturedOutput captured;
  createMonitoredDirectory();
  std::string lib = home.path() + os::kPathSeparator + "lib";
  EXPECT_CONTAINS(captured.err(), lib + " doesn't exist.\n");
  EXPECT_CONTAINS(captured.err(), "Can't open dir " + lib + ", error code =2.\n");
  EXPECT_FALSE(fileExists(lib));
  EXPECT_EQ(currentDirectory(), before);
}
