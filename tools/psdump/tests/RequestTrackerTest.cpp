// Request pairing on hand-made streams.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "RecordStream.h"
#include "RequestTracker.h"
#include "StreamDecoder.h"

using psdump::Call;
using psdump::CallKind;
using psdump::Request;
using psdump::RequestTracker;
using psdump_test::Stream;

namespace {

// A tracker and what it handed out.
struct Harness {
  std::vector<Request> finished;
  std::vector<Request> open;
  std::vector<std::string> events;
  RequestTracker tracker{
      [this](Request&& q, bool isOpen) { (isOpen ? open : finished).push_back(std::move(q)); },
      [this](uint64_t, const psdump::Record& r) { events.push_back(r.name); }};

  // Feeds the streams, one connection each (1, 2, ...), then closes them.
  explicit Harness(const std::vector<Stream>& streams) {
    for (size_t c = 0; c < streams.size(); ++c) {
      psdump::DecodeResult d = psdump::decodeAll(streams[c].bytes());
      EXPECT_TRUE(d.ok) << d.error.message;
      for (psdump::Record& r : d.records) tracker.add(c + 1, r);
    }
    for (size_t c = 0; c < streams.size(); ++c) tracker.connectionClosed(c + 1);
  }
  const psdump::TrackerCounts& counts() const { return tracker.counts(); }
};

size_t kind(CallKind k) {
  return static_cast<size_t>(k);
}

// A call tree as text: "name wall/cpu" (methods as "m<id>"), flags !error,
// ~incomplete, ?unfinished (no times), x cancelled, then the nested calls.
std::string tree(const Call& c) {
  std::string out = c.kind == CallKind::Method ? "m" + std::to_string(c.methodId) : c.name;
  if (c.unfinished)
    out += "?";
  else
    out += " " + std::to_string(c.wallMicros()) + "/" + std::to_string(c.cpuNanos());
  out += std::string(c.error ? "!" : "") + (c.incomplete ? "~" : "") + (c.cancelled ? "x" : "");
  if (c.calls.empty()) return out;
  out += "(";
  for (const Call& k : c.calls) out += (&k == &c.calls[0] ? "" : ",") + tree(k);
  return out + ")";
}

TEST(RequestTracker, NestedHttpEjbSqlGiveWallAndCpuPerLevel) {
  Stream s;
  s.httpStart(7, 1, 0, 100, "/shop/cart")
      .ejbBegin(7, 2, 2, 150, "OrderBean.find")
      .sqlBegin(7, 3, 3, 160, "SELECT 1")
      .end(10, 7, 3, 8, 190)
      .sqlBegin(7, 3, 9, 200, "SELECT 2")
      .end(10, 7, 3, 19, 260)
      .end(7, 7, 2, 21, 300)
      .end(5, 7, 1, 25, 340);
  Harness seen({s});
  ASSERT_EQ(seen.finished.size(), 1u);
  EXPECT_TRUE(seen.open.empty());
  const Request& q = seen.finished[0];
  EXPECT_EQ(q.thread, 7u);
  EXPECT_EQ(q.root.kind, CallKind::Http);
  EXPECT_EQ(tree(q.root),
            "/shop/cart 25000/240000(OrderBean.find 19000/150000(SELECT 1 5000/30000,"
            "SELECT 2 10000/60000))");
  EXPECT_EQ(q.root.calls[0].calls[0].detail, "jdbc/ds");
  EXPECT_EQ(q.nestedCalls, 3u);
  EXPECT_EQ(q.sqlCount, 2u);
  EXPECT_EQ(q.sqlWall, 15000);
  for (size_t k = 0; k < seen.counts().unpairedBegins.size(); ++k)
    EXPECT_EQ(seen.counts().unpairedBegins[k] + seen.counts().unpairedEnds[k], 0u);
}

TEST(RequestTracker, CancelledJspClosesTwoLevelsAndAnErrorIsFlagged) {
  Stream s;
  // start, start, then a finish at depth 1: the JSP cancelled its request.
  s.httpStart(1, 1, 0, 0, "/outer").httpStart(1, 2, 1, 10, "/inner").end(5, 1, 1, 6, 50);
  // The outer servlet's own finish then finds nothing open.
  s.end(5, 1, 1, 7, 55);
  // An error record ends a request too, with the error flag.
  s.httpStart(1, 1, 10, 60, "/fails").end(50, 1, 1, 14, 70);
  Harness seen({s});
  ASSERT_EQ(seen.finished.size(), 2u);
  EXPECT_EQ(tree(seen.finished[0].root), "/outer 6000/50000(/inner 5000/40000x)");
  EXPECT_EQ(tree(seen.finished[1].root), "/fails 4000/10000!");
  EXPECT_EQ(seen.counts().unpairedEnds[kind(CallKind::Http)], 1u);
  EXPECT_EQ(seen.counts().unpairedBegins[kind(CallKind::Http)], 0u);
}

TEST(RequestTracker, UnpairedRecordsAreCountedNotLost) {
  Stream s;
  s.end(7, 3, 1, 0, 0);  // EJB end without a begin
  s.httpStart(3, 1, 1, 0, "/a").sqlBegin(3, 2, 2, 0, "lost end");
  // The SQL end was lost; the next SQL begin at the same depth ends it.
  s.sqlBegin(3, 2, 4, 0, "second").end(10, 3, 2, 5, 0).end(5, 3, 1, 6, 0);
  s.httpStart(3, 1, 7, 0, "/never-ends").ejbBegin(3, 2, 8, 0, "Bean");
  Harness seen({s});
  const psdump::TrackerCounts& c = seen.counts();
  EXPECT_EQ(c.unpairedEnds[kind(CallKind::Ejb)], 1u);
  EXPECT_EQ(c.unpairedBegins[kind(CallKind::Sql)], 1u);
  EXPECT_EQ(c.unpairedBegins[kind(CallKind::Http)], 1u);
  EXPECT_EQ(c.unpairedBegins[kind(CallKind::Ejb)], 1u);
  ASSERT_EQ(seen.finished.size(), 1u);
  EXPECT_EQ(tree(seen.finished[0].root), "/a 5000/0~(lost end?,second 1000/0)");
  EXPECT_EQ(seen.finished[0].sqlCount, 1u);
  // The request open at the end is shown, with its open EJB call.
  ASSERT_EQ(seen.open.size(), 1u);
  EXPECT_EQ(tree(seen.open[0].root), "/never-ends?(Bean?)");
}
TEST(RequestTracker, DropNoticeMarksTheRequestsOpenOnItsConnection) {
  Stream one;
  one.httpStart(1, 1, 0, 0, "/done-before").end(5, 1, 1, 1, 0);
  one.httpStart(1, 1, 2, 0, "/open-1").httpStart(2, 1, 2, 0, "/open-2").sqlBegin(2, 2, 3, 0, "q");
  one.drop(0, 0);   // a queue overflowed: thread id 0
  one.drop(2, 0);   // a thread met the closed memory gate
  one.drop(2, 40);  // an event agent trimmed a queue
  one.end(10, 2, 2, 4, 0).end(5, 2, 1, 5, 0).end(5, 1, 1, 6, 0);
  one.httpStart(1, 1, 7, 0, "/after").end(5, 1, 1, 8, 0);
  Stream two;  // another connection is not affected
  two.httpStart(1, 1, 0, 0, "/other").end(5, 1, 1, 9, 0);
  Harness seen({one, two});
  ASSERT_EQ(seen.finished.size(), 5u);
  std::string trees;
  for (const Request& q : seen.finished) trees += tree(q.root) + ";";
  EXPECT_EQ(trees,
            "/done-before 1000/0;/open-2 3000/0~(q 1000/0~);/open-1 4000/0~;/after 1000/0;"
            "/other 9000/0;");
  const psdump::ConnectionDrops& d = seen.counts().drops.at(1);
  EXPECT_EQ(std::vector<uint64_t>({d.overflowNotices, d.gateMarkers, d.dropSummaries,
                                   d.recordsDropped, d.requestsMarked}),
            std::vector<uint64_t>({1, 1, 1, 40, 2}));
  EXPECT_EQ(seen.counts().drops.count(2), 0u);
}

TEST(RequestTracker, CorrelationReceivePairsByOrderAndThreadsInterleave) {
  Stream s;
  // The receive's start carries depth 0, its completion its real depth 1.
  s.receiveStart(5, 0, 10).httpStart(6, 1, 0, 0, "/t6");
  s.sqlBegin(5, 2, 1, 20, "inside receive").sqlBegin(6, 2, 1, 0, "t6 sql");
  s.end(10, 6, 2, 3, 0).end(10, 5, 2, 4, 40);
  s.end(54, 5, 1, 6, 70).end(5, 6, 1, 8, 0);
  s.end(54, 5, 1, 9, 80);  // a second completion has nothing to close
  s.exception("<boom>");
  Harness seen({s});
  ASSERT_EQ(seen.finished.size(), 2u);
  const Call& receive = seen.finished[0].root;
  EXPECT_EQ(seen.finished[0].thread, 5u);
  EXPECT_EQ(receive.kind, CallKind::Receive);
  EXPECT_EQ(receive.detail, "a0000005");
  EXPECT_EQ(tree(receive), " 6000/60000(inside receive 3000/20000)");
  EXPECT_EQ(seen.finished[1].thread, 6u);
  EXPECT_EQ(tree(seen.finished[1].root), "/t6 8000/0(t6 sql 2000/0)");
  EXPECT_EQ(seen.counts().unpairedEnds[kind(CallKind::Receive)], 1u);
  EXPECT_EQ(seen.events, std::vector<std::string>{"exception"});
  EXPECT_EQ(seen.counts().events.at("exception"), 1u);
}

TEST(RequestTracker, MethodRecordsNestByOrderInsideRequests) {
  Stream s;
  s.method(true, 4, 99, 0).method(false, 4, 99, 1);  // outside any request
  s.httpStart(4, 1, 2, 0, "/m").method(true, 4, 10, 3).method(true, 4, 11, 4);
  s.sqlBegin(4, 2, 5, 0, "in method").end(10, 4, 2, 6, 0);
  s.method(false, 4, 11, 7).method(false, 4, 10, 8).method(false, 4, 12, 8);
  s.end(5, 4, 1, 9, 0);
  Harness seen({s});
  ASSERT_EQ(seen.finished.size(), 1u);
  EXPECT_EQ(tree(seen.finished[0].root), "/m 7000/0(m10 5000/0(m11 3000/0(in method 1000/0)))");
  EXPECT_EQ(seen.counts().methodsOutside, 2u);
  EXPECT_EQ(seen.counts().unpairedEnds[kind(CallKind::Method)], 1u);
}

}  // namespace
