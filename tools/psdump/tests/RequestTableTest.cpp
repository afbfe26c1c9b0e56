// The request table and its text for a terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "RequestTable.h"
#include "TestSupport.h"

using psdump::CallKind;
using psdump::Request;
using psdump::RequestTable;

namespace {

// The smallest value v of the data such that at least p percent of the
// values are <= v, found by counting.
int64_t bruteForce(const std::vector<int64_t>& data, double p) {
  int64_t best = INT64_MAX;
  for (int64_t v : data) {
    size_t atOrBelow = 0;
    for (int64_t w : data) atOrBelow += w <= v ? 1 : 0;
    if (100.0 * static_cast<double>(atOrBelow) >= p * static_cast<double>(data.size()))
      best = std::min(best, v);
  }
  return best;
}

TEST(RequestTable, PercentilesMatchABruteForceCount) {
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 200; ++round) {
    const size_t n = 1 + rng() % 120;
    std::vector<int64_t> data(n);
    const int64_t range = round % 2 == 0 ? 50 : 1000000;  // with and without ties
    for (int64_t& v : data) v = static_cast<int64_t>(rng() % range);
    std::vector<int64_t> sorted = data;
    std::sort(sorted.begin(), sorted.end());
    for (double p : {1.0, 50.0, 95.0, 99.0, 99.9, 100.0}) {
      ASSERT_EQ(psdump::percentile(sorted, p), bruteForce(data, p)) << "n=" << n << " p=" << p;
    }
  }
  EXPECT_EQ(psdump::percentile({}, 50), 0);
}

Request request(CallKind kind, const std::string& name, int64_t wallMicros, bool error) {
  Request q;
  q.root.kind = kind;
  q.root.name = name;
  q.root.beginWall = 5000000;
  q.root.endWall = 5000000 + wallMicros;
  q.root.beginCpu = 0;
  q.root.endCpu = wallMicros * 100;  // a tenth of the wall time, in nanoseconds
  q.root.error = error;
  q.sqlCount = 2;
  q.sqlWall = wallMicros / 2;
  return q;
}

TEST(RequestTable, RowsPerKindAndNameWithTheSlowestRequests) {
  RequestTable table;
  for (int i = 1; i <= 30; ++i) table.add(request(CallKind::Http, "/a", i * 1000, i % 10 == 0));
  table.add(request(CallKind::Ejb, "/a", 500000, false));  // same name, other kind
  table.addOpen();
  table.finish();
  ASSERT_EQ(table.rows().size(), 2u);
  const psdump::RequestRow& a = table.rows()[1];
  EXPECT_EQ(a.kind, CallKind::Http);
  EXPECT_EQ(a.walls.size(), 30u);
  EXPECT_EQ(a.errors, 3u);
  EXPECT_EQ(a.sqlCount, 60u);
  EXPECT_EQ(a.cpuTotal, 465 * 100000);
  ASSERT_EQ(table.slowest().size(), RequestTable::kSlowest);
  EXPECT_EQ(table.slowest()[0].root.kind, CallKind::Ejb);
  EXPECT_EQ(table.slowest()[1].root.wallMicros(), 30000);
  EXPECT_EQ(table.slowest().back().root.wallMicros(), 12000);

  psdump::TrackerCounts counts;
  counts.unpairedEnds[static_cast<size_t>(CallKind::Sql)] = 4;
  counts.drops[3].overflowNotices = 1;
  const std::string text = table.text(counts);
  EXPECT_EQ(text.find("\n{"), std::string::npos);
  EXPECT_CONTAINS(text, "31 finished, 1 still open");
  // http /a: 30 requests, 3 errors, p50 15 ms, p95 29 ms, p99 and max 30 ms,
  // mean CPU 1.55 ms, 2 SQL per request, 232.5 ms of SQL in all.
  EXPECT_CONTAINS(text,
                  "http       30      3       0    15.000    29.000    30.000    30.000    1.550 "
                  "   2.00    232.500 /a\n");
  EXPECT_CONTAINS(text, "unpaired ends (no begin): sql 4\n");
  EXPECT_CONTAINS(text, "drop notices on connection 3: 1 queue overflow");
}

TEST(RequestTable, ManyDistinctNamesShareOneRowPerKind) {
  RequestTable table;
  const size_t names = RequestTable::kMaxRows + 50;
  for (size_t i = 0; i < names; ++i)
    table.add(request(CallKind::Http, "/item?id=" + std::to_string(i), 1000, false));
  table.finish();
  EXPECT_EQ(table.rows().size(), RequestTable::kMaxRows + 1);
  EXPECT_EQ(table.rows()[0].name, "(other names)");
  EXPECT_EQ(table.rows()[0].walls.size(), 50u);
}

TEST(RequestTable, TerminalTextHasNoControlBytesAndCutsAtCharacters) {
  EXPECT_EQ(psdump::printable("a\x1b[2Jb\x7f", 80), "a?[2Jb?");
  // "é" is two bytes: a cut never splits it.
  EXPECT_EQ(psdump::printable(std::string("abcd\xc3\xa9") + "123456", 8), "abcd...");
  std::string ms;
  psdump::appendMillis(ms, -1234567);
  EXPECT_EQ(ms, "-1234.567");
}

}  // namespace
