// The JSON lines and the summary that psdump prints for decoded records.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "Json.h"
#include "StreamDecoder.h"
#include "Summary.h"
#include "TestSupport.h"
#include "Wire.h"

using psdump::DecodeResult;
using psdump_test::hex;
using psdump_test::Wire;

namespace {

std::string jsonText(const std::string& bytes) {
  std::string out;
  psdump::appendJsonString(out, bytes);
  return out;
}

// Escapes what JSON cannot carry raw, keeps UTF-8, decodes the modified
// UTF-8 forms (two-byte NUL, surrogate pairs) and escapes stray bytes so
// that the line stays valid.
TEST(JsonText, EscapesKeepsUtf8AndRepairsStrayBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b\\c", R"("a\"b\\c")"},
      {"l1\nl2\t\r", R"("l1\nl2\t\r")"},
      {std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
      {std::string("a\0b", 3), R"("a\u0000b")"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"\xC0\x80", R"("\u0000")"},
      {"\xED\xA0\xBD\xED\xB8\x80", R"("\ud83d\ude00")"},
      {"\xFF", R"("\u00ff")"},
      {"x\xC3", R"("x\u00c3")"},          // cut sequence at the end
      {"\xC1\xBF", R"("\u00c1\u00bf")"},  // overlong
      {"\xE0\x80\x80", R"("\u00e0\u0080\u0080")"},
      {"\xF4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},
  };
  for (const auto& c : cases) EXPECT_EQ(jsonText(c.first), c.second) << c.first;
}

// The lines of method entries and hello records are checked by the tool test.
TEST(JsonRecord, ListsTokensAndSignedValues) {
  Wire w;
  w.packet(3);
  w.u8(12).u32(9).u32(77).u32(2).u32(11).u32(12).end();
  w.u8(1).u32(9).text("A").u32(1).u32(5).text("m").text("()V").end();
  w.u8(51).head(1, 255, 2, 3, ~uint64_t{0}).u16(4).raw({0, 0x1A, 0xB0, 0xFF}).u8(3).end();
  DecodeResult r = psdump::decodeAll(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  EXPECT_EQ(psdump::recordToJson(r.records[1], 1),
            "{\"conn\":1,\"packet\":1,\"packetKind\":\"data\",\"offset\":7,\"index\":1,\"tag\":12,"
            "\"record\":\"classUnload\",\"type\":1,\"subtype\":4,\"classSeq\":9,\"classId\":77,"
            "\"methodCount\":2,\"methodIds\":[11,12]}");
  EXPECT_CONTAINS(psdump::recordToJson(r.records[2], 1),
                  "\"methodCount\":1,\"methods\":[{\"methodId\":5,\"name\":\"m\",\"signature\":"
                  "\"()V\"}]}");
  EXPECT_CONTAINS(psdump::recordToJson(r.records[3], 1),
                  "\"threadId\":1,\"depth\":255,\"wallSeconds\":2,\"wallMicros\":3,"
                  "\"cpuTime\":-1,\"token\":\"001ab0ff\",\"mod\":3}");
}

TEST(Summary, CountsPacketsRecordsTypesAndThreads) {
  Wire w;
  w.raw(hex("00 00 07 D0 64 01 01 00 00 00 00 00 00 00 01 7F 7F 65 C8 06 00 02"));
  w.text("").text("").text("").text("").u32(0).end();
  w.packet(4);
  w.u8(2).u32(7).u32(5).u32(1).u32(2).u64(3).end();
  w.u8(3).u32(7).u32(5).u32(1).u32(2).u64(3).end();
  w.u8(5).head(8, 1, 1, 2, 3).u8(1).end();
  w.u8(44).text("up").end();
  psdump::Summary s;
  s.connectionOpened();
  DecodeResult r = psdump::decodeAll(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  // Half of the records counted apart and merged, as a connection's own
  // counts join the summary when it closes.
  psdump::Summary part;
  for (size_t i = 0; i < r.records.size(); ++i) (i % 2 ? part : s).add(r.records[i]);
  s.merge(part);
  s.connectionClosed(w.size(), false);
  s.connectionOpened();
  s.connectionClosed(3, true);
  EXPECT_EQ(s.toJson(),
            "{\"summary\":{\"connections\":2,\"malformedConnections\":1,\"bytes\":" +
                std::to_string(w.size() + 3) +
                ",\"helloPackets\":1,\"dataPackets\":1,\"records\":4,\"byRecord\":{\"count\":1,"
                "\"httpFinish\":1,\"identity\":1,\"methodEntry\":1,\"methodExit\":1,"
                "\"psStatus\":1,\"time\":1},\"byType\":{\"3\":2,\"4\":1,\"24\":1},"
                "\"byThread\":{\"7\":2,\"8\":1}}}");
}

}  // namespace
