#include "publish/PacketBuffer.h"

#include <cstring>
#include <new>

PacketBuffer::PacketBuffer(std::unique_ptr<uint8_t[]> bytes, size_t capacity,
                           std::shared_ptr<PacketPool> pool)
    : bytes_(std::move(bytes)), capacity_(capacity), pool_(std::move(pool)) {}

PacketBuffer PacketBuffer::copyOf(const uint8_t* bytes, size_t length) {
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[length]);
  if (!copy) return PacketBuffer();
  if (bytes && length > 0) std::memcpy(copy.get(), bytes, length);
  return PacketBuffer(std::move(copy), length, nullptr);
}

PacketBuffer& PacketBuffer::operator=(PacketBuffer&& other) {
  if (this != &other) {
    reset();
    bytes_ = std::move(other.bytes_);
    capacity_ = other.capacity_;
    pool_ = std::move(other.pool_);
    other.capacity_ = 0;
  }
  return *this;
}

PacketBuffer::~PacketBuffer() {
  reset();
}

void PacketBuffer::reset() {
  if (bytes_ && pool_) pool_->give(std::move(bytes_));
  bytes_.reset();
  pool_.reset();
  capacity_ = 0;
}

std::shared_ptr<PacketPool> PacketPool::create(size_t capacity) {
  return std::shared_ptr<PacketPool>(new (std::nothrow) PacketPool(capacity));
}

PacketBuffer PacketPool::take() {
  std::unique_ptr<uint8_t[]> bytes;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (freeCount_ > 0) bytes = std::move(free_[--freeCount_]);
  }
  if (!bytes) bytes.reset(new (std::nothrow) uint8_t[capacity_]);
  if (!bytes) return PacketBuffer();
  return PacketBuffer(std::move(bytes), capacity_, shared_from_this());
}

void PacketPool::give(std::unique_ptr<uint8_t[]> bytes) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (freeCount_ < kKeptFree) {
      free_[freeCount_++] = std::move(bytes);
      return;
    }
  }
  // Beyond what the pool keeps: freed outside the lock.
}

int PacketPool::freeCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return freeCount_;
}
