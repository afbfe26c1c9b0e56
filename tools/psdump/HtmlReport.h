// The request report as one self-contained HTML page (inline styles and SVG,
// no scripts, fonts or other files): the request table, a latency histogram
// per request name, the slowest requests with their nested calls on a
// timeline, and the counts of unpaired records, events and drop notices.
// Every text that came off the wire is escaped. The page is also
// well-formed XML.
#pragma once

#include <string>

#include "RequestTable.h"
#include "RequestTracker.h"

namespace psdump {

// Appends text escaped for HTML text and attribute values: markup
// characters become entities; bytes that are not well-formed UTF-8, control
// characters and the forms plain UTF-8 cannot carry become U+FFFD.
void appendHtml(std::string& out, const std::string& text);

// The page; table must be finished.
std::string renderHtmlReport(const RequestTable& table, const TrackerCounts& counts);

}  // namespace psdump
