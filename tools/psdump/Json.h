// JSON output: one object per record, on one line.
#pragma once

#include <cstdint>
#include <string>

#include "Record.h"

namespace psdump {

// Appends text as a JSON string. Texts on the wire are the JVM's modified
// UTF-8: well-formed sequences pass through, the two-byte NUL (C0 80) and
// the three-byte surrogate halves become \u escapes, and any byte that is not
// part of a well-formed sequence is shown as \u00XX so that the line always
// stays valid JSON.
void appendJsonString(std::string& out, const std::string& text);

// {"conn":C,"packet":P,"packetKind":"data","offset":O,"index":I,"tag":T,
//  "record":"name","type":N,"subtype":S, then the fields in wire order}.
// type and subtype are left out for the count, time and identity records.
std::string recordToJson(const Record& record, uint64_t conn);

}  // namespace psdump
