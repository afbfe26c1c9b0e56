// Memory for the records one thread makes, carved from slabs of its own.
//
// A request makes its records on its own thread and an event agent destroys
// them on another. With one allocation per record, every destruction is a
// free into the allocator arena the making thread allocates from, and the two
// threads meet on that arena's lock at the rate records are made. An arena
// instead hands out consecutive blocks of a slab with no lock at all, and a
// slab is done once every record made in it has been destroyed, whichever
// thread destroys the last one.
//
// A slab that is done goes back to its arena's pool of spare slabs (a few
// are kept; the others are freed), from which the arena takes its next slab
// before it asks the allocator: in steady state the making thread does not
// call the allocator at all. Threads that destroy records push done slabs
// onto the pool; only the arena's own thread takes them off, all at once, so
// the pool needs no lock and no guard against a slab coming back in between.
// The pool is shared by the arena and its slabs in use and goes with the last
// of them, so a record may outlive the arena (its thread) safely: a slab
// that is done after its arena is gone is freed.
//
// Every block of memory a record lives in begins with a header: the slab the
// block was carved from, or null for a block allocated on its own. The
// record's operator delete (EventRecord) reads it and releases the block the
// right way, so a record is destroyed the same way wherever it was made.
//
// Only the thread that owns the arena allocates from it; records may be
// destroyed on any thread, before or after the arena itself is gone. Beyond
// its records, an arena holds the rest of the slab it is carving and its
// spare slabs, and a slab it gave up stays whole until its last record is
// destroyed; records leave their queue oldest first, so that is rarely more
// than a slab or two.
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
  // A slab's head; below.
  struct Slab;

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

  // Spare slabs an arena's pool keeps at most; the memory a thread holds
  // beyond its records is at most this many slabs and the one it carves.
  static constexpr int kSpareSlabs = 8;

  RecordArena() = default;
  // Gives up the slab being carved (it is done with its last record) and
  // frees the spare slabs.
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

  // Releases blocks one after another on one thread, as a drain destroys the
  // records it took off together: consecutive blocks of one slab change the
  // slab's count once, not once each. Blocks are released for good by
  // flush() or the destructor, until then their slab stays in use.
  class Releaser {
   public:
    Releaser() = default;
    ~Releaser() { flush(); }
    Releaser(const Releaser&) = delete;
    Releaser& operator=(const Releaser&) = delete;
    void release(void* block);
    void flush();

   private:
    Slab* slab_ = nullptr;
    int64_t pending_ = 0;
  };

 private:
  friend struct RecordArenaTestAccess;
  struct Pool;
  struct Slab {
    // While the slab is being carved: kOpen less the blocks released. Once
    // given up: the blocks still in use. The thread that brings it to zero
    // hands the slab back to its pool.
    std::atomic<int64_t> live;
    // The pool it returns to; null when none could be made.
    Pool* pool;
    // The next slab while it is spare.
    Slab* next;
  };
  static constexpr int64_t kOpen = int64_t{1} << 40;

  void* carve(size_t bytes);
  // A slab to carve: a spare one, or a new one from the allocator.
  Slab* takeSlab();
  // Gives up the current slab: from now on its last release ends it.
  void retire();
  // The slab a block was carved from; a block of its own is freed here and
  // null answered.
  static Slab* slabOrFree(void* block);
  // Releases `blocks` blocks of the slab; the last one ends it.
  static void releaseFrom(Slab* slab, int64_t blocks);
  // The slab's last block is released: back to its pool, or freed.
  static void slabDone(Slab* slab);

  Slab* current_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  // Blocks carved from the current slab.
  int64_t carved_ = 0;
  // Made with the first slab.
  Pool* pool_ = nullptr;
  // Spare slabs taken off the pool and not used yet.
  Slab* spares_ = nullptr;
};
