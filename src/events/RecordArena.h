// Memory for the records one thread makes, carved from slabs of its own.
//
// A request makes its records on its own thread and an event agent destroys
// them on another. With one allocation per record, every destruction is a
// free into the allocator arena the making thread allocates from, and the two
// threads meet on that arena's lock at the rate records are made: a share of
// every request's cost went to waking and waiting on it. An arena instead
// hands out consecutive blocks of a slab with no lock at all, and a slab goes
// back to the allocator in one free once every record made in it has been
// destroyed, whichever thread destroys the last one.
//
// Every block of memory a record lives in begins with a header: the slab the
// block was carved from, or null for a block allocated on its own. The
// record's operator delete (EventRecord) reads it and releases the block the
// right way, so a record is destroyed the same way wherever it was made.
//
// Only the thread that owns the arena allocates from it; records may be
// destroyed on any thread, before or after the arena itself is gone. Beyond
// its records, an arena holds the rest of the slab it is carving, and a slab
// it gave up stays whole until its last record is destroyed; records leave
// their queue oldest first, so that is rarely more than a slab or two.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The bytes an allocation of `bytes` takes from the C allocator: a header of
// 8 bytes, rounding to 16, at least 32.
constexpr size_t allocationFootprint(size_t bytes) {
  size_t n = (bytes + 8 + 15) & ~static_cast<size_t>(15);
  return n < 32 ? 32 : n;
}

class RecordArena {
 public:
  // The bytes of a slab. Below the allocator's threshold for mapping memory
  // of its own, so slabs are reused from its free lists instead of being
  // freshly faulted in.
  static constexpr size_t kSlabBytes = 8 * 1024;
  // Larger blocks are allocated on their own.
  static constexpr size_t kLargestBlock = kSlabBytes / 4;
  // The header before every block.
  static constexpr size_t kHeader = 8;

  // The bytes a block of `bytes` allocated on its own takes.
  static constexpr size_t ownFootprint(size_t bytes) {
    return allocationFootprint(bytes + kHeader);
  }

  RecordArena() = default;
  // Gives up the slab being carved; it is freed with its last record.
  ~RecordArena();
  RecordArena(const RecordArena&) = delete;
  RecordArena& operator=(const RecordArena&) = delete;

  // A block of `bytes` for a record, 8-aligned, from `arena` when one is
  // given and the block fits in a slab, otherwise allocated on its own. Sets
  // `footprint` to the bytes the block takes, header included. Null when
  // memory could not be had.
  static void* allocate(RecordArena* arena, size_t bytes, size_t* footprint = nullptr);
  // Releases a block `allocate` answered.
  static void release(void* block);

 private:
  struct Slab {
    // While the slab is being carved: kOpen less the blocks released. Once
    // given up: the blocks still in use. The thread that brings it to zero
    // frees the slab.
    std::atomic<int64_t> live;
  };
  static constexpr int64_t kOpen = int64_t{1} << 40;

  void* carve(size_t bytes);
  // Gives up the current slab: from now on its last release frees it.
  void retire();

  Slab* current_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  // Blocks carved from the current slab.
  int64_t carved_ = 0;
};
