#include "RequestTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace psdump {

int64_t percentile(const std::vector<int64_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  const double n = static_cast<double>(sorted.size());
  auto rank = static_cast<size_t>(std::ceil(p / 100.0 * n - 1e-9));
  rank = std::max<size_t>(1, std::min(rank, sorted.size()));
  return sorted[rank - 1];
}

void appendMillis(std::string& out, int64_t micros) {
  if (micros < 0) {
    out += '-';
    micros = -micros;
  }
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, micros / 1000).ptr);
  const auto frac = static_cast<int>(micros % 1000);
  out += '.';
  out += static_cast<char>('0' + frac / 100);
  out += static_cast<char>('0' + frac / 10 % 10);
  out += static_cast<char>('0' + frac % 10);
}

std::string printable(const std::string& text, size_t max) {
  std::string out;
  size_t end = text.size();
  if (end > max) {
    end = max > 3 ? max - 3 : 0;
    // Do not cut inside a multi-byte character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  }
  out.reserve(end + 3);
  for (size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  }
  if (end < text.size()) out += "...";
  return out;
}

void RequestTable::add(Request&& q) {
  ++finished_;
  const Call& root = q.root;
  std::string key = callKindName(root.kind);
  key += '\n';
  key += root.name;
  auto it = index_.find(key);
  if (it == index_.end()) {
    std::string name = root.name;
    if (rows_.size() >= kMaxRows) {
      key = std::string(callKindName(root.kind)) + "\n\x01";
      name = "(other names)";
      it = index_.find(key);
    }
    if (it == index_.end()) {
      RequestRow row;
      row.kind = root.kind;
      row.name = std::move(name);
      it = index_.emplace(std::move(key), rows_.size()).first;
      rows_.push_back(std::move(row));
    }
  }
  RequestRow& row = rows_[it->second];
  row.walls.push_back(root.wallMicros());
  row.wallTotal += root.wallMicros();
  if (root.error) ++row.errors;
  if (root.incomplete) ++row.incomplete;
  row.cpuTotal += root.cpuNanos();
  row.sqlCount += q.sqlCount;
  row.sqlWall += q.sqlWall;

  if (slowest_.size() < kSlowest) {
    slowest_.push_back(std::move(q));
    return;
  }
  auto fastest = std::min_element(
      slowest_.begin(), slowest_.end(),
      [](const Request& a, const Request& b) { return a.root.wallMicros() < b.root.wallMicros(); });
  if (fastest->root.wallMicros() < root.wallMicros()) *fastest = std::move(q);
}

void RequestTable::finish() {
  for (RequestRow& row : rows_) std::sort(row.walls.begin(), row.walls.end());
  std::stable_sort(rows_.begin(), rows_.end(), [](const RequestRow& a, const RequestRow& b) {
    return a.wallTotal > b.wallTotal;
  });
  index_.clear();  // the rows have moved
  std::stable_sort(slowest_.begin(), slowest_.end(), [](const Request& a, const Request& b) {
    return a.root.wallMicros() > b.root.wallMicros();
  });
}

namespace {

std::string cell(const std::string& text, int width) {
  std::string out = text;
  if (static_cast<int>(out.size()) < width)
    out.insert(0, static_cast<size_t>(width) - out.size(), ' ');
  return out + ' ';
}

std::string millis(int64_t micros) {
  std::string out;
  appendMillis(out, micros);
  return out;
}

std::string ratio(uint64_t total, uint64_t count) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f",
                count == 0 ? 0.0 : static_cast<double>(total) / static_cast<double>(count));
  return buf;
}

void appendKindCounts(std::string& out, const char* title,
                      const std::array<uint64_t, kCallKinds>& counts) {
  std::string list;
  for (size_t k = 0; k < kCallKinds; ++k) {
    if (counts[k] == 0) continue;
    list += list.empty() ? " " : ", ";
    list += callKindName(static_cast<CallKind>(k));
    list += ' ' + std::to_string(counts[k]);
  }
  out += title;
  out += list.empty() ? " none" : list;
  out += '\n';
}

}  // namespace

std::string RequestTable::text(const TrackerCounts& counts) const {
  std::string out = "requests: " + std::to_string(finished_) + " finished, " +
                    std::to_string(open_) + " still open at the end\n";
  out += cell("kind", 10) + cell("count", 8) + cell("errors", 6) + cell("incompl", 7) +
         cell("p50 ms", 9) + cell("p95 ms", 9) + cell("p99 ms", 9) + cell("max ms", 9) +
         cell("cpu ms", 8) + cell("sql/req", 7) + cell("sql ms", 10) + "name\n";
  for (const RequestRow& row : rows_) {
    const uint64_t n = row.walls.size();
    out += cell(callKindName(row.kind), 10) + cell(std::to_string(n), 8) +
           cell(std::to_string(row.errors), 6) + cell(std::to_string(row.incomplete), 7) +
           cell(millis(percentile(row.walls, 50)), 9) + cell(millis(percentile(row.walls, 95)), 9) +
           cell(millis(percentile(row.walls, 99)), 9) +
           cell(millis(row.walls.empty() ? 0 : row.walls.back()), 9) +
           cell(millis(n == 0 ? 0 : row.cpuTotal / 1000 / static_cast<int64_t>(n)), 8) +
           cell(ratio(row.sqlCount, n), 7) + cell(millis(row.sqlWall), 10) +
           (row.name.empty() ? "-" : printable(row.name, 80)) + '\n';
  }
  appendKindCounts(out, "unpaired begins (end never came):", counts.unpairedBegins);
  appendKindCounts(out, "unpaired ends (no begin):", counts.unpairedEnds);
  if (counts.methodsOutside > 0) {
    out += "method records outside requests: " + std::to_string(counts.methodsOutside) + '\n';
  }
  out += "events:";
  if (counts.events.empty()) out += " none";
  bool first = true;
  for (const auto& e : counts.events) {
    out += first ? " " : ", ";
    first = false;
    out += e.first + ' ' + std::to_string(e.second);
  }
  out += '\n';
  if (counts.drops.empty()) out += "drop notices: none\n";
  for (const auto& d : counts.drops) {
    const ConnectionDrops& c = d.second;
    out += "drop notices on connection " + std::to_string(d.first) + ": " +
           std::to_string(c.overflowNotices) + " queue overflow, " + std::to_string(c.gateMarkers) +
           " memory gate, " + std::to_string(c.dropSummaries) + " drop summaries (" +
           std::to_string(c.recordsDropped) + " records dropped); " +
           std::to_string(c.requestsMarked) + " open requests marked possibly incomplete\n";
  }
  return out;
}

}  // namespace psdump
