#include "RequestView.h"

#include <utility>

#include "HtmlReport.h"
#include "Json.h"

namespace psdump {

RequestView::RequestView(bool lines)
    : lines_(lines),
      tracker_(
          [this](Request&& q, bool open) {
            if (forwardRequest_) forwardRequest_(q, open);
            if (lines_) {
              pending_ += requestToJson(q, open);
              pending_ += '\n';
            }
            if (open) {
              table_.addOpen();
            } else {
              table_.add(std::move(q));
            }
          },
          [this](uint64_t conn, const Record& r) {
            if (forwardEvent_) forwardEvent_(conn, r);
            if (!lines_) return;
            pending_ += "{\"event\":";
            pending_ += recordToJson(r, conn);
            pending_ += "}\n";
          }) {}

void RequestView::add(uint64_t conn, Record& record) {
  tracker_.add(conn, record);
}

void RequestView::connectionClosed(uint64_t conn) {
  tracker_.connectionClosed(conn);
}

std::string RequestView::finish() {
  table_.finish();
  return table_.text(tracker_.counts());
}

std::string RequestView::html() const {
  return renderHtmlReport(table_, tracker_.counts());
}

}  // namespace psdump
