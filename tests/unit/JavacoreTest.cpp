// The javacore parser and the search for javacores.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "diag/JavacoreParser.h"
#include "diag/ThreadDump.h"
#include "platform/JvmtiRas.h"
#include "platform/os.h"
#include "support/TestSupport.h"

namespace {

std::string framesOf(const std::string& text, uint32_t id, int max) {
  JavacoreParser parser(id, max);
  parser.parseText(text.data(), text.size());
  std::string out;
  for (const JavacoreFrame& f : parser.frames()) out += f.className + "#" + f.methodName + " ";
  return out;
}

const char* kTwoThreads =
    "Thread dump of process 1\n"
    "\"main\" TID:0x1A, sys_thread_t:0x1A, state:R\n"
    "    at com/acme/Main.main(Main.java:3)\n"
    "\n"
    "\"worker x\" TID:0x2B, sys_thread_t:0x0\n"
    "    at com/acme/Foo.bar(Foo.java:10)\n"
    "    - locked <0x1234> (a java/lang/Object)\n"
    "    at com/acme/Foo$Inner.<init>(Foo.java)\n"
    "    at no-parenthesis.here\n"
    "    at noDot(Native Method)\n"
    "    at com/acme/Foo.run(Foo.java:2)\n"
    "3XMTHREADINFO ends the trace\n"
    "    at com/acme/After.never(After.java)\n";

TEST(JavacoreParserTest, FramesFollowTheHeaderOfTheThreadUntilAnotherLine) {
  EXPECT_EQ(framesOf(kTwoThreads, 0x1A, 10), "com/acme/Main#main ");
  // Lock lines are skipped, frames without '(' or '.' are skipped, and the
  // first other line ends the trace.
  EXPECT_EQ(framesOf(kTwoThreads, 0x2B, 10),
            "com/acme/Foo#bar com/acme/Foo$Inner#<init> com/acme/Foo#run ");
  EXPECT_EQ(framesOf(kTwoThreads, 0x2B, 2), "com/acme/Foo#bar com/acme/Foo$Inner#<init> ");
  EXPECT_EQ(framesOf(kTwoThreads, 0x2B, 0), "");
  EXPECT_EQ(framesOf(kTwoThreads, 0x3C, 10), "") << "a thread not in the file";
  // Header ids that are not numbers or too long never match.
  EXPECT_EQ(framesOf("\"t\" TID:0x, sys_thread_t:0x5\nat a/B.c(B)\n", 0, 5), "");
  EXPECT_EQ(framesOf("\"t\" TID:0x100000005, sys_thread_t:\nat a/B.c(B)\n", 5, 5), "");
  EXPECT_EQ(framesOf("\"t TID:0x5, sys_thread_t:\nat a/B.c(B)\n", 5, 5), "") << "no closing quote";
}

TEST(JavacoreParserTest, LinesAreReadInPiecesOfTheLineLimit) {
  // A frame line longer than the limit: its first piece holds no '(' and is
  // skipped, the rest ("(...)") holds no "at " and ends the trace.
  std::string text = "\"t\" TID:0x7, sys_thread_t:0x7\nat a/B.c(B)\nat p/C." +
                     std::string(3000, 'm') + "(C.java)\nat a/B.d(B)\n";
  EXPECT_EQ(framesOf(text, 7, 5), "a/B#c ");
  TempDir dir;
  dir.write("core", text);
  JavacoreParser parser(7, 5);
  std::FILE* in = std::fopen(dir.at("core").c_str(), "r");
  parser.parseFile(in);
  std::fclose(in);
  EXPECT_EQ(parser.frames().size(), 1u) << "file and memory are read alike";
}

TEST(JavacoreParserTest, TheStandInsLinesReadBack) {
  std::string text;
  appendJavacoreHeader(&text, "odd \"name\"\nwith TID:0x99, at ", 0xABCDEF01, "CW", 5);
  appendJavacoreFrame(&text, "java/lang/Thread", "sleep", "", -1, true);
  appendJavacoreFrame(&text, "com/acme/Foo$$Lambda$1.0x0000000800c0", "run", "", -1, false);
  appendJavacoreFrame(&text, "com/acme/Foo", "bar", "Foo.java", 12, false);
  text += "\n";
  appendJavacoreHeader(&text, "next", 0x2, "R", 5);
  appendJavacoreFrame(&text, "x/Y", "z", "Y.java", 1, false);
  EXPECT_EQ(framesOf(text, 0xABCDEF01, 10),
            "java/lang/Thread#sleep com/acme/Foo$$Lambda$1.0x0000000800c0#run com/acme/Foo#bar ");
  EXPECT_CONTAINS(text, "(Native Method)");
  EXPECT_CONTAINS(text, "(Foo.java:12)");
}

class JavacoreSearchTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string write(const std::string& name, const std::string& text) {
    dir.write(name, text);
    return dir.at(name);
  }
  static std::string nameAt(int64_t seconds, int pid) {
    os::LocalTime t = os::localTimeOf(seconds);
    char name[80];
    std::snprintf(name, sizeof name, "javacore.%04d%02d%02d.%02d%02d%02d.%d.txt", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, pid);
    return name;
  }
};

