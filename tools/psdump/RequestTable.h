// Figures over the finished requests, per request kind and name: count,
// errors, wall-time percentiles, mean CPU time and the nested SQL; and the
// slowest requests with their trees. Printed as a text table at the end of
// a run and drawn by the HTML report.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "RequestTracker.h"

namespace psdump {

// The p-th percentile (0 < p <= 100) of ascending values by nearest rank:
// the smallest value that at least p percent of the values do not exceed.
// 0 for no values.
int64_t percentile(const std::vector<int64_t>& sorted, double p);

struct RequestRow {
  CallKind kind = CallKind::Http;
  std::string name;
  std::vector<int64_t> walls;  // wall times in microseconds; ascending after finish()
  uint64_t errors = 0;
  uint64_t incomplete = 0;  // possibly incomplete: records were dropped or lost
  int64_t cpuTotal = 0;     // nanoseconds
  uint64_t sqlCount = 0;
  int64_t sqlWall = 0;    // microseconds
  int64_t wallTotal = 0;  // microseconds
};

class RequestTable {
 public:
  // Distinct names kept per table; requests of further names are counted
  // under "(other names)" of their kind, so a stream of unique URLs cannot
  // exhaust memory.
  static constexpr size_t kMaxRows = 5000;
  static constexpr size_t kSlowest = 20;

  // A finished request; the table keeps it if it is among the slowest.
  void add(Request&& request);
  // An open request at the end of its connection.
  void addOpen() { ++open_; }
  // Sorts the rows (by total wall time, largest first) and their values,
  // and the slowest requests (slowest first). Call once, after the last
  // add and before reading.
  void finish();

  const std::vector<RequestRow>& rows() const { return rows_; }
  const std::vector<Request>& slowest() const { return slowest_; }
  uint64_t finished() const { return finished_; }
  uint64_t open() const { return open_; }

  // The table and the counts of unpaired records, events and drops, as
  // lines of text (none of them begins with '{').
  std::string text(const TrackerCounts& counts) const;

 private:
  std::vector<RequestRow> rows_;
  std::unordered_map<std::string, size_t> index_;
  std::vector<Request> slowest_;
  uint64_t finished_ = 0;
  uint64_t open_ = 0;
};

// Milliseconds with three decimals from microseconds ("12.345").
void appendMillis(std::string& out, int64_t micros);
// Text fit for a terminal: control bytes become '?', cut to at most max
// bytes at a character boundary ("..." marks a cut).
std::string printable(const std::string& text, size_t max);

}  // namespace psdump
