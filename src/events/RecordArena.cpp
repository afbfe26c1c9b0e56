#include "events/RecordArena.h"

#include <new>

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

RecordArena::~RecordArena() {
  retire();
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

void* RecordArena::carve(size_t bytes) {
  size_t need = roundUp8(bytes + kHeader);
  if (!current_ || static_cast<size_t>(end_ - next_) < need) {
    retire();
    void* memory = ::operator new(kSlabBytes, std::nothrow);
    if (!memory) return nullptr;
    current_ = ::new (memory) Slab{};
    current_->live.store(kOpen, std::memory_order_relaxed);
    // The blocks start a cache line after the count, which the releasing
    // threads change while this one still writes records here.
    next_ = static_cast<char*>(memory) + kSlabHead;
    end_ = static_cast<char*>(memory) + kSlabBytes;
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
  // acq_rel: whichever thread frees the slab sees every write to its blocks.
  if (slab->live.fetch_sub(unused, std::memory_order_acq_rel) == unused) {
    slab->~Slab();
    ::operator delete(slab);
  }
}

void RecordArena::release(void* block) {
  if (!block) return;
  char* header = static_cast<char*>(block) - kHeader;
  Slab* slab = readHeader<Slab>(header);
  if (!slab) {
    ::operator delete(header);
    return;
  }
  if (slab->live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    slab->~Slab();
    ::operator delete(slab);
  }
}
