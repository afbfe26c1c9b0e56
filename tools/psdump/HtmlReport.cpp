#include "HtmlReport.h"

#include <algorithm>
#include <cstdio>

#include "Json.h"

namespace psdump {

namespace {

// Rows that get a histogram; the rest are in the table only.
constexpr size_t kMaxHistograms = 40;
constexpr int kBins = 20;
// Bars per timeline of a slow request.
constexpr size_t kMaxBars = 60;

const char kReplacement[] = "&#xFFFD;";

const char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222;background:#fff}"
    "h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.6em}h3{font-size:1em;margin:1.2em 0 .3em}"
    "table{border-collapse:collapse;font-size:.85em}"
    "th,td{border:1px solid #ccc;padding:2px 6px;text-align:right}"
    "td.name,th.name{text-align:left;max-width:40em;overflow-wrap:anywhere}"
    "tr.warn td{background:#fff3e0}"
    "figure{display:inline-block;margin:.4em 1em .4em 0;vertical-align:top}"
    "figcaption{font-size:.8em;max-width:420px;overflow-wrap:anywhere}"
    "svg text{font-size:10px;font-family:sans-serif;fill:#333}"
    "rect.bar{fill:#4a78b5}rect.http{fill:#4a78b5}rect.sql{fill:#d08a2c}"
    "rect.call{fill:#6aa56a}rect.open{fill:#bbb;stroke:#c33;stroke-dasharray:3 2}"
    "p.note{font-size:.85em;color:#555}";

void text(std::string& out, const std::string& s) {
  appendHtml(out, s);
}

std::string millis(int64_t micros) {
  std::string out;
  appendMillis(out, micros);
  return out;
}

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

std::string label(CallKind kind, const std::string& name) {
  return std::string(callKindName(kind)) + " " + (name.empty() ? "-" : name);
}

void appendTable(std::string& out, const RequestTable& table) {
  out +=
      "<table><thead><tr><th>kind</th><th>count</th><th>errors</th><th>possibly "
      "incomplete</th><th>wall p50 ms</th><th>p95 ms</th><th>p99 ms</th><th>max ms</th><th>mean "
      "CPU ms</th><th>SQL per request</th><th>SQL total ms</th><th class=\"name\">name</th></tr>"
      "</thead><tbody>\n";
  for (const RequestRow& row : table.rows()) {
    const uint64_t n = row.walls.size();
    out += row.errors > 0 || row.incomplete > 0 ? "<tr class=\"warn\">" : "<tr>";
    out += "<td>" + std::string(callKindName(row.kind)) + "</td><td>" + std::to_string(n) +
           "</td><td>" + std::to_string(row.errors) + "</td><td>" + std::to_string(row.incomplete) +
           "</td>";
    for (double p : {50.0, 95.0, 99.0, 100.0})
      out += "<td>" + millis(percentile(row.walls, p)) + "</td>";
    out += "<td>" + millis(n == 0 ? 0 : row.cpuTotal / 1000 / static_cast<int64_t>(n)) + "</td>";
    out += "<td>" + number(n == 0 ? 0 : static_cast<double>(row.sqlCount) / n) + "</td>";
    out += "<td>" + millis(row.sqlWall) + "</td><td class=\"name\">";
    text(out, row.name.empty() ? "-" : row.name);
    out += "</td></tr>\n";
  }
  out += "</tbody></table>\n";
}

void appendHistogram(std::string& out, const RequestRow& row) {
  const int width = 420;
  const int height = 140;
  const int plotTop = 10;
  const int plotHeight = 100;
  const int64_t max = std::max<int64_t>(row.walls.empty() ? 0 : row.walls.back(), 0);
  const int64_t binWidth = max / kBins + 1;
  int64_t counts[kBins] = {};
  for (int64_t w : row.walls) {
    const int64_t b = std::max<int64_t>(w, 0) / binWidth;
    ++counts[std::min<int64_t>(b, kBins - 1)];
  }
  const int64_t top = std::max<int64_t>(1, *std::max_element(counts, counts + kBins));
  out += "<figure><figcaption>";
  text(out, label(row.kind, row.name));
  out += "</figcaption><svg xmlns=\"http://www.w3.org/2000/svg\" class=\"histogram\" width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
         std::to_string(width) + " " + std::to_string(height) + "\"><title>";
  text(out, "wall time histogram of " + label(row.kind, row.name));
  out += "</title>";
  const double barWidth = (width - 40.0) / kBins;
  for (int b = 0; b < kBins; ++b) {
    if (counts[b] == 0) continue;
    const double h = static_cast<double>(counts[b]) * plotHeight / static_cast<double>(top);
    out += "<rect class=\"bar\" x=\"" + number(30 + b * barWidth) + "\" y=\"" +
           number(plotTop + plotHeight - h) + "\" width=\"" + number(barWidth - 1) +
           "\" height=\"" + number(h) + "\"><title>" + millis(b * binWidth) + " to " +
           millis((b + 1) * binWidth) + " ms: " + std::to_string(counts[b]) + "</title></rect>";
  }
  out += "<line x1=\"30\" y1=\"110\" x2=\"" + std::to_string(width - 10) +
         "\" y2=\"110\" stroke=\"#333\"/>";
  out += "<text x=\"30\" y=\"124\">0 ms</text><text x=\"" + std::to_string(width - 10) +
         "\" y=\"124\" text-anchor=\"end\">" + millis(binWidth * kBins) + " ms</text>";
  out += "<text x=\"2\" y=\"18\">" + std::to_string(top) + "</text>";
  out += "<text x=\"30\" y=\"137\">" + std::to_string(row.walls.size()) + " requests, p50 " +
         millis(percentile(row.walls, 50)) + " ms, p99 " + millis(percentile(row.walls, 99)) +
         " ms</text>";
  out += "</svg></figure>\n";
}

struct Bar {
  const Call* call;
  int level;
};

void collectBars(const Call& c, int level, std::vector<Bar>& bars) {
  if (bars.size() >= kMaxBars) return;
  bars.push_back({&c, level});
  for (const Call& inner : c.calls) collectBars(inner, level + 1, bars);
}

void appendTimeline(std::string& out, const Request& q, size_t rank) {
  const Call& root = q.root;
  out += "<h3>" + std::to_string(rank) + ". ";
  text(out, label(root.kind, root.name));
  out += ": " + millis(root.wallMicros()) + " ms wall, " + millis(root.cpuNanos() / 1000) +
         " ms CPU, " + std::to_string(q.nestedCalls) + " nested calls (" +
         std::to_string(q.sqlCount) + " SQL, " + millis(q.sqlWall) + " ms)";
  if (root.error) out += ", error";
  if (root.incomplete) out += ", possibly incomplete";
  out +=
      ", connection " + std::to_string(q.conn) + ", thread " + std::to_string(q.thread) + "</h3>\n";
  std::vector<Bar> bars;
  collectBars(root, 0, bars);
  const int labelWidth = 260;
  const int plotWidth = 620;
  const int rowHeight = 16;
  const int height = static_cast<int>(bars.size()) * rowHeight + 20;
  const double span = std::max<int64_t>(root.wallMicros(), 1);
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"timeline\" width=\"" +
         std::to_string(labelWidth + plotWidth + 10) + "\" height=\"" + std::to_string(height) +
         "\"><title>";
  text(out, "timeline of " + label(root.kind, root.name));
  out += "</title>";
  for (size_t i = 0; i < bars.size(); ++i) {
    const Call& c = *bars[i].call;
    const int y = static_cast<int>(i) * rowHeight;
    double start = static_cast<double>(c.beginWall - root.beginWall) / span;
    double length = c.unfinished ? 1.0 - start : static_cast<double>(c.wallMicros()) / span;
    start = std::min(std::max(start, 0.0), 1.0);
    length = std::min(std::max(length, 0.0), 1.0 - start);
    std::string name =
        c.kind == CallKind::Method ? "method " + std::to_string(c.methodId) : label(c.kind, c.name);
    out += "<text x=\"" + std::to_string(4 + bars[i].level * 8) + "\" y=\"" +
           std::to_string(y + 12) + "\">";
    text(out, printable(name, 40));
    out += "</text><rect class=\"";
    out += c.unfinished              ? "open"
           : c.kind == CallKind::Sql ? "sql"
           : bars[i].level == 0      ? "http"
                                     : "call";
    out += "\" x=\"" + number(labelWidth + start * plotWidth) + "\" y=\"" + std::to_string(y + 3) +
           "\" width=\"" + number(std::max(length * plotWidth, 1.0)) + "\" height=\"11\"><title>";
    std::string tip = name + ": start " + millis(c.beginWall - root.beginWall) + " ms, ";
    tip += c.unfinished
               ? std::string("no end record")
               : millis(c.wallMicros()) + " ms wall, " + millis(c.cpuNanos() / 1000) + " ms CPU";
    if (!c.detail.empty()) tip += " (" + c.detail + ")";
    if (c.cancelled) tip += ", closed with its request";
    text(out, tip);
    out += "</title></rect>";
  }
  out += "<text x=\"" + std::to_string(labelWidth) + "\" y=\"" + std::to_string(height - 4) +
         "\">0 ms</text><text x=\"" + std::to_string(labelWidth + plotWidth) + "\" y=\"" +
         std::to_string(height - 4) + "\" text-anchor=\"end\">" + millis(root.wallMicros()) +
         " ms</text></svg>\n";
  if (bars.size() >= kMaxBars || q.omittedCalls > 0) {
    out += "<p class=\"note\">Only the first " + std::to_string(bars.size()) +
           " calls are drawn.</p>\n";
  }
}

void appendCounts(std::string& out, const RequestTable& table, const TrackerCounts& counts) {
  out +=
      "<table><thead><tr><th class=\"name\">kind</th><th>begins without end</th><th>ends "
      "without begin</th></tr></thead><tbody>\n";
  for (size_t k = 0; k < kCallKinds; ++k) {
    if (counts.unpairedBegins[k] == 0 && counts.unpairedEnds[k] == 0) continue;
    out += "<tr><td class=\"name\">" + std::string(callKindName(static_cast<CallKind>(k))) +
           "</td><td>" + std::to_string(counts.unpairedBegins[k]) + "</td><td>" +
           std::to_string(counts.unpairedEnds[k]) + "</td></tr>\n";
  }
  out += "</tbody></table>\n<p>Requests still open at the end: " + std::to_string(table.open()) +
         ". Method records outside requests: " + std::to_string(counts.methodsOutside) + ".</p>\n";
  out +=
      "<h2>Drop notices</h2>\n<table><thead><tr><th>connection</th><th>queue "
      "overflow</th><th>memory gate</th><th>drop summaries</th><th>records "
      "dropped</th><th>open requests marked possibly incomplete</th></tr></thead><tbody>\n";
  for (const auto& d : counts.drops) {
    const ConnectionDrops& c = d.second;
    out += "<tr><td>" + std::to_string(d.first) + "</td><td>" + std::to_string(c.overflowNotices) +
           "</td><td>" + std::to_string(c.gateMarkers) + "</td><td>" +
           std::to_string(c.dropSummaries) + "</td><td>" + std::to_string(c.recordsDropped) +
           "</td><td>" + std::to_string(c.requestsMarked) + "</td></tr>\n";
  }
  out +=
      "</tbody></table>\n<h2>Events</h2>\n<table><thead><tr><th "
      "class=\"name\">record</th><th>count</th></tr></thead><tbody>\n";
  for (const auto& e : counts.events) {
    out += "<tr><td class=\"name\">";
    text(out, e.first);
    out += "</td><td>" + std::to_string(e.second) + "</td></tr>\n";
  }
  out += "</tbody></table>\n";
}

}  // namespace

void appendHtml(std::string& out, const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '&':
          out += "&amp;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&#39;";
          break;
        default:
          if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
            out += kReplacement;
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    bool escape = false;
    unsigned unit = 0;
    const size_t len = utf8SequenceAt(s, i, escape, unit);
    if (len == 0 || escape) {
      out += kReplacement;
      i += len == 0 ? 1 : len;
    } else {
      out.append(s, i, len);
      i += len;
    }
  }
}

