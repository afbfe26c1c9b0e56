#include "events/RecordArena.h"

#include <new>

#include "events/RecordArenaTestAccess.h"

namespace {

size_t roundUp8(size_t bytes) {
  return (bytes + 7) & ~static_cast<size_t>(7);
}

constexpr size_t kSlabHead = 64;

template <class T>
void writeHeader(char* at, T* slab) {
  ::new (at) T*(slab);
}

template <class T>
T* readHeader(const char* at) {
  return *std::launder(reinterpret_cast<T* const*>(at));
}

}  // namespace

// The spare slabs of one arena, shared by the arena and its slabs in use.
struct RecordArena::Pool {
  // Done slabs pushed by the threads that released their last block, newest
  // first. Only the arena takes them off, all at once.
  std::atomic<Slab*> returned{nullptr};
  // Slabs on `returned` and in the arena's spares; at most kSpareSlabs.
  std::atomic<int> kept{0};
  // The arena, while it exists, and every slab in use (carved or given up
  // with blocks still live). Spare slabs hold none.
  std::atomic<int> users{1};
  // The arena still exists: done slabs are kept for it.
  std::atomic<bool> open{true};

  static void freeList(Slab* slab) {
    while (slab) {
      Slab* next = slab->next;
      slab->~Slab();
      ::operator delete(slab);
      slab = next;
    }
  }

  // One user fewer; the last one frees the pool and what it still keeps.
  void leave() {
    if (users.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    freeList(returned.exchange(nullptr, std::memory_order_acquire));
    delete this;
  }
};

RecordArena::~RecordArena() {
  retire();
  if (!pool_) return;
  Pool::freeList(spares_);
  spares_ = nullptr;
  // Slabs done from now on are freed; those that came back before are freed
  // here, and one that comes back in between goes with the pool.
  pool_->open.store(false, std::memory_order_release);
  Pool::freeList(pool_->returned.exchange(nullptr, std::memory_order_acquire));
  pool_->leave();
  pool_ = nullptr;
}

void* RecordArena::allocate(RecordArena* arena, size_t bytes, size_t* footprint) {
  if (arena && bytes <= kLargestBlock) {
    if (void* block = arena->carve(bytes)) {
      if (footprint) *footprint = roundUp8(bytes + kHeader);
      return block;
    }
  }
  char* own = static_cast<char*>(::operator new(bytes + kHeader, std::nothrow));
  if (!own) return nullptr;
  writeHeader<Slab>(own, nullptr);
  if (footprint) *footprint = ownFootprint(bytes);
  return own + kHeader;
}

RecordArena::Slab* RecordArena::takeSlab() {
  if (!pool_) pool_ = new (std::nothrow) Pool;
  if (!spares_ && pool_ && pool_->returned.load(std::memory_order_relaxed))
    spares_ = pool_->returned.exchange(nullptr, std::memory_order_acquire);
  Slab* slab = spares_;
  if (slab) {
    spares_ = slab->next;
    pool_->kept.fetch_sub(1, std::memory_order_relaxed);
  } else {
    void* memory = ::operator new(kSlabBytes, std::nothrow);
    if (!memory) return nullptr;
    slab = ::new (memory) Slab{};
    slab->pool = pool_;
  }
  slab->next = nullptr;
  slab->live.store(kOpen, std::memory_order_relaxed);
  if (pool_) pool_->users.fetch_add(1, std::memory_order_relaxed);
  return slab;
}

void* RecordArena::carve(size_t bytes) {
  size_t need = roundUp8(bytes + kHeader);
  if (!current_ || static_cast<size_t>(end_ - next_) < need) {
    retire();
    current_ = takeSlab();
    if (!current_) return nullptr;
    // The blocks start a cache line after the count, which the releasing
    // threads change while this one still writes records here.
    next_ = reinterpret_cast<char*>(current_) + kSlabHead;
    end_ = reinterpret_cast<char*>(current_) + kSlabBytes;
    carved_ = 0;
  }
  char* at = next_;
  next_ += need;
  carved_++;
  writeHeader(at, current_);
  return at + kHeader;
}

void RecordArena::retire() {
  Slab* slab = current_;
  if (!slab) return;
  current_ = nullptr;
  next_ = end_ = nullptr;
  int64_t unused = kOpen - carved_;
  releaseFrom(slab, unused);
}

void RecordArena::slabDone(Slab* slab) {
  Pool* pool = slab->pool;
  bool keep = false;
  if (pool && pool->open.load(std::memory_order_acquire)) {
    keep = pool->kept.fetch_add(1, std::memory_order_relaxed) < kSpareSlabs;
    if (!keep) pool->kept.fetch_sub(1, std::memory_order_relaxed);
  }
  if (keep) {
    // Release: the arena that takes the slab sees it as this thread left it.
    Slab* top = pool->returned.load(std::memory_order_relaxed);
    do {
      slab->next = top;
    } while (!pool->returned.compare_exchange_weak(top, slab, std::memory_order_release,
                                                   std::memory_order_relaxed));
  } else {
    slab->~Slab();
    ::operator delete(slab);
  }
  if (pool) pool->leave();
}

RecordArena::Slab* RecordArena::slabOrFree(void* block) {
  if (!block) return nullptr;
  char* header = static_cast<char*>(block) - kHeader;
  Slab* slab = readHeader<Slab>(header);
  if (!slab) ::operator delete(header);
  return slab;
}

void RecordArena::releaseFrom(Slab* slab, int64_t blocks) {
  // acq_rel: whichever thread ends the slab sees every write to its blocks.
  if (slab->live.fetch_sub(blocks, std::memory_order_acq_rel) == blocks) slabDone(slab);
}

void RecordArena::release(void* block) {
  if (Slab* slab = slabOrFree(block)) releaseFrom(slab, 1);
}

void RecordArena::Releaser::release(void* block) {
  Slab* slab = slabOrFree(block);
  if (!slab) return;
  if (slab != slab_) {
    flush();
    slab_ = slab;
  }
  pending_++;
}

void RecordArena::Releaser::flush() {
  if (!slab_) return;
  releaseFrom(slab_, pending_);
  slab_ = nullptr;
  pending_ = 0;
}

int RecordArenaTestAccess::spareSlabs(const RecordArena& arena) {
  return arena.pool_ ? arena.pool_->kept.load() : 0;
}

const void* RecordArenaTestAccess::slabOf(const void* block) {
  return readHeader<RecordArena::Slab>(static_cast<const char*>(block) - RecordArena::kHeader);
}
