#include "ByteReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace psdump {

namespace {
constexpr size_t kReadChunk = 64 * 1024;
}

ByteReader::ByteReader(ByteSource& source) : source_(source), buf_(kReadChunk) {}

bool ByteReader::fill(size_t n) {
  if (end_ - pos_ >= n) return true;
  if (ended_) return false;
  // Move the unread tail to the front, then grow to hold n bytes.
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    base_ += pos_;
    pos_ = 0;
  }
  if (buf_.size() < n) buf_.resize(std::max(n, buf_.size() * 2));
  while (end_ < n) {
    size_t got = source_.read(buf_.data() + end_, buf_.size() - end_);
    if (got == 0) {
      ended_ = true;
      return false;
    }
    end_ += std::min(got, buf_.size() - end_);
  }
  return true;
}

void ByteReader::setContext(const char* what, int tag, uint64_t start) {
  context_ = what;
  contextTag_ = tag;
  contextStart_ = start;
}

void ByteReader::fail(uint64_t offset, std::string message) {
  if (failed_) return;
  failed_ = true;
  error_.offset = offset;
  error_.message = std::move(message);
}

bool ByteReader::needMore(size_t n) {
  if (failed_) return false;
  if (fill(n)) return true;
  uint64_t at = offset() + available();
  std::string msg = "stream ended at byte offset " + std::to_string(at);
  if (context_ != nullptr) {
    msg += " inside ";
    if (contextTag_ >= 0) {
      msg += "record '" + std::string(context_) + "' (tag " + std::to_string(contextTag_) + ")";
    } else {
      msg += context_;
    }
    msg += " that starts at byte offset " + std::to_string(contextStart_);
  }
  msg += " (" + std::to_string(n - available()) + " more bytes needed at byte offset " +
         std::to_string(offset()) + ")";
  fail(at, std::move(msg));
  return false;
}

std::string ByteReader::bytes(size_t n) {
  if (!need(n)) return std::string();
  std::string out(reinterpret_cast<const char*>(buf_.data() + pos_), n);
  pos_ += n;
  return out;
}

void ByteReader::bytesInto(std::string& dst, size_t n) {
  if (!need(n)) {
    dst.clear();
    return;
  }
  dst.assign(reinterpret_cast<const char*>(buf_.data() + pos_), n);
  pos_ += n;
}

}  // namespace psdump
