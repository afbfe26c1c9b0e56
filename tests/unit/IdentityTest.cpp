#include "config/Identity.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
  // Resolves from the given arguments; returns what went to standard error.
  std::string resolve(std::vector<std::string> args) {
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    CapturedOutput captured;
    resolveIdentity(static_cast<int>(argv.size()), argv.data());
    return captured.err();
  }
  IdentityScope scope;
};

}  // namespace

TEST_F(Identity, CommandLineFormsAreTaken) {
  std::string err =
      resolve({"java", "-Dhm.home=/opt/h", "-Dhm.nodename=node1", "-Dhm.appserver=server1",
               "-Dhm.profilename=prof", "-Dhm.ext.dirs=/a:/b", "Main"});
  EXPECT_STREQ(homeDir, "/opt/h");
  EXPECT_STREQ(nodeName, "node1");
  EXPECT_STREQ(serverName, "server1");
  EXPECT_STREQ(profileName, "prof");
  EXPECT_STREQ(extDirs, "/a:/b");
  EXPECT_EQ(err, "");
}

TEST_F(Identity, PlainFormsAreTakenToo) {
  resolve({"hm.home=/h", "hm.nodename=n", "hm.appserver=s", "hm.profilename=p", "hm.ext.dirs=e"});
  EXPECT_STREQ(homeDir, "/h");
  EXPECT_STREQ(nodeName, "n");
  EXPECT_STREQ(serverName, "s");
  EXPECT_STREQ(profileName, "p");
  EXPECT_STREQ(extDirs, "e");
}

TEST_F(Identity, LaterArgumentForTheSameValueWins) {
  resolve({"-Dhm.home=/first", "hm.home=/second"});
  EXPECT_STREQ(homeDir, "/second");
  resolve({"hm.home=/second", "-Dhm.home=/third"});
  EXPECT_STREQ(homeDir, "/third");
}

TEST_F(Identity, PrefixMustStandAtTheStart) {
  std::string err = resolve({"x-Dhm.home=/no", "-Dhm.homes=/no", "-Dhm.home", "--hm.home=/no"});
  EXPECT_STREQ(homeDir, "/halden");
  EXPECT_NE(err.find(kHomeError), std::string::npos);
}

TEST_F(Identity, EnvironmentIsTheFallback) {
  ScopedEnv home("hm.home", "/env/home");
  ScopedEnv node("hm.nodename", "envnode");
  ScopedEnv server("hm.appserver", "envserver");
  ScopedEnv profile("hm.profilename", "envprofile");
  std::string err = resolve({"java", "-Dhm.nodename=cmdnode"});
  EXPECT_STREQ(homeDir, "/env/home");
  EXPECT_STREQ(nodeName, "cmdnode");  // the command line comes first
  EXPECT_STREQ(serverName, "envserver");
  EXPECT_STREQ(profileName, "envprofile");
  EXPECT_EQ(err, "");
}

TEST_F(Identity, EmptyCommandLineValueFallsBackToTheEnvironment) {
  ScopedEnv home("hm.home", "/env/home");
  resolve({"-Dhm.home="});
  EXPECT_STREQ(homeDir, "/env/home");
}

TEST_F(Identity, DefaultsComeWithTheirErrorLines) {
  std::string err = resolve({"java"});
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
}

TEST_F(Identity, NullArgumentsAreSkipped) {
  const char* argv[] = {nullptr, "-Dhm.home=/h", nullptr};
  CapturedOutput quiet;
  resolveIdentity(3, argv);
  quiet.finish();
  EXPECT_STREQ(homeDir, "/h");
}

TEST_F(Identity, ModFileNameWithAndWithoutProfile) {
  scope.set("/h", "n", "s");
  std::unique_ptr<char[]> plain(modFileName());
  EXPECT_STREQ(plain.get(), "/h/etc/n.s.hm.mod");
  scope.set("/h", "n", "s", "p");
  std::unique_ptr<char[]> withProfile(modFileName());
  EXPECT_STREQ(withProfile.get(), "/h/etc/n.s(p).hm.mod");
  scope.set(std::string(255, 'h'), std::string(255, 'n'), std::string(255, 's'),
            std::string(255, 'p'));
  std::unique_ptr<char[]> longest(modFileName());
  EXPECT_EQ(std::string(longest.get()).size(), 1023u);  // cut to its buffer
}

TEST_F(Identity, MonitoredDirectoryIsCreatedUnderLib) {
  TempDir home;
  home.makeDir("lib");
  scope.set(home.path(), "n", "srv");
  std::string before = currentDirectory();
  const std::string sep(1, os::kPathSeparator);
  {
    CapturedOutput captured;
    createMonitoredDirectory();
    std::string dir = home.path() + sep + "lib" + sep + "monitored" + sep + "srv";
    EXPECT_TRUE(fileExists(dir));
    EXPECT_NE(captured.out().find("Create directory " + dir + "\n"), std::string::npos);
    EXPECT_NE(captured.err().find(dir + " doesn't exist.\n"), std::string::npos);
  }
  {
    CapturedOutput captured;
    createMonitoredDirectory();
    EXPECT_NE(
        captured.out().find(home.path() + sep + "lib" + sep + "monitored" + sep + "srv exists.\n"),
        std::string::npos);
  }
  EXPECT_EQ(currentDirectory(), before);
}

// A relative home is made absolute once, so the monitored directory lands
// under <cwd>/<home>/lib and not under <home>/lib/<home>/lib.
TEST_F(Identity, RelativeHomeBecomesAbsoluteBeforeTheMonitoredDirectory) {
  TempDir top;
  top.makeDir("h/lib");
  std::string before = currentDirectory();
  ASSERT_EQ(chdir(top.path().c_str()), 0);
  scope.set("h", "n", "srv");
  makeHomeDirAbsolute();
  EXPECT_EQ(std::string(homeDir), currentDirectory() + "/h");
  {
    CapturedOutput quiet;
    createMonitoredDirectory();
  }
  EXPECT_TRUE(fileExists(top.at("h/lib/monitored/srv")));
  EXPECT_FALSE(fileExists(top.at("h/lib/h")));
  makeHomeDirAbsolute();  // an absolute home stays as it is
  EXPECT_EQ(std::string(homeDir), currentDirectory() + "/h");
  ASSERT_EQ(chdir(before.c_str()), 0);
}

TEST_F(Identity, MonitoredDirectoryNeedsLib) {
  TempDir home;
  scope.set(home.path(), "n", "srv");
  std::string before = currentDirectory();
  CapturedOutput captured;
  createMonitoredDirectory();
  std::string lib = home.path() + os::kPathSeparator + "lib";
  EXPECT_NE(captured.err().find(lib + " doesn't exist.\n"), std::string::npos);
  EXPECT_NE(captured.err().find("Can't open dir " + lib + ", error code =2.\n"), std::string::npos);
  EXPECT_FALSE(fileExists(lib));
  EXPECT_EQ(currentDirectory(), before);
}
