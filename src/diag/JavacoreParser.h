// Reads the stack of one thread out of a javacore file: the thread's header
// line is found by its thread object id, then its frame lines are read until
// the first line that is neither a frame nor a lock line.
//
// Header line: a double-quoted thread name, "TID:" and "sys_thread_t:"; after
// the closing quote the text from the first 'x' to the next ',' is the thread
// object id in hexadecimal. Frame line: "at <class>.<method>(<source>)", the
// class in slash form. Lines are read in pieces of at most 2047 bytes, as a
// line-reading call with a 2048-byte buffer reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct JavacoreFrame {
  std::string className;  // slash form
  std::string methodName;
};

class JavacoreParser {
 public:
  static constexpr int kLineLimit = 2048;

  // Looks for the thread with this object id; at most maxFrames frames are
  // kept.
  JavacoreParser(uint32_t threadObjectId, int maxFrames);

  // Feeds one line (without its end of line, at most kLineLimit - 1 bytes).
  // False once the trace has ended and further lines change nothing.
  bool feedLine(const char* line, size_t length);

  // Feeds every line of an open text file.
  void parseFile(std::FILE* in);
  // Feeds the lines of bytes in memory, cut as parseFile would read them.
  void parseText(const char* bytes, size_t length);

  // The frames found, in stack order; empty when the thread never appeared.
  const std::vector<JavacoreFrame>& frames() const { return frames_; }
  bool threadFound() const { return state_ != State::Searching; }

 private:
  enum class State { Searching, InTrace, Done };

  // The thread object id of a header line; false for any other line.
  static bool headerId(const std::string& line, uint32_t* id);
  void frameLine(const std::string& line);

  uint32_t wanted_;
  size_t maxFrames_;
  State state_ = State::Searching;
  std::vector<JavacoreFrame> frames_;
};
