// The platform's reading and replacing of the library's own files (the
// password file and the correlation counter file share them): what is
// planted at the path is never followed, never waited on, and a replaced
// file changes whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/os.h"
#include "support/TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;

TEST(PrivateFile, ReplacesWholeAndReadsBack) {
  TempDir dir;
  const std::string path = dir.at("f");
  std::string content;
  EXPECT_EQ(os::readRegularFile(path.c_str(), 100, &content), ENOENT);
  ASSERT_EQ(os::replaceFile(path.c_str(), "first", 5), 0);
#ifndef _WIN32
  // A reader that opened the old file keeps reading the old content: the
  // new one is another file that took the name, not the old one rewritten.
  // (Windows refuses to replace a file that is open without delete sharing.)
  std::ifstream old(path, std::ios::binary);
  ASSERT_EQ(os::replaceFile(path.c_str(), "second!", 7), 0);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "first");
#else
  ASSERT_EQ(os::replaceFile(path.c_str(), "second!", 7), 0);
#endif
  ASSERT_EQ(os::readRegularFile(path.c_str(), 100, &content), 0);
  EXPECT_EQ(content, "second!");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1) << "nothing left beside it";
#ifndef _WIN32
  // New: owner only. Existing: its own bits, never more.
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_EQ(os::replaceFile(path.c_str(), "third", 5), 0);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
}

#ifndef _WIN32
// A link to a world-readable file, a FIFO without a writer, a directory:
// refused at once, with nothing written anywhere.
TEST(PrivateFile, LinksFifosAndDirectoriesAreRefusedWithoutWaiting) {
  TempDir dir;
  dir.write("target", "precious");
  fs::create_symlink(dir.at("target"), dir.at("link"));
  fs::create_symlink(dir.at("missing"), dir.at("dangling"));
  ASSERT_EQ(mkfifo(dir.at("fifo").c_str(), 0600), 0);
  dir.makeDir("folder");
  for (const char* name : {"link", "dangling", "fifo", "folder"}) {
    const std::string path = dir.at(name);
    std::string content = "kept";
    EXPECT_EQ(os::readRegularFile(path.c_str(), 100, &content), os::kNotRegularFile) << name;
    EXPECT_EQ(content, "kept") << name;
    EXPECT_EQ(os::replaceFile(path.c_str(), "overwritten", 11), os::kNotRegularFile) << name;
  }
  EXPECT_EQ(readFile(dir.at("target")), "precious");
  EXPECT_FALSE(fileExists(dir.at("missing")));
  EXPECT_TRUE(fs::is_symlink(dir.at("link")));
}
#endif

}  // namespace
