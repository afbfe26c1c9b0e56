// The record layouts of the collector protocol, one per tag: what follows
// the tag up to the end marker 7F 7F, field by field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace psdump {

enum class Op : uint8_t {
  U8,             // one byte, unsigned
  U32,            // four bytes, unsigned
  I32,            // four bytes, two's complement
  I64,            // eight bytes, two's complement
  Text,           // u16 length, then that many bytes
  Blob,           // u16 length, then that many raw bytes (shown in hex)
  Token,          // u16 4, then the 4 bytes of a correlation token
  Head,           // threadId u32, depth u8, wallSeconds u32, wallMicros u32, cpuTime u64
  Mod,            // the monitoring level, one byte
  ClassMethods,   // u32 count; per method: u32 id, text name, text signature
  UnloadMethods,  // u32 count; per method: u32 id
  MqiElements,    // u32 count; per element: u8, u32, u64
};

struct FieldSpec {
  Op op;
  const char* name;
};

// A run of a layout's fields read only to be passed over: fixed bytes, then
// one text (a u16 length and its bytes) when text is set. Reading starts
// at fields[firstField].
struct SkipStep {
  size_t firstField;
  size_t fixed;
  bool text;
};

struct Layout {
  int tag;
  const char* name;
  int type;
  int subtype;
  std::vector<FieldSpec> fields;
  int jmsKind = 0;                   // JMS records: the kind their tag stands for
  const char* operations = nullptr;  // MQ message records: the operations their tag stands for
  // The fields as runs to pass over, for a reader that keeps none; empty
  // for layouts with a token or a list, which must be read field by field.
  std::vector<SkipStep> skip = {};
  bool threadFirst = false;  // the record begins with its thread id
};

// The layout of each tag that may appear inside a data packet; null for
// the others.
const std::array<const Layout*, 256>& layoutsByTag();
// The layout of a tag that may appear inside a data packet, or null.
inline const Layout* findLayout(int tag) {
  return tag >= 0 && tag <= 255 ? layoutsByTag()[static_cast<size_t>(tag)] : nullptr;
}
// Every data-record layout, for tests.
const std::vector<Layout>& allLayouts();

// The name of the thread id field of a record head. One object for the
// whole program, so that a lookup can compare its address before the text.
inline constexpr char kThreadIdField[] = "threadId";

// Tags of the records outside the record table.
constexpr int kCountTag = 0;
constexpr int kTimeTag = 100;
constexpr int kIdentityTag = 101;
constexpr uint32_t kHelloMagic = 2000;
constexpr uint16_t kEndMarker = 0x7F7F;

}  // namespace psdump
