#include "ByteSource.h"

#include <algorithm>
#include <cstring>

namespace psdump {

size_t MemorySource::read(uint8_t* dst, size_t max) {
  size_t n = std::min(max, size_ - pos_);
  if (chunk_ > 0) n = std::min(n, chunk_);
  if (n == 0) return 0;
  std::memcpy(dst, data_ + pos_, n);
  pos_ += n;
  return n;
}

}  // namespace psdump
