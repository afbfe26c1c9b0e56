// The request view of psdump: decoded records in, request trees out. Each
// finished request becomes one JSON line, each single record one event line
// ({"event":{...}}); at the end the request table (text) and the HTML report.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "Record.h"
#include "RequestTable.h"
#include "RequestTracker.h"

namespace psdump {

class RequestView {
 public:
  // lines: whether to produce the JSON lines (the table and the report are
  // made either way).
  explicit RequestView(bool lines);

  // Where every finished request (before it goes into the table) and every
  // single record go as well.
  using RequestForward = std::function<void(const Request& request, bool open)>;
  void forwardTo(RequestForward requests, RequestTracker::EventHandler events) {
    forwardRequest_ = std::move(requests);
    forwardEvent_ = std::move(events);
  }

  // May move the record's texts out.
  void add(uint64_t conn, Record& record);
  void connectionClosed(uint64_t conn);

  // The JSON lines produced since the last call, each ending in '\n'.
  std::string& pending() { return pending_; }

  // Ends the view: the text table and the counts (call once, at the end).
  std::string finish();
  // The HTML report; after finish().
  std::string html() const;

  const RequestTable& table() const { return table_; }
  const TrackerCounts& counts() const { return tracker_.counts(); }

 private:
  bool lines_;
  RequestForward forwardRequest_;
  RequestTracker::EventHandler forwardEvent_;
  std::string pending_;
  RequestTable table_;
  RequestTracker tracker_;
};

}  // namespace psdump