TEST_F(JavacoreSearchTest, ANameGivesItsLocalTime) {
  int64_t now = os::nowSeconds(), seconds = 0;
  ASSERT_TRUE(javacoreNameTime(nameAt(now, 42).c_str(), &seconds));
  EXPECT_EQ(seconds, now);
  for (const char* bad : {"javacore.20260230.120000.1.txt", "javacore.2026.1.txt",
                          "javacore.99999999999.1.1.txt", "javacore.20260101.246000.1.txt", "core"})
    EXPECT_FALSE(javacoreNameTime(bad, &seconds)) << bad;
}

TEST_F(JavacoreSearchTest, AnOlderJavacoreIsKeptAndANewOneParsedAndDeleted) {
  int64_t now = os::nowSeconds();
  const std::string text = "\"t\" TID:0x9, sys_thread_t:0x9\nat a/B.c(B.java)\n";
  std::string old = write(nameAt(now - 1, 7), text);
  std::string fresh = write(nameAt(now, 7), text);
  std::string other = write("notes.txt", text);
  std::vector<JavacoreFrame> frames;
  searchJavacores(dir.path().c_str(), now, 9, 4, &frames);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].className, "a/B");
  EXPECT_TRUE(os::fileExists(old.c_str()));
  EXPECT_FALSE(os::fileExists(fresh.c_str()));
  EXPECT_TRUE(os::fileExists(other.c_str()));

  // A new javacore without the thread is deleted all the same.
  fresh = write(nameAt(now + 1, 7), "\"u\" TID:0x8, sys_thread_t:0x8\nat a/B.c(B.java)\n");
  searchJavacores(dir.path().c_str(), now, 9, 4, &frames);
  EXPECT_TRUE(frames.empty());
  EXPECT_FALSE(os::fileExists(fresh.c_str()));
}

TEST_F(JavacoreSearchTest, AWrittenJavacoreNeverReplacesAnother) {
  std::string a = write("a.tmp", "new"), b = write("javacore.b", "old");
  EXPECT_EQ(os::renameNoReplace(a.c_str(), b.c_str()), EEXIST);
  EXPECT_EQ(readFile(b), "old");
  EXPECT_EQ(os::renameNoReplace(a.c_str(), dir.at("javacore.c").c_str()), 0);
  EXPECT_EQ(readFile(dir.at("javacore.c")), "new");
  EXPECT_FALSE(os::fileExists(a.c_str()));
}

TEST_F(JavacoreSearchTest, AThreadDumpIsTheFirstFileOfTheProcessWrittenSinceTheTrigger) {
  int64_t now = os::nowSeconds();
  std::string name;
  EXPECT_EQ(findThreadDumpFile(dir.path().c_str(), 7, now, &name), DumpSearch::NotFound);
  write(nameAt(now, 8), "");
  write("javacore.x.7.txt.bak", "");
  EXPECT_EQ(findThreadDumpFile(dir.path().c_str(), 7, now, &name), DumpSearch::NotFound);
  write(nameAt(now, 7), "");
  EXPECT_EQ(findThreadDumpFile(dir.path().c_str(), 7, now, &name), DumpSearch::Found);
  EXPECT_EQ(name, nameAt(now, 7));
  EXPECT_EQ(findThreadDumpFile(dir.path().c_str(), 7, now + 5, &name), DumpSearch::NotFound)
      << "written before the trigger";
  EXPECT_EQ(findThreadDumpFile((dir.path() + "/missing").c_str(), 7, now, &name),
            DumpSearch::CannotSearch);
}

}  // namespace
