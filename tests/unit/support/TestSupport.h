// Helpers shared by the unit tests: fresh temporary directories, files,
// captured standard streams, scoped environment variables and a snapshot of
// the identity values. All tests run in one binary, so each of these puts
// back what it changed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

// The text contains the part; the failure shows the whole text.
#define EXPECT_CONTAINS(text, part)                          \
  EXPECT_NE(std::string(text).find(part), std::string::npos) \
      << "no \"" << (part) << "\" in: " << (text)

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string at(const std::string& relative) const;
  // Creates a directory (and its parents) below path().
  void makeDir(const std::string& relative) const;
  // Writes a file below path() (its folder must exist).
  void write(const std::string& relative, const std::string& content) const;

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// Runs f with standard output captured and returns what was written.
template <typename F>
std::string captured(F f) {
  testing::internal::CaptureStdout();
  f();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// Captures standard output and standard error from construction until
// finish() (or the destructor).
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  void finish();
  const std::string& out();
  const std::string& err();

 private:
  bool capturing_ = true;
  std::string out_, err_;
};

// Sets (or, with a null value, unsets) an environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

// Saves the identity values and puts them back when it goes; meanwhile the
// identity variables of the environment are unset so that only what a test
// sets counts.
class IdentityScope {
 public:
  IdentityScope();
  ~IdentityScope();
  IdentityScope(const IdentityScope&) = delete;
  IdentityScope& operator=(const IdentityScope&) = delete;

  // Sets the four identity values directly.
  void set(const std::string& home, const std::string& node, const std::string& server,
           const std::string& profile = "");

 private:
  struct Saved;
  Saved* saved_;
};

std::string currentDirectory();

// True when every needle occurs in text, each after the one before it.
bool inOrder(const std::string& text, const std::vector<std::string>& needles);

// Counts the occurrences of needle in text.
int countOf(const std::string& text, const std::string& needle);