std::string renderHtmlReport(const RequestTable& table, const TrackerCounts& counts) {
  std::string out;
  out.reserve(64 * 1024);
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"/>"
      "<title>psdump request report</title><style>";
  out += kStyle;
  out += "</style></head><body>\n<h1>Requests seen by the collector</h1>\n<p>";
  out += std::to_string(table.finished()) + " finished requests in " +
         std::to_string(table.rows().size()) + " rows; " + std::to_string(table.open()) +
         " still open at the end.";
  uint64_t marked = 0;
  uint64_t notices = 0;
  for (const auto& d : counts.drops) {
    marked += d.second.requestsMarked;
    notices += d.second.overflowNotices + d.second.gateMarkers + d.second.dropSummaries;
  }
  out += " Drop notices: " + std::to_string(notices) +
         "; open requests marked possibly incomplete: " + std::to_string(marked) +
         ".</p>\n<h2>Requests by name</h2>\n";
  appendTable(out, table);
  out += "<h2>Wall time histograms</h2>\n<div class=\"histograms\">\n";
  for (size_t i = 0; i < table.rows().size() && i < kMaxHistograms; ++i) {
    appendHistogram(out, table.rows()[i]);
  }
  out += "</div>\n";
  if (table.rows().size() > kMaxHistograms) {
    out += "<p class=\"note\">Histograms of the " + std::to_string(kMaxHistograms) +
           " rows with the most wall time.</p>\n";
  }
  out += "<h2>The slowest requests</h2>\n";
  size_t rank = 0;
  for (const Request& q : table.slowest()) appendTimeline(out, q, ++rank);
  out += "<h2>Unpaired records</h2>\n";
  appendCounts(out, table, counts);
  out += "</body></html>\n";
  return out;
}

}  // namespace psdump
