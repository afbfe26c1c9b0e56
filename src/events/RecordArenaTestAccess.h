// What tests reach of a record arena beyond its interface. Included by tests
// only (and by RecordArena.cpp, which defines it).
#pragma once

#include "events/RecordArena.h"

struct RecordArenaTestAccess {
  // The spare slabs the arena's pool holds.
  static int spareSlabs(const RecordArena& arena);
  // The slab a block was carved from; null for a block of its own.
  static const void* slabOf(const void* block);
};
