#include "Json.h"

#include <charconv>
#include <cstdio>

#include "RequestTable.h"

namespace psdump {

namespace {

void appendEscape(std::string& out, unsigned unit) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", unit & 0xFFFFu);
  out += buf;
}

bool isCont(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

}  // namespace

size_t utf8SequenceAt(const std::string& text, size_t i, bool& escape, unsigned& unit) {
  const size_t n = text.size();
  const auto c0 = static_cast<unsigned char>(text[i]);
  escape = false;
  if (c0 >= 0xC0 && c0 <= 0xDF && i + 1 < n && isCont(static_cast<unsigned char>(text[i + 1]))) {
    const auto c1 = static_cast<unsigned char>(text[i + 1]);
    if (c0 == 0xC0 && c1 == 0x80) {  // the modified UTF-8 NUL
      escape = true;
      unit = 0;
      return 2;
    }
    return c0 >= 0xC2 ? 2 : 0;
  }
  if (c0 >= 0xE0 && c0 <= 0xEF && i + 2 < n && isCont(static_cast<unsigned char>(text[i + 1])) &&
      isCont(static_cast<unsigned char>(text[i + 2]))) {
    const auto c1 = static_cast<unsigned char>(text[i + 1]);
    const auto c2 = static_cast<unsigned char>(text[i + 2]);
    if (c0 == 0xE0 && c1 < 0xA0) return 0;  // overlong
    unit = ((c0 & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (c2 & 0x3Fu);
    escape = unit >= 0xD800 && unit <= 0xDFFF;  // half of a surrogate pair
    return 3;
  }
  if (c0 >= 0xF0 && c0 <= 0xF4 && i + 3 < n && isCont(static_cast<unsigned char>(text[i + 1])) &&
      isCont(static_cast<unsigned char>(text[i + 2])) &&
      isCont(static_cast<unsigned char>(text[i + 3]))) {
    const auto c1 = static_cast<unsigned char>(text[i + 1]);
    if (c0 == 0xF0 && c1 < 0x90) return 0;  // overlong
    if (c0 == 0xF4 && c1 > 0x8F) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

namespace {

void appendHex(std::string& out, const std::string& raw) {
  static const char kDigits[] = "0123456789abcdef";
  out += '"';
  for (char ch : raw) {
    const auto b = static_cast<unsigned char>(ch);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  out += '"';
}

// Fields: a FieldList or a list element's std::vector<Field>.
template <typename Fields>
void appendFields(std::string& out, const Fields& fields, bool leadingComma);

void appendValue(std::string& out, const Field& f) {
  switch (f.kind) {
    case Field::Kind::Unsigned:
      out += std::to_string(f.u);
      break;
    case Field::Kind::Signed:
      out += std::to_string(f.i);
      break;
    case Field::Kind::Text:
      appendJsonString(out, f.bytes);
      break;
    case Field::Kind::Bytes:
      appendHex(out, f.bytes);
      break;
    case Field::Kind::List: {
      out += '[';
      bool first = true;
      for (const std::vector<Field>& item : f.items) {
        if (!first) out += ',';
        first = false;
        if (item.size() == 1 && item[0].name[0] == '\0') {
          appendValue(out, item[0]);
        } else {
          out += '{';
          appendFields(out, item, false);
          out += '}';
        }
      }
      out += ']';
      break;
    }
  }
}

template <typename Fields>
void appendFields(std::string& out, const Fields& fields, bool leadingComma) {
  bool comma = leadingComma;
  for (const Field& f : fields) {
    if (comma) out += ',';
    comma = true;
    appendJsonString(out, f.name);
    out += ':';
    appendValue(out, f);
  }
}

}  // namespace

void appendJsonString(std::string& out, const std::string& text) {
  out += '"';
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    // Plain characters pass in runs.
    size_t run = i;
    while (run < n) {
      const auto c = static_cast<unsigned char>(text[run]);
      if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') break;
      ++run;
    }
    if (run > i) {
      out.append(text, i, run - i);
      i = run;
      if (i == n) break;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          appendEscape(out, c);
      }
      ++i;
      continue;
    }
    bool escape = false;
    unsigned unit = 0;
    const size_t len = utf8SequenceAt(text, i, escape, unit);
    if (len == 0) {
      appendEscape(out, c);
      ++i;
    } else if (escape) {
      appendEscape(out, unit);
      i += len;
    } else {
      out.append(text, i, len);
      i += len;
    }
  }
  out += '"';
}

std::string recordToJson(const Record& r, uint64_t conn) {
  std::string out;
  out.reserve(160);
  out += "{\"conn\":" + std::to_string(conn);
  out += ",\"packet\":" + std::to_string(r.packet);
  out += ",\"packetKind\":\"";
  out += packetKindName(r.packetKind);
  out += "\",\"offset\":" + std::to_string(r.offset);
  out += ",\"index\":" + std::to_string(r.index);
  out += ",\"tag\":" + std::to_string(r.tag);
  out += ",\"record\":";
  appendJsonString(out, r.name);
  if (r.type >= 0) out += ",\"type\":" + std::to_string(r.type);
  if (r.subtype >= 0) out += ",\"subtype\":" + std::to_string(r.subtype);
  appendFields(out, r.fields, true);
  out += '}';
  return out;
}

namespace {

void appendNumber(std::string& out, int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// The call's fields; a root call's (the request's) with extra before its
// nested calls.
void appendCall(std::string& out, const Call& c, int64_t origin, bool root,
                const std::string& extra) {
  out += "\"kind\":\"";
  out += callKindName(c.kind);
  out += "\",\"name\":";
  if (c.kind == CallKind::Method) {
    out += "\"method " + std::to_string(c.methodId) + '"';
  } else {
    appendJsonString(out, c.name);
  }
  if (!c.detail.empty()) {
    out += ",\"detail\":";
    appendJsonString(out, c.detail);
  }
  out += ",\"offset\":";
  appendNumber(out, static_cast<int64_t>(c.offset));
  if (c.depth >= 0) {
    out += ",\"depth\":";
    appendNumber(out, c.depth);
  }
  if (!root) {
    out += ",\"startMs\":";
    appendMillis(out, c.beginWall - origin);
  }
  if (!c.unfinished) {
    out += ",\"wallMs\":";
    appendMillis(out, c.wallMicros());
    out += ",\"cpuMs\":";
    appendMillis(out, c.cpuNanos() / 1000);
  }
  if (root) {
    out += c.error ? ",\"error\":true" : ",\"error\":false";
    out += c.incomplete ? ",\"incomplete\":true" : ",\"incomplete\":false";
  } else {
    if (c.error) out += ",\"error\":true";
    if (c.incomplete) out += ",\"incomplete\":true";
  }
  if (c.cancelled) out += ",\"cancelled\":true";
  if (c.unfinished) out += ",\"unfinished\":true";
  out += extra;
  if (!c.calls.empty()) {
    out += ",\"calls\":[";
    bool first = true;
    for (const Call& inner : c.calls) {
      if (!first) out += ',';
      first = false;
      out += '{';
      appendCall(out, inner, origin, false, std::string());
      out += '}';
    }
    out += ']';
  }
}

}  // namespace

std::string requestToJson(const Request& q, bool open) {
  std::string out;
  out.reserve(256);
  out += open ? "{\"openRequest\":{" : "{\"request\":{";
  out += "\"conn\":" + std::to_string(q.conn) + ",\"thread\":" + std::to_string(q.thread) + ',';
  std::string extra = ",\"nestedCalls\":" + std::to_string(q.nestedCalls);
  if (q.omittedCalls > 0) extra += ",\"omittedCalls\":" + std::to_string(q.omittedCalls);
  extra += ",\"sqlCount\":" + std::to_string(q.sqlCount) + ",\"sqlMs\":";
  appendMillis(extra, q.sqlWall);
  appendCall(out, q.root, q.root.beginWall, true, extra);
  out += "}}";
  return out;
}

}  // namespace psdump
