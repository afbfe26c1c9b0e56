#include "OtlpExporter.h"

#include <algorithm>
#include <cinttypes>

namespace psdump {

using opentelemetry::proto::collector::trace::v1::ExportTraceServiceRequest;
using opentelemetry::proto::trace::v1::ScopeSpans;

namespace {

constexpr auto kFirstBackoff = std::chrono::milliseconds(100);
constexpr auto kMaxBackoff = std::chrono::seconds(5);
// A Retry-After beyond this is taken as this.
constexpr double kMaxRetryAfterSec = 60;
// Posted bodies kept for reuse.
constexpr size_t kSpareBodies = 4;
// Spans per chunk: enough that the resource each chunk repeats costs little
// (under 1 % of the body), few enough that the chunk's messages stay in the
// cache between building and serialising them.
constexpr int kChunkSpans = 128;

// The scope of a chunk: one resource with one scope.
ScopeSpans& chunkScope(ExportTraceServiceRequest& chunk) {
  ScopeSpans* scope = chunk.add_resource_spans()->add_scope_spans();
  scope->mutable_scope()->set_name("psdump");
  return *scope;
}

bool retryable(const PostResult& r) {
  return !r.connected || r.status == 429 || r.status == 502 || r.status == 503 || r.status == 504;
}

std::chrono::steady_clock::duration seconds(double s) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(s));
}

}  // namespace

OtlpExporter::OtlpExporter(const OtlpOptions& options, std::unique_ptr<Transport> transport,
                           uint64_t salt, FILE* err)
    : options_(options),
      transport_(std::move(transport)),
      mapper_(salt),
      err_(err),
      chunkSpans_(chunkScope(chunk_)),
      body_(std::make_shared<std::string>()) {
  if (options_.batchSpans == 0) options_.batchSpans = 1;
  if (options_.queueTraces == 0) options_.queueTraces = 1;
  sender_ = std::thread(&OtlpExporter::run, this);
}

OtlpExporter::~OtlpExporter() {
  if (!sender_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    drainDeadline_ = Clock::now();
  }
  wake_.notify_all();
  sender_.join();
}

void OtlpExporter::identity(uint64_t conn, const Record& r) {
  opentelemetry::proto::resource::v1::Resource resource;
  SpanMapper::fillResource(conn, r, resource);
  std::string bytes = resource.SerializeAsString();
  std::lock_guard<std::mutex> guard(lock_);
  identities_[conn] = std::move(bytes);
  if (conn == chunkConn_) chunkResourceKnown_ = false;
}

void OtlpExporter::connectionClosed(uint64_t conn) {
  std::lock_guard<std::mutex> guard(lock_);
  identities_.erase(conn);
  if (conn == chunkConn_) chunkResourceKnown_ = false;
}

SpanSlots& OtlpExporter::chunkFor(uint64_t conn) {
  if (conn == chunkConn_ && chunkResourceKnown_) return chunkSpans_;
  // The spans built so far carry the resource they were built under.
  flushChunk();
  chunkConn_ = conn;
  chunkResourceKnown_ = true;
  auto* resource = chunk_.mutable_resource_spans(0)->mutable_resource();
  auto id = identities_.find(conn);
  if (id == identities_.end() || !resource->ParseFromString(id->second)) {
    resource->Clear();
    SpanMapper::fillUnknownResource(conn, *resource);
  }
  return chunkSpans_;
}

void OtlpExporter::request(const Request& q, bool open) {
  std::lock_guard<std::mutex> guard(lock_);
  added(mapper_.addRequest(q, open, chunkFor(q.conn)));
}

void OtlpExporter::traceRecord(uint64_t conn, const Record& r) {
  if (r.type != 6) return;
  std::lock_guard<std::mutex> guard(lock_);
  added(mapper_.addTraceRecord(conn, r, chunkFor(conn)));
}

void OtlpExporter::added(size_t spans) {
  if (batchTraces_ == 0) {
    batchSince_ = Clock::now();
    wake_.notify_all();  // the sender now has a batch to time
  }
  ++batchTraces_;
  batchSpans_ += spans;
  if (chunkSpans_.used() >= kChunkSpans) flushChunk();
  // A batch never holds more traces than the queue may: dropping the oldest
  // batch then always makes room.
  if (batchSpans_ >= options_.batchSpans || batchTraces_ >= options_.queueTraces ||
      body_->size() >= options_.batchBytes) {
    sealLocked();
  }
}

void OtlpExporter::flushChunk() {
  if (chunkSpans_.used() == 0) return;
  // Drop what earlier, larger chunks left beyond this one's spans.
  chunkSpans_.trim();
  // Sized first, then written in place after what the body holds.
  const size_t size = chunk_.ByteSizeLong();
  const size_t at = body_->size();
  body_->resize(at + size);
  chunk_.SerializeWithCachedSizesToArray(reinterpret_cast<uint8_t*>(&(*body_)[at]));
  chunkSpans_.restart();
}

