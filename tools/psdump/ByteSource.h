// Where the decoder pulls the bytes of one connection from: a socket, a file
// or a buffer in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace psdump {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Copies up to max bytes (max > 0) to dst and returns how many; 0 means
  // the stream has ended.
  virtual size_t read(uint8_t* dst, size_t max) = 0;
};

// Serves a buffer, at most chunk bytes per read (0: no limit), so that tests
// can split the stream at every point the way a socket might.
class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size, size_t chunk = 0)
      : data_(data), size_(size), chunk_(chunk) {}
  explicit MemorySource(const std::vector<uint8_t>& bytes, size_t chunk = 0)
      : MemorySource(bytes.data(), bytes.size(), chunk) {}
  size_t read(uint8_t* dst, size_t max) override;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t chunk_;
  size_t pos_ = 0;
};

}  // namespace psdump
