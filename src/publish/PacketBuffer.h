// Packet buffers handed from the event agent that fills one to the network
// agent that writes it, instead of the bytes being copied on the way.
//
// An event agent serialises its records straight into a buffer of its pool
// and hands the buffer itself to the network agent's queue; once the packet
// has been written (or discarded) the buffer goes back to the pool, and the
// event agent's next packet takes it from there. Two buffers then take turns
// and no packet is copied or allocated in the steady state, while the pages a
// buffer has once been written stay mapped for the next packet.
//
// A pool keeps at most one free buffer: one in the event agent's hands, one
// free and those queued is all a publishing cycle needs, and a buffer beyond
// that (after the collector was slow) goes back to the allocator. Buffers
// are allocated at the full size (the packet limit and its slack); only the
// pages written are ever touched.
//
// A buffer keeps its pool alive, so either may go first. Several threads may
// take and return buffers at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class PacketPool;

class PacketBuffer {
 public:
  PacketBuffer() = default;
  // A buffer of `length` bytes of its own, holding a copy of `bytes` (when
  // not null); freed with it. Empty when memory could not be had.
  static PacketBuffer copyOf(const uint8_t* bytes, size_t length);
  PacketBuffer(PacketBuffer&&) = default;
  PacketBuffer& operator=(PacketBuffer&& other);
  // Returns the bytes to their pool, or frees them.
  ~PacketBuffer();

  uint8_t* data() const { return bytes_.get(); }
  size_t capacity() const { return capacity_; }
  explicit operator bool() const { return bytes_ != nullptr; }
  void reset();

 private:
  friend class PacketPool;
  PacketBuffer(std::unique_ptr<uint8_t[]> bytes, size_t capacity, std::shared_ptr<PacketPool> pool);

  std::unique_ptr<uint8_t[]> bytes_;
  size_t capacity_ = 0;
  std::shared_ptr<PacketPool> pool_;
};

class PacketPool : public std::enable_shared_from_this<PacketPool> {
 public:
  // The free buffers a pool keeps.
  static constexpr int kKeptFree = 1;

  static std::shared_ptr<PacketPool> create(size_t capacity);
  PacketPool(const PacketPool&) = delete;
  PacketPool& operator=(const PacketPool&) = delete;

  size_t capacity() const { return capacity_; }
  // A free buffer, or a new one; empty when memory could not be had.
  PacketBuffer take();
  // Free buffers kept now.
  int freeCount();

 private:
  friend class PacketBuffer;
  explicit PacketPool(size_t capacity) : capacity_(capacity) {}
  void give(std::unique_ptr<uint8_t[]> bytes);

  const size_t capacity_;
  std::mutex lock_;
  std::unique_ptr<uint8_t[]> free_[kKeptFree];
  int freeCount_ = 0;
};
