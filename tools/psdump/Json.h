// JSON output: one object per record, on one line.
#pragma once

#include <cstdint>
#include <string>

#include "Record.h"
#include "RequestTracker.h"

namespace psdump {

// Appends text as a JSON string. Texts on the wire are the JVM's modified
// UTF-8: well-formed sequences pass through, the two-byte NUL (C0 80) and
// the three-byte surrogate halves become \u escapes, and any byte that is not
// part of a well-formed sequence is shown as \u00XX so that the line always
// stays valid JSON.
void appendJsonString(std::string& out, const std::string& text);

// The length of the well-formed modified UTF-8 sequence of two to four
// bytes at text[i], or 0 if there is none; escape tells whether it stands for
// a code unit (unit) that plain UTF-8 cannot carry (NUL, surrogate halves).
size_t utf8SequenceAt(const std::string& text, size_t i, bool& escape, unsigned& unit);

// {"request":{...}} for a finished request, {"openRequest":{...}} for one
// still open at the end of its connection: conn, thread, the root call's
// kind, name, detail, offset, depth, wallMs, cpuMs, error, incomplete, the
// nested figures and the tree of calls, each call with its startMs from
// the request's begin.
std::string requestToJson(const Request& request, bool open);

// {"conn":C,"packet":P,"packetKind":"data","offset":O,"index":I,"tag":T,
//  "record":"name","type":N,"subtype":S, then the fields in wire order}.
// type and subtype are left out for the count, time and identity records.
std::string recordToJson(const Record& record, uint64_t conn);

}  // namespace psdump
