// Big-endian numbers read from bytes that the caller has checked are there:
// class files and heap dumps store their numbers this way.
#pragma once

#include <cstdint>

inline uint16_t loadBigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

inline uint32_t loadBigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
