// The trace and span ids of the spans psdump exports.
//
// A request that took part in a call between JVMs carries a correlation
// token, and every psdump that sees either side of the call derives the same
// ids from it without talking to the others: the trace id and the span id of
// the invoking call come from the token alone. Every other id comes from
// where the record sat in the stream (the connection and the begin record's
// offset, which are unique within one psdump) and a random salt drawn at
// start-up (which keeps the ids of two psdumps apart).
#pragma once

#include <cstdint>

namespace psdump {

// The 64-bit finaliser of the SplitMix64 generator: a fixed bijection that
// spreads every input bit over the whole output.
uint64_t mix64(uint64_t x);

struct TraceId {
  uint64_t high = 0;
  uint64_t low = 0;
};

// The trace of every request that carries token t.
TraceId tokenTraceId(uint32_t t);
// The span of the invoking call that drew token t; the receiving side's root
// span names it as its parent.
uint64_t tokenCallSpanId(uint32_t t);

class LocalIds {
 public:
  explicit LocalIds(uint64_t salt) : salt_(salt) {}
  // The trace of a request without a token: from its connection and the
  // stream offset of its begin record.
  TraceId traceId(uint64_t conn, uint64_t offset) const;
  // The span of the call whose begin record sat at that offset.
  uint64_t spanId(uint64_t conn, uint64_t offset) const;

 private:
  uint64_t salt_;
};

// The 8 (16) bytes of an id, most significant first, as OTLP carries them.
void putId(uint64_t id, char* out);
void putTraceId(const TraceId& id, char* out);

}  // namespace psdump
