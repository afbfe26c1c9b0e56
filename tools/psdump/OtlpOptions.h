// What the OTLP export is told on the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace psdump {

struct OtlpOptions {
  std::string url;               // e.g. http://127.0.0.1:4318/v1/traces; empty: no export
  size_t batchSpans = 2048;      // a batch is sealed once it holds this many spans
  size_t batchBytes = 4u << 20;  // or once its body is this large
  double batchDelaySec = 1.0;    // or once its first trace waited this long
  uint64_t queueTraces = 10000;  // traces kept while the back end is away
  bool gzip = false;             // Content-Encoding: gzip
  double drainSec = 10;          // how long the end waits for the queue to empty
  double timeoutSec = 10;        // per post
};

}  // namespace psdump
