// Golden byte sequences: the documented examples of the protocol, and one
// hand-made record of every layout, each checked field by field.
#include <gtest/gtest.h>

#include <set>

#include "Layouts.h"
#include "StreamDecoder.h"
#include "TestSupport.h"
#include "Wire.h"

using psdump::DecodeResult;
using psdump::PacketKind;
using psdump::Record;
using psdump_test::decodeBoth;
using psdump_test::Expected;
using psdump_test::fieldsOf;
using psdump_test::hex;
using psdump_test::Wire;

namespace {

const char kMethodEntry27[] =
    "02 00 00 00 01 00 00 00 05 00 00 00 01 00 00 07 D0 00 00 00 00 00 00 00 03 7F 7F";

TEST(DecoderExamples, MethodEntryRecordIs27Bytes) {
  Wire w;
  w.packet(1).raw(hex(kMethodEntry27));
  ASSERT_EQ(w.size(), 7u + 27u);
  DecodeResult r = decodeBoth(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  ASSERT_EQ(r.records.size(), 2u);
  const Record& m = r.records[1];
  EXPECT_STREQ(m.name, "methodEntry");
  EXPECT_EQ(m.tag, 2);
  EXPECT_EQ(m.type, 3);
  EXPECT_EQ(m.subtype, 0);
  EXPECT_EQ(m.offset, 7u);
  EXPECT_EQ(m.length, 27u);
  EXPECT_EQ(fieldsOf(m), (Expected{{"threadId", "1"},
                                   {"methodId", "5"},
                                   {"wallSeconds", "1"},
                                   {"wallMicros", "2000"},
                                   {"cpuTime", "3"}}));
}

TEST(DecoderExamples, DataPacketHeadWithThreeRecords) {
  Wire w;
  w.raw(hex("00 00 00 00 03 7F 7F"));
  for (int i = 0; i < 3; ++i) w.raw(hex(kMethodEntry27));
  DecodeResult r = decodeBoth(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  ASSERT_EQ(r.records.size(), 4u);
  EXPECT_STREQ(r.records[0].name, "count");
  EXPECT_EQ(r.records[0].tag, 0);
  EXPECT_EQ(r.records[0].length, 7u);
  EXPECT_EQ(r.records[0].unsignedValue("count"), 3u);
  for (uint32_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(r.records[i].index, i);
    EXPECT_EQ(r.records[i].packet, 1u);
    EXPECT_EQ(r.records[i].offset, 7u + 27u * (i - 1));
  }
}

TEST(DecoderExamples, HttpStartWithNamesFlagZeroCarriesEmptyNames) {
  Wire w;
  w.packet(1).u8(4).head(1, 1, 10, 20, 30).raw(hex("00 00 00 00 00")).text("/shop?id=1");
  w.text("").u8(2).end();
  DecodeResult r = decodeBoth(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(fieldsOf(r.records[1]), (Expected{{"threadId", "1"},
                                              {"depth", "1"},
                                              {"wallSeconds", "10"},
                                              {"wallMicros", "20"},
                                              {"cpuTime", "30"},
                                              {"namesFlag", "0"},
                                              {"requestName", ""},
                                              {"applicationName", ""},
                                              {"url", "/shop?id=1"},
                                              {"detail", ""},
                                              {"mod", "2"}}));
}

TEST(DecoderExamples, HelloPacketOfVersion602) {
  // 2000, the time record (platform 1, 1, 1700000000123 ms), then the
  // identity record: 65 C8 06 00 02, four texts, port 9090.
  Wire w;
  w.raw(hex("00 00 07 D0 64 01 01 00 00 01 8B CF E5 68 7B 7F 7F 65 C8 06 00 02"));
  w.text("agent-7").text("<NO CLUSTER NAME>").text("node1").text("server1").u32(9090).end();
  DecodeResult r = decodeBoth(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  ASSERT_EQ(r.records.size(), 2u);
  const Record& time = r.records[0];
  EXPECT_EQ(time.packetKind, PacketKind::Hello);
  EXPECT_STREQ(time.name, "time");
  EXPECT_EQ(time.tag, 100);
  EXPECT_EQ(time.offset, 4u);
  EXPECT_EQ(time.length, 13u);
  EXPECT_EQ(fieldsOf(time),
            (Expected{{"platform", "1"}, {"timeKind", "1"}, {"millis", "1700000000123"}}));
  const Record& id = r.records[1];
  EXPECT_STREQ(id.name, "identity");
  EXPECT_EQ(id.offset, 17u);
  EXPECT_EQ(id.packet, 1u);
  EXPECT_EQ(fieldsOf(id), (Expected{{"code", "200"},
                                    {"versionMajor", "6"},
                                    {"versionMinor", "0"},
                                    {"versionMicro", "2"},
                                    {"commandAgentId", "agent-7"},
                                    {"clusterName", "<NO CLUSTER NAME>"},
                                    {"nodeName", "node1"},
                                    {"appServerName", "server1"},
                                    {"adminServerPort", "9090"}}));
}

TEST(DecoderExamples, JmsKindsChooseTagAndTextCount) {
  Wire w;
  w.packet(2);
  w.u8(29).head(1, 0, 1, 2, 3).text("queue/a").text("x").u8(1).end();
  w.u8(25).head(1, 0, 1, 2, 3).text("topic/b").text("y").text("z").u8(1).end();
  DecodeResult r = decodeBoth(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records[1].unsignedValue("kind"), 3u);
  EXPECT_EQ(r.records[1].find("text3"), nullptr);
  EXPECT_EQ(r.records[2].unsignedValue("kind"), 1u);
  EXPECT_EQ(r.records[2].text("text3"), "z");
}

TEST(DecoderExamples, HelloThenDataPacketsNumberedInStreamOrder) {
  Wire w;
  w.raw(hex("00 00 07 D0 64 01 01 00 00 00 00 00 00 00 01 7F 7F 65 C8 01 02 03"));
  w.text("").text("").text("").text("").u32(0).end();
  const size_t helloSize = w.size();
  w.packet(1).raw(hex(kMethodEntry27)).packet(1).raw(hex(kMethodEntry27));
  DecodeResult r = decodeBoth(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  ASSERT_EQ(r.records.size(), 6u);
  EXPECT_EQ(r.records[1].packet, 1u);
  EXPECT_EQ(r.records[2].packet, 2u);
  EXPECT_EQ(r.records[2].offset, helloSize);
  EXPECT_EQ(r.records[5].packet, 3u);
  EXPECT_EQ(r.records[5].offset, helloSize + 2 * (7 + 27) - 27);
}

TEST(DecoderExamples, EmptyStreamAndEmptyPacketEndCleanly) {
  DecodeResult none = decodeBoth({});
  EXPECT_TRUE(none.ok);
  EXPECT_TRUE(none.records.empty());
  Wire w;
  w.packet(0).packet(1).raw(hex(kMethodEntry27));
  DecodeResult r = decodeBoth(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  EXPECT_EQ(r.records.size(), 3u);
}

// --- one record of every layout ------------------------------------------

struct Case {
  int tag;
  Wire body;  // after the tag, without the end marker
  const char* name;
  int type;
  int subtype;
  Expected fields;
};

Wire headBody() {
  return Wire().head(7, 2, 100, 200, 300);
}

Expected withHead(const Expected& rest) {
  Expected e{{"threadId", "7"},
             {"depth", "2"},
             {"wallSeconds", "100"},
             {"wallMicros", "200"},
             {"cpuTime", "300"}};
  e.insert(e.end(), rest.begin(), rest.end());
  return e;
}

Wire concat(Wire a, const Wire& b) {
  a.raw(b.b);
  return a;
}

std::vector<Case> everyLayout() {
  std::vector<Case> c;
  // Class records.
  c.push_back(
      {1,
       Wire()
           .u32(9)
           .text("com/x/A")
           .u32(2)
           .u32(11)
           .text("run")
           .text("()V")
           .u32(12)
           .text("<init>")
           .text("(I)V"),
       "classLoad",
       1,
       3,
       {{"classSeq", "9"}, {"className", "com/x/A"}, {"methodCount", "2"}, {"methods", "[2]"}}});
  c.push_back({12,
               Wire().u32(9).u32(77).u32(3).u32(11).u32(12).u32(13),
               "classUnload",
               1,
               4,
               {{"classSeq", "9"}, {"classId", "77"}, {"methodCount", "3"}, {"methodIds", "[3]"}}});
  // Method records.
  for (int tag : {2, 3}) {
    c.push_back({tag,
                 Wire().u32(7).u32(5).u32(100).u32(200).u64(300),
                 tag == 2 ? "methodEntry" : "methodExit",
                 3,
                 tag - 2,
                 {{"threadId", "7"},
                  {"methodId", "5"},
                  {"wallSeconds", "100"},
                  {"wallMicros", "200"},
                  {"cpuTime", "300"}}});
  }
  // Request records with names.
  c.push_back({4,
               concat(headBody(), Wire().u8(1).text("req").text("app").text("/u").text("d").u8(3)),
               "httpStart", 4, 0,
               withHead({{"namesFlag", "1"},
                         {"requestName", "req"},
                         {"applicationName", "app"},
                         {"url", "/u"},
                         {"detail", "d"},
                         {"mod", "3"}})});
  c.push_back({6, concat(headBody(), Wire().u8(1).text("bean").text("app").text("ejb/a").u8(3)),
               "ejbBegin", 5, 0,
               withHead({{"namesFlag", "1"},
                         {"requestName", "bean"},
                         {"applicationName", "app"},
                         {"url", "ejb/a"},
                         {"mod", "3"}})});
  const struct {
    int tag;
    const char* name;
    int type;
  } named[] = {{112, "portal3Begin", 28}, {114, "portal4Begin", 29}};
  for (const auto& n : named) {
    c.push_back({n.tag, concat(headBody(), Wire().u8(0).text("").text("").text("p").u8(1)), n.name,
                 n.type, 0,
                 withHead({{"namesFlag", "0"},
                           {"requestName", ""},
                           {"applicationName", ""},
                           {"url", "p"},
                           {"mod", "1"}})});
  }
  const struct {
    int tag;
    const char* name;
    int type;
  } portal[] = {{65, "portalPageBegin", 22}, {67, "portletBegin", 23}};
  for (const auto& p : portal) {
    c.push_back({p.tag, concat(headBody(), Wire().text("r").text("a").text("u").text("d").u8(2)),
                 p.name, p.type, 0,
                 withHead({{"requestName", "r"},
                           {"applicationName", "a"},
                           {"url", "u"},
                           {"detail", "d"},
                           {"mod", "2"}})});
  }
  // End records: head and MOD only.
  const struct {
    int tag;
    const char* name;
    int type;
    int subtype;
  } ends[] = {{5, "httpFinish", 4, 1},
              {50, "httpError", 4, 2},
              {7, "ejbEnd", 5, 1},
              {10, "sqlEnd", 7, 1},
              {38, "jcaEnd", 10, 1},
              {34, "jndiEnd", 11, 1},
              {36, "mailEnd", 12, 1},
              {52, "correlationEnd", 14, 1},
              {54, "correlationPoint6", 14, 6},
              {66, "portalPageEnd", 22, 1},
              {68, "portletEnd", 23, 1},
              {113, "portal3End", 28, 1},
              {115, "portal4End", 29, 1},
              {125, "heapAllocationEnd", 30, 1},
              {119, "lock1End", 31, 1},
              {121, "lock2End", 32, 1},
              {123, "lock3End", 33, 1}};
  for (const auto& e : ends) {
    c.push_back({e.tag, concat(headBody(), Wire().u8(3)), e.name, e.type, e.subtype,
                 withHead({{"mod", "3"}})});
  }
  for (int kind = 1; kind <= 4; ++kind) {
    c.push_back({24 + 2 * kind, concat(headBody(), Wire().u8(3)), "jmsEnd", 9, 1,
                 withHead({{"mod", "3"}, {"kind", std::to_string(kind)}})});
  }
  // JMS begin records: three texts for kinds 1 and 2, two for 3 and 4.
  for (int kind = 1; kind <= 4; ++kind) {
    Wire body = headBody();
    body.text("dest").text("t2");
    Expected e = {{"destination", "dest"}, {"text2", "t2"}};
    if (kind <= 2) {
      body.text("t3");
      e.push_back({"text3", "t3"});
    }
    body.u8(2);
    e.push_back({"mod", "2"});
    e.push_back({"kind", std::to_string(kind)});
    c.push_back({23 + 2 * kind, body, "jmsBegin", 9, 0, withHead(e)});
  }
  c.push_back({8,
               Wire().u32(100).u32(200).text("trace-req").u8(3),
               "trace",
               6,
               7,
               {{"wallSeconds", "100"},
                {"wallMicros", "200"},
                {"requestName", "trace-req"},
                {"mod", "3"}}});
  c.push_back({9, concat(headBody(), Wire().u8(3).text("jdbc/ds").text("select 1")), "sqlBegin", 7,
               0,
               withHead({{"mod", "3"}, {"dataSourceName", "jdbc/ds"}, {"sqlText", "select 1"}})});
  c.push_back({13,
               Wire().u32(7).u32(100).u32(200),
               "gcStart",
               8,
               0,
               {{"threadId", "7"}, {"wallSeconds", "100"}, {"wallMicros", "200"}}});
  c.push_back({14,
               Wire().u32(7).u32(100).u32(200).u64(1).u64(2).u64(~uint64_t{0}),
               "gcFinish",
               8,
               1,
               {{"threadId", "7"},
                {"wallSeconds", "100"},
                {"wallMicros", "200"},
                {"usedObjects", "1"},
                {"usedObjectSpace", "2"},
                {"totalObjectSpace", "-1"}}});
  c.push_back({37, concat(headBody(), Wire().text("eis/x").u8(3)), "jcaBegin", 10, 0,
               withHead({{"name", "eis/x"}, {"mod", "3"}})});
  c.push_back({33, concat(headBody(), Wire().u8(3).text("java:comp/env").text("lookup")),
               "jndiBegin", 11, 0,
               withHead({{"mod", "3"}, {"name", "java:comp/env"}, {"text2", "lookup"}})});
  c.push_back({35, concat(headBody(), Wire().u8(3).text("smtp").text("send")), "mailBegin", 12, 0,
               withHead({{"mod", "3"}, {"name", "smtp"}, {"text2", "send"}})});
  c.push_back({39,
               Wire().u32(2).u32(2).u32(5).u32(0xFFFFFFFF).u8(1),
               "samplingRates",
               13,
               7,
               {{"rate1", "2"}, {"rate2", "2"}, {"rate3", "5"}, {"rate4", "-1"}, {"flag", "1"}}});
  for (int tag : {51, 53}) {
    c.push_back({tag, concat(headBody(), Wire().u16(4).raw({0xDE, 0xAD, 0xBE, 0xEF}).u8(3)),
                 tag == 51 ? "correlationBegin" : "correlationPoint5", 14, tag == 51 ? 0 : 5,
                 withHead({{"token", "deadbeef"}, {"mod", "3"}})});
  }
  c.push_back({11,
               Wire().u32(0).u32(1).u32(2).u32(3).u32(4).u32(5).u32(6),
               "dropNotice",
               15,
               7,
               {{"threadId", "0"},
                {"otherBeginDropped", "1"},
                {"otherEndDropped", "2"},
                {"methodEntryDropped", "3"},
                {"methodExitDropped", "4"},
                {"sqlBeginDropped", "5"},
                {"sqlEndDropped", "6"}}});
  c.push_back({40,
               Wire().text("a").text("b").text("c").u64(static_cast<uint64_t>(-5)).u32(6).u64(7),
               "gxr",
               16,
               7,
               {{"text1", "a"},
                {"text2", "b"},
                {"text3", "c"},
                {"value1", "-5"},
                {"number", "6"},
                {"value2", "7"}}});
  c.push_back({41,
               Wire().text("a").text("b").u64(8).u32(2).u8(1).u32(2).u64(3).u8(4).u32(5).u64(6),
               "mqi",
               17,
               7,
               {{"text1", "a"},
                {"text2", "b"},
                {"value", "8"},
                {"elementCount", "2"},
                {"elements", "[2]"}}});
  const struct {
    int tag;
    const char* name;
    int type;
  } numberValue[] = {{61, "portalLogin", 18},
                     {62, "portalAccessControl", 19},
                     {46, "gatewayServlet", 34},
                     {47, "modelBuilding", 35},
                     {48, "pageLoading", 36}};
  for (const auto& n : numberValue) {
    c.push_back(
        {n.tag, Wire().u32(41).u64(42), n.name, n.type, 7, {{"number", "41"}, {"value", "42"}}});
  }
  for (int pairs : {5, 4}) {
    Wire body;
    Expected e;
    for (int i = 1; i <= pairs; ++i) {
      body.u32(static_cast<uint32_t>(i)).u64(static_cast<uint64_t>(100 * i));
      e.push_back({"count" + std::to_string(i), std::to_string(i)});
      e.push_back({"total" + std::to_string(i), std::to_string(100 * i)});
    }
    c.push_back({pairs == 5 ? 63 : 64, body, pairs == 5 ? "credentialVault" : "contentAccess",
                 pairs == 5 ? 20 : 21, 7, e});
  }
  c.push_back({44, Wire().text("up"), "psStatus", 24, 7, {{"status", "up"}}});
  c.push_back({45,
               Wire().text("E").text("msg").text("at x").text("cause"),
               "exception",
               25,
               7,
               {{"text1", "E"}, {"text2", "msg"}, {"text3", "at x"}, {"text4", "cause"}}});
  c.push_back(
      {110, concat(headBody(), Wire().text("QM1").text("Q1").u8(2).u8(3)), "mqRequestBegin", 26, 0,
       withHead({{"queueManager", "QM1"}, {"queueName", "Q1"}, {"code", "2"}, {"mod", "3"}})});
  c.push_back({111, concat(headBody(), Wire().u8(2).u8(3)), "mqRequestEnd", 26, 1,
               withHead({{"code", "2"}, {"mod", "3"}})});
  const struct {
    int tag;
    unsigned is7;
    const char* ops;
  } mqBegin[] = {{57, 1, "7,13"}, {55, 0, "10,11"}};
  for (const auto& m : mqBegin) {
    c.push_back({m.tag,
                 concat(headBody(), Wire().text("id1").u16(3).raw({'a', 0, 0xFF}).u8(m.is7).u8(3)),
                 "mqMessageBegin", 27, 0,
                 withHead({{"messageId", "id1"},
                           {"message", "6100ff"},
                           {"operationIs7", std::to_string(m.is7)},
                           {"mod", "3"},
                           {"operations", m.ops}})});
  }
  for (int tag : {58, 56}) {
    c.push_back({tag, concat(headBody(), Wire().u8(3)), "mqMessageEnd", 27, 1,
                 withHead({{"mod", "3"}, {"operations", tag == 58 ? "7,13" : "10,11"}})});
  }
  c.push_back(
      {124, concat(headBody(), Wire().u32(1).text("java/lang/String").u32(2).u8(3)),
       "heapAllocationBegin", 30, 0,
       withHead({{"number1", "1"}, {"text", "java/lang/String"}, {"number2", "2"}, {"mod", "3"}})});
  for (int tag : {118, 122}) {
    c.push_back({tag, concat(headBody(), Wire().u32(99).text("lockA").u8(3)),
                 tag == 118 ? "lock1Begin" : "lock3Begin", tag == 118 ? 31 : 33, 0,
                 withHead({{"lockId", "99"}, {"lockName", "lockA"}, {"mod", "3"}})});
  }
  c.push_back({120,
               concat(headBody(),
                      Wire().u32(99).text("lockB").u8(5).text("owner").text("waiter").u32(8).u8(3)),
               "lock2Begin", 32, 0,
               withHead({{"lockId", "99"},
                         {"lockName", "lockB"},
                         {"byteValue", "5"},
                         {"text2", "owner"},
                         {"text3", "waiter"},
                         {"number", "8"},
                         {"mod", "3"}})});
  return c;
}

TEST(DecoderLayouts, EveryLayoutDecodesFieldByField) {
  std::set<int> covered;
  for (const Case& c : everyLayout()) {
    SCOPED_TRACE("tag " + std::to_string(c.tag));
    Wire w;
    w.packet(1).u8(static_cast<unsigned>(c.tag)).raw(c.body.b).end();
    DecodeResult r = decodeBoth(w.b);
    ASSERT_TRUE(r.ok) << r.error.message;
    ASSERT_EQ(r.records.size(), 2u);
    const Record& rec = r.records[1];
    EXPECT_EQ(rec.tag, c.tag);
    EXPECT_STREQ(rec.name, c.name);
    EXPECT_EQ(rec.type, c.type);
    EXPECT_EQ(rec.subtype, c.subtype);
    EXPECT_EQ(rec.length, 1 + c.body.size() + 2);
    EXPECT_EQ(fieldsOf(rec), c.fields);
    covered.insert(c.tag);
  }
  std::set<int> all;
  for (const psdump::Layout& l : psdump::allLayouts()) all.insert(l.tag);
  EXPECT_EQ(covered, all);
}

TEST(DecoderLayouts, AllLayoutsBackToBackInOnePacketSurviveAnySplit) {
  const std::vector<Case> cases = everyLayout();
  Wire w;
  w.packet(static_cast<uint32_t>(cases.size()));
  for (const Case& c : cases) w.u8(static_cast<unsigned>(c.tag)).raw(c.body.b).end();
  for (size_t chunk : {0, 1, 2, 3, 5, 13}) {
    DecodeResult r = psdump::decodeAll(w.b, chunk);
    ASSERT_TRUE(r.ok) << "chunk " << chunk << ": " << r.error.message;
    ASSERT_EQ(r.records.size(), cases.size() + 1);
    for (size_t i = 0; i < cases.size(); ++i) {
      EXPECT_EQ(fieldsOf(r.records[i + 1]), cases[i].fields) << "tag " << cases[i].tag;
    }
  }
}

TEST(DecoderLayouts, ClassAndMqiListsKeepEveryElement) {
  Wire w;
  w.packet(3);
  w.u8(1).u32(9).text("com/x/A").u32(2).u32(11).text("run").text("()V").u32(12).text("<init>");
  w.text("(I)V").end();
  w.u8(12).u32(9).u32(77).u32(2).u32(11).u32(12).end();
  w.u8(41).text("a").text("b").u64(8).u32(1).u8(0xFE).u32(0xFFFFFFFF).u64(uint64_t{1} << 40).end();
  DecodeResult r = decodeBoth(w.b);
  ASSERT_TRUE(r.ok) << r.error.message;
  const psdump::Field* methods = r.records[1].find("methods");
  ASSERT_NE(methods, nullptr);
  ASSERT_EQ(methods->items.size(), 2u);
  EXPECT_EQ(psdump_test::show(methods->items[1][0]), "12");
  EXPECT_EQ(psdump_test::show(methods->items[1][1]), "<init>");
  EXPECT_EQ(psdump_test::show(methods->items[1][2]), "(I)V");
  const psdump::Field* ids = r.records[2].find("methodIds");
  ASSERT_NE(ids, nullptr);
  ASSERT_EQ(ids->items.size(), 2u);
  EXPECT_EQ(ids->items[0][0].u, 11u);
  const psdump::Field* elements = r.records[3].find("elements");
  ASSERT_NE(elements, nullptr);
  ASSERT_EQ(elements->items.size(), 1u);
  EXPECT_EQ(psdump_test::show(elements->items[0][0]), "254");
  EXPECT_EQ(psdump_test::show(elements->items[0][1]), "4294967295");
  EXPECT_EQ(psdump_test::show(elements->items[0][2]), "1099511627776");
}

}  // namespace
