// Forwards request trees to an OpenTelemetry back end over OTLP/HTTP.
//
// Finished requests are turned into spans at once and serialised into the
// body of the open batch a chunk at a time; a batch is sealed (compressed
// when asked for) when it holds enough spans or bytes or has waited long
// enough, and joins a queue that a sender thread posts in order. A post
// that fails to connect or is answered 429, 502, 503 or 504 is retried
// after a growing pause (or the one Retry-After asks for). The queue holds
// at most a given number of traces: when the back end stays away, the
// oldest batches are dropped and counted. At the end the sender gets a
// bounded time to empty the queue; what is left is dropped and counted too.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "HttpTransport.h"
#include "OtlpOptions.h"
#include "Record.h"
#include "RequestSink.h"
#include "RequestTracker.h"
#include "SpanMapper.h"
#include "opentelemetry/proto/collector/trace/v1/trace_service.pb.h"

namespace psdump {

struct OtlpCounts {
  uint64_t tracesSent = 0;
  uint64_t spansSent = 0;
  uint64_t posts = 0;    // posts the back end accepted
  uint64_t retries = 0;  // posts that failed and were tried again
  uint64_t tracesDropped = 0;
  uint64_t spansDropped = 0;
};

class OtlpExporter : public RequestSink {
 public:
  // Starts the sender thread.
  OtlpExporter(const OtlpOptions& options, std::unique_ptr<Transport> transport, uint64_t salt,
               FILE* err);
  ~OtlpExporter() override;

  // The resource of a connection, from the identity record of its hello.
  void identity(uint64_t conn, const Record& r) override;
  void connectionClosed(uint64_t conn) override;
  void request(const Request& q, bool open) override;
  void traceRecord(uint64_t conn, const Record& r) override;

  // Seals the last batch, gives the sender the drain time to post what is
  // queued and stops it. Returns the summary line.
  std::string finish() override;

  OtlpCounts counts();

 private:
  struct Sealed {
    uint64_t id = 0;
    std::shared_ptr<std::string> body;
    uint64_t traces = 0;
    uint64_t spans = 0;
  };
  using Clock = std::chrono::steady_clock;

  // The chunk to add a trace of conn to.
  SpanSlots& chunkFor(uint64_t conn);
  void added(size_t spans);
  // Serialises the chunk onto the open body.
  void flushChunk();
  void sealLocked();
  void run();
  // The outcome of one post of the front batch.
  void settle(const Sealed& sent, const PostResult& result, Clock::time_point now);

  OtlpOptions options_;
  std::unique_ptr<Transport> transport_;
  SpanMapper mapper_;
  FILE* err_;

  std::mutex lock_;
  std::condition_variable wake_;
  // The open batch is its body so far: chunks of spans, each serialised
  // as an ExportTraceServiceRequest of one resource (the connection's) and
  // one scope. Serialised one after another they read as one request whose
  // resource_spans are those of every chunk, which any OTLP receiver takes.
  // A chunk is serialised as soon as it holds kChunkSpans spans, while its
  // messages are still in the cache, and the next chunk is built over the
  // same messages (a span's strings and attributes keep their storage), so
  // that building and serialising a batch allocates almost nothing and the
  // message tree stays small however large the batch.
  opentelemetry::proto::collector::trace::v1::ExportTraceServiceRequest chunk_;
  SpanSlots chunkSpans_;
  uint64_t chunkConn_ = 0;           // the connection whose resource chunk_ carries
  bool chunkResourceKnown_ = false;  // chunk_'s resource is chunkConn_'s current one
  std::shared_ptr<std::string> body_;
  uint64_t batchTraces_ = 0;
  uint64_t batchSpans_ = 0;
  Clock::time_point batchSince_;
  std::unordered_map<uint64_t, std::string> identities_;  // serialised Resource by connection
  std::deque<Sealed> queue_;
  // Bodies that were posted, kept for the next batches to serialise into.
  std::vector<std::shared_ptr<std::string>> spareBodies_;
  uint64_t queuedTraces_ = 0;
  uint64_t nextId_ = 1;
  Clock::time_point nextAttempt_;
  Clock::duration backoff_{};
  bool stopping_ = false;
  Clock::time_point drainDeadline_;
  std::string lastError_;
  OtlpCounts counts_;
  std::thread sender_;
};

}  // namespace psdump
