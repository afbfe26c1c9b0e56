#include "TraceIds.h"

namespace psdump {

namespace {

// What the token is mixed with for each id it yields ("HALD", "TRAC",
// "CALL" in the high half), so that the three ids of one token differ.
constexpr uint64_t kTraceHighSeed = 0x48414C4400000000ull;
constexpr uint64_t kTraceLowSeed = 0x5452414300000000ull;
constexpr uint64_t kCallSeed = 0x43414C4C00000000ull;

// An id of all zero bytes is invalid in OTLP.
uint64_t nonZero(uint64_t id) {
  return id == 0 ? 1 : id;
}

}  // namespace

uint64_t mix64(uint64_t x) {
  uint64_t z = x + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

TraceId tokenTraceId(uint32_t t) {
  TraceId id;
  id.high = mix64(kTraceHighSeed | t);
  id.low = nonZero(mix64(kTraceLowSeed | t));
  return id;
}

uint64_t tokenCallSpanId(uint32_t t) {
  return nonZero(mix64(kCallSeed | t));
}

TraceId LocalIds::traceId(uint64_t conn, uint64_t offset) const {
  const uint64_t key = mix64(salt_ + conn) ^ offset;
  TraceId id;
  id.high = mix64(key ^ kTraceHighSeed);
  id.low = nonZero(mix64(key ^ kTraceLowSeed));
  return id;
}

uint64_t LocalIds::spanId(uint64_t conn, uint64_t offset) const {
  return nonZero(mix64(mix64(salt_ + conn) ^ offset));
}

void putId(uint64_t id, char* out) {
  for (int i = 7; i >= 0; --i) {
    out[i] = static_cast<char>(id & 0xFF);
    id >>= 8;
  }
}

void putTraceId(const TraceId& id, char* out) {
  putId(id.high, out);
  putId(id.low, out + 8);
}

}  // namespace psdump
