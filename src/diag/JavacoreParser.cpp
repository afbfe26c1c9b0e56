#include "diag/JavacoreParser.h"

#include <cstring>

JavacoreParser::JavacoreParser(uint32_t threadObjectId, int maxFrames)
    : wanted_(threadObjectId), maxFrames_(maxFrames > 0 ? static_cast<size_t>(maxFrames) : 0) {}

bool JavacoreParser::headerId(const std::string& line, uint32_t* id) {
  if (line.find("TID:") == std::string::npos || line.find("sys_thread_t:") == std::string::npos)
    return false;
  size_t open = line.find('"');
  if (open == std::string::npos) return false;
  size_t close = line.find('"', open + 1);
  if (close == std::string::npos) return false;
  size_t x = line.find('x', close + 1);
  if (x == std::string::npos) return false;
  size_t comma = line.find(',', x + 1);
  if (comma == std::string::npos) return false;
  // Hexadecimal digits up to the comma; more than 8 cannot be a 32-bit id.
  uint64_t value = 0;
  size_t digits = 0;
  for (size_t i = x + 1; i < comma; i++) {
    char c = line[i];
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      break;
    }
    if (++digits > 8) return false;
    value = value * 16 + static_cast<uint64_t>(d);
  }
  if (digits == 0) return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

void JavacoreParser::frameLine(const std::string& line) {
  size_t at = line.find("at ");
  size_t start = at + 3;
  size_t paren = line.find('(', start);
  if (paren == std::string::npos) return;
  size_t dot = line.rfind('.', paren);
  if (dot == std::string::npos || dot < start) return;
  frames_.push_back(
      JavacoreFrame{line.substr(start, dot - start), line.substr(dot + 1, paren - dot - 1)});
}

bool JavacoreParser::feedLine(const char* text, size_t length) {
  if (state_ == State::Done) return false;
  std::string line(text, length);
  if (state_ == State::Searching) {
    uint32_t id = 0;
    if (headerId(line, &id) && id == wanted_) {
      state_ = maxFrames_ == 0 ? State::Done : State::InTrace;
    }
    return state_ != State::Done;
  }
  if (line.find("at ") != std::string::npos) {
    frameLine(line);
    if (frames_.size() >= maxFrames_) state_ = State::Done;
  } else if (line.find("- locked ") == std::string::npos) {
    state_ = State::Done;
  }
  return state_ != State::Done;
}

void JavacoreParser::parseFile(std::FILE* in) {
  if (!in) return;
  char buffer[kLineLimit];
  while (std::fgets(buffer, sizeof buffer, in)) {
    // fgets stops at a zero byte only by chance; the length is where the
    // text it read appears to end.
    size_t length = std::strlen(buffer);
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r')) length--;
    if (!feedLine(buffer, length)) return;
  }
}

void JavacoreParser::parseText(const char* bytes, size_t length) {
  size_t pos = 0;
  while (pos < length) {
    // One piece: up to and including a newline, at most kLineLimit - 1 bytes.
    size_t end = pos;
    size_t limit = pos + (kLineLimit - 1) < length ? pos + (kLineLimit - 1) : length;
    while (end < limit && bytes[end] != '\n') end++;
    size_t next = end < limit ? end + 1 : end;
    // Text after a zero byte is not seen by a string-based reader.
    const void* zero = std::memchr(bytes + pos, '\0', end - pos);
    size_t pieceEnd = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : end;
    while (pieceEnd > pos && bytes[pieceEnd - 1] == '\r') pieceEnd--;
    if (!feedLine(bytes + pos, pieceEnd - pos)) return;
    pos = next;
  }
}
