// The OTLP exporter's queue against a transport that answers as told: what
// is retried, what is dropped and counted, and a batch dropped from the
// queue while it is on its way.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>

#include "OtlpExporter.h"

namespace {

using psdump::PostResult;

// Answers posts from a script (then 200), records the spans of each body
// that got a 2xx, and can hold the first post until released.
class ScriptedTransport : public psdump::Transport {
 public:
  struct Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<PostResult> script;
    bool holdFirst = false;
    bool firstStarted = false;
    int posts = 0;
    std::vector<int> acceptedSpans;  // spans per accepted body
  };

  explicit ScriptedTransport(Shared& shared) : s_(shared) {}

  PostResult post(const std::string& body, bool) override {
    std::unique_lock<std::mutex> l(s_.lock);
    if (++s_.posts == 1 && s_.holdFirst) {
      s_.firstStarted = true;
      s_.changed.notify_all();
      s_.changed.wait(l, [this] { return !s_.holdFirst; });
    }
    PostResult r;
    r.connected = true;
    r.status = 200;
    if (!s_.script.empty()) {
      r = s_.script.front();
      s_.script.pop_front();
    }
    if (r.connected && r.status / 100 == 2) {
      opentelemetry::proto::collector::trace::v1::ExportTraceServiceRequest request;
      EXPECT_TRUE(request.ParseFromString(body));
      int spans = 0;
      for (const auto& rs : request.resource_spans()) {
        for (const auto& ss : rs.scope_spans()) spans += ss.spans_size();
      }
      s_.acceptedSpans.push_back(spans);
    }
    return r;
  }

 private:
  Shared& s_;
};

PostResult answer(bool connected, long status, double retryAfter = -1) {
  PostResult r;
  r.connected = connected;
  r.status = status;
  r.retryAfterSec = retryAfter;
  return r;
}

// A request of one HTTP call with n SQL calls inside: n + 1 spans.
psdump::Request request(uint64_t offset, int sql) {
  psdump::Request q;
  q.conn = 1;
  q.root.kind = psdump::CallKind::Http;
  q.root.offset = offset;
  q.root.name = "/page";
  for (int i = 0; i < sql; ++i) {
    psdump::Call c;
    c.kind = psdump::CallKind::Sql;
    c.offset = offset + 1 + static_cast<uint64_t>(i);
    c.name = "SELECT 1";
    q.root.calls.push_back(c);
  }
  return q;
}

struct Export {
  ScriptedTransport::Shared shared;
  psdump::OtlpOptions options;
  FILE* err = std::tmpfile();

  Export() {
    options.url = "http://127.0.0.1:1/v1/traces";
    options.batchSpans = 2;  // one request of one SQL call per batch
    options.batchDelaySec = 60;
    options.drainSec = 30;
  }
  ~Export() {
    if (err != nullptr) std::fclose(err);
  }
  std::unique_ptr<psdump::OtlpExporter> start() {
    return std::make_unique<psdump::OtlpExporter>(
        options, std::make_unique<ScriptedTransport>(shared), 7, err);
  }
};

TEST(OtlpExporterConcurrency, RetryableAnswersAreRetriedOthersDropTheirBatch) {
  Export run;
  // Refused, then 503 and 429 with Retry-After, then 400 for the next batch.
  run.shared.script = {answer(false, 0), answer(true, 503, 0.05), answer(true, 429, 0),
                       answer(true, 200), answer(true, 400)};
  auto exporter = run.start();
  for (uint64_t i = 0; i < 3; ++i) exporter->request(request(100 * i, 1), false);
  exporter->finish();
  const psdump::OtlpCounts c = exporter->counts();
  EXPECT_EQ(c.retries, 3u);
  EXPECT_EQ(c.tracesSent, 2u);
  EXPECT_EQ(c.spansSent, 4u);
  EXPECT_EQ(c.tracesDropped, 1u) << "the batch answered 400";
  EXPECT_EQ(c.spansDropped, 2u);
  EXPECT_EQ(run.shared.posts, 6);
  EXPECT_EQ(run.shared.acceptedSpans, (std::vector<int>{2, 2}));
}

TEST(OtlpExporterConcurrency, TheQueueBoundDropsTheOldestEvenWhileItIsOnItsWay) {
  Export run;
  run.options.queueTraces = 3;
  run.shared.holdFirst = true;
  auto exporter = run.start();
  exporter->request(request(0, 1), false);
  {
    std::unique_lock<std::mutex> l(run.shared.lock);
    run.shared.changed.wait(l, [&] { return run.shared.firstStarted; });
  }
  // Eight more batches while the first is on its way: the queue keeps the
  // newest three, the first (still posting) is dropped from it too.
  for (uint64_t i = 1; i <= 8; ++i) exporter->request(request(100 * i, 1), false);
  {
    std::lock_guard<std::mutex> l(run.shared.lock);
    run.shared.holdFirst = false;
    run.shared.changed.notify_all();
  }
  exporter->finish();
  const psdump::OtlpCounts c = exporter->counts();
  // The first arrived after all: sent, not dropped.
  EXPECT_EQ(c.tracesSent, 4u);
  EXPECT_EQ(c.tracesDropped, 5u);
  EXPECT_EQ(c.tracesSent + c.tracesDropped, 9u);
  EXPECT_EQ(run.shared.acceptedSpans.size(), 4u);
}

TEST(OtlpExporterConcurrency, WhatIsStillQueuedWhenTheDrainTimeEndsIsDropped) {
  Export run;
  run.options.drainSec = 0.2;
  for (int i = 0; i < 50; ++i) run.shared.script.push_back(answer(false, 0));
  auto exporter = run.start();
  for (uint64_t i = 0; i < 4; ++i) exporter->request(request(100 * i, 2), false);
  exporter->finish();
  const psdump::OtlpCounts c = exporter->counts();
  EXPECT_EQ(c.tracesSent, 0u);
  EXPECT_EQ(c.tracesDropped, 4u);
  EXPECT_EQ(c.spansDropped, 12u);
  EXPECT_GE(c.retries, 1u);
}

}  // namespace