void OtlpExporter::sealLocked() {
  flushChunk();
  if (batchTraces_ == 0) return;
  Sealed s;
  s.id = nextId_++;
  s.traces = batchTraces_;
  s.spans = batchSpans_;
  std::shared_ptr<std::string> body = std::move(body_);
  if (spareBodies_.empty()) {
    body_ = std::make_shared<std::string>();
  } else {
    body_ = std::move(spareBodies_.back());
    spareBodies_.pop_back();
    body_->clear();
  }
  // Room for a batch like this one, so that the chunks of the next are not
  // copied each time the body grows.
  body_->reserve(std::min(body->size(), options_.batchBytes) * 9 / 8);
  if (options_.gzip) {
    auto packed = std::make_shared<std::string>();
    if (gzipCompress(*body, *packed)) {
      if (spareBodies_.size() < kSpareBodies) spareBodies_.push_back(std::move(body));
      body = std::move(packed);
    } else {
      std::fprintf(err_, "psdump: otlp: gzip failed; batch dropped\n");
      counts_.tracesDropped += s.traces;
      counts_.spansDropped += s.spans;
      body.reset();
    }
  }
  if (body != nullptr) {
    s.body = std::move(body);
    queuedTraces_ += s.traces;
    queue_.push_back(std::move(s));
  }
  while (queuedTraces_ > options_.queueTraces && queue_.size() > 1) {
    const Sealed& oldest = queue_.front();
    counts_.tracesDropped += oldest.traces;
    counts_.spansDropped += oldest.spans;
    queuedTraces_ -= oldest.traces;
    queue_.pop_front();
  }
  batchTraces_ = 0;
  batchSpans_ = 0;
  wake_.notify_all();
}

void OtlpExporter::run() {
  const Clock::duration delay = seconds(options_.batchDelaySec);
  std::unique_lock<std::mutex> l(lock_);
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (batchTraces_ > 0 && (stopping_ || now - batchSince_ >= delay)) sealLocked();
    Clock::time_point until = Clock::time_point::max();
    if (batchTraces_ > 0) until = batchSince_ + delay;
    if (queue_.empty()) {
      if (stopping_) break;
      if (until == Clock::time_point::max()) {
        wake_.wait(l);
      } else {
        wake_.wait_until(l, until);
      }
      continue;
    }
    if (stopping_ && now >= drainDeadline_) {
      for (const Sealed& s : queue_) {
        counts_.tracesDropped += s.traces;
        counts_.spansDropped += s.spans;
      }
      queue_.clear();
      queuedTraces_ = 0;
      break;
    }
    if (now < nextAttempt_) {
      until = std::min(until, nextAttempt_);
      if (stopping_) until = std::min(until, drainDeadline_);
      wake_.wait_until(l, until);
      continue;
    }
    const Sealed front = queue_.front();  // shares the body
    l.unlock();
    const PostResult result = transport_->post(*front.body, options_.gzip);
    l.lock();
    settle(front, result, Clock::now());
  }
}

void OtlpExporter::settle(const Sealed& sent, const PostResult& result, Clock::time_point now) {
  const bool atFront = !queue_.empty() && queue_.front().id == sent.id;
  if (result.connected && result.status >= 200 && result.status < 300) {
    ++counts_.posts;
    counts_.tracesSent += sent.traces;
    counts_.spansSent += sent.spans;
    if (atFront) {
      queuedTraces_ -= sent.traces;
      queue_.pop_front();
      if (spareBodies_.size() < kSpareBodies) spareBodies_.push_back(sent.body);
    } else {
      // Dropped from the queue while it was on its way: it arrived after all.
      counts_.tracesDropped -= sent.traces;
      counts_.spansDropped -= sent.spans;
    }
    backoff_ = Clock::duration::zero();
    nextAttempt_ = now;
    lastError_.clear();
    return;
  }
  std::string error =
      result.connected ? "HTTP status " + std::to_string(result.status) : result.error;
  if (retryable(result)) {
    if (!atFront) return;  // dropped meanwhile: nothing left to retry
    ++counts_.retries;
    backoff_ = backoff_ == Clock::duration::zero()
                   ? Clock::duration(kFirstBackoff)
                   : std::min<Clock::duration>(backoff_ * 2, kMaxBackoff);
    Clock::duration wait = backoff_;
    if (result.retryAfterSec >= 0) {
      wait = seconds(std::min(result.retryAfterSec, kMaxRetryAfterSec));
    }
    nextAttempt_ = now + wait;
    if (lastError_.empty()) {  // once per outage
      std::fprintf(err_, "psdump: otlp: %s: %s; retrying\n", options_.url.c_str(), error.c_str());
      std::fflush(err_);
      lastError_ = error;
    }
    return;
  }
  // Any other answer: the back end will not take this batch.
  std::fprintf(err_, "psdump: otlp: %s: %s; %" PRIu64 " spans dropped\n", options_.url.c_str(),
               error.c_str(), sent.spans);
  std::fflush(err_);
  if (atFront) {
    counts_.tracesDropped += sent.traces;
    counts_.spansDropped += sent.spans;
    queuedTraces_ -= sent.traces;
    queue_.pop_front();
  }
  nextAttempt_ = now;
}

std::string OtlpExporter::finish() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!stopping_) {
      stopping_ = true;
      drainDeadline_ = Clock::now() + seconds(options_.drainSec);
    }
  }
  wake_.notify_all();
  if (sender_.joinable()) sender_.join();
  const OtlpCounts c = counts();
  char line[256];
  std::snprintf(line, sizeof line,
                "otlp: %" PRIu64 " traces (%" PRIu64 " spans) sent in %" PRIu64 " posts, %" PRIu64
                " retries, %" PRIu64 " traces (%" PRIu64 " spans) dropped",
                c.tracesSent, c.spansSent, c.posts, c.retries, c.tracesDropped, c.spansDropped);
  return line;
}

OtlpCounts OtlpExporter::counts() {
  std::lock_guard<std::mutex> guard(lock_);
  return counts_;
}

}  // namespace psdump
