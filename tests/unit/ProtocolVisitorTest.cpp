// The serialiser's hand-written byte examples, the records it leaves out,
// its cuts and its refusal of records that do not fit. Every layout is
// decoded field by field by the collector's decoder in psdump's round trip.
#include "events/ProtocolVisitor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/ProbeState.h"
#include "support/TestSupport.h"

namespace {

std::string hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < n; i++) {
    if (i) out += ' ';
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

// The head of a request-like record with depth 5.
void stamp(EventRecord& r) {
  r.threadId = 0x01020304;
  r.wallSeconds = 0x11121314;
  r.wallMicros = 0x21222324;
  r.cpuTime = 0x3132333435363738;
}
const std::string HEAD = "01 02 03 04 05 11 12 13 14 21 22 23 24 31 32 33 34 35 36 37 38";

std::vector<uint32_t> savedCounters;
void recordCounter(uint32_t token) {
  savedCounters.push_back(token);
}

class ProtocolVisitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedModLevel = modLevel.load();
    modLevel = 2;
    savedCounters.clear();
  }
  void TearDown() override { modLevel = savedModLevel; }

  // Serialises one record into a large buffer and answers its bytes.
  std::string write(EventRecord& r, WriteResult expected = WriteResult::Written) {
    std::vector<uint8_t> buffer(1 << 18);
    WireCursor c(buffer.data(), buffer.size());
    EXPECT_EQ(visitor.writeRecord(&r, c), expected);
    return hex(buffer.data(), static_cast<size_t>(c.position() - buffer.data()));
  }
  // The same, with the log it wrote.
  std::string writeLogged(EventRecord& r, WriteResult expected, std::string* log) {
    std::string bytes;
    *log = captured([&] { bytes = write(r, expected); });
    return bytes;
  }

  ProtocolVisitor visitor{recordCounter};
  int savedModLevel = 2;
};

template <typename R, typename... A>
std::unique_ptr<R> make(A... args) {
  auto r = std::make_unique<R>(args...);
  stamp(*r);
  r->depth = 5;
  return r;
}

}  // namespace

// The hello records' bytes are decoded field by field in psdump's round
// trip; here the clock read for the time record, and the version numbers.
TEST_F(ProtocolVisitorTest, HelloPacket) {
  uint8_t buffer[17];
  WireCursor now(buffer, sizeof buffer);
  ASSERT_TRUE(visitor.writeTimeRecord(now));
  uint64_t millis = 0;
  for (int i = 7; i < 15; i++) millis = millis << 8 | buffer[i];
  EXPECT_GT(millis, 1600000000000ULL);

  // Numbers the version text lacks are sent as 0; each number as its low byte.
  HelloIdentity id;
  std::vector<uint8_t> out(1024);
  const char* versions[][2] = {{"7", "07 00 00"},      {"6.x.2", "06 00 00"},
                               {"", "00 00 00"},       {"300.2.3", "2C 02 03"},
                               {"-1.0.0", "FF 00 00"}, {"6.0.2-beta", "06 00 02"}};
  for (auto& v : versions) {
    std::strcpy(id.productVersion, v[0]);
    WireCursor again(out.data(), out.size());
    ASSERT_TRUE(visitor.writeIdentityRecord(id, again));
    EXPECT_EQ(hex(out.data() + 2, 3), v[1]) << v[0];
  }
}

// Only a written invoke start hands its counter over; a correlation record
// of a subtype without a tag is left out and not counted, like a JMS record
// of an unknown kind and an MQ message of an unknown operation.
TEST_F(ProtocolVisitorTest, RecordsWithoutATagAreLeftOutWithAWarning) {
  auto invoke = make<CorrelationRequestRecord>(SUBTYPE_BEGIN);
  invoke->token.assign("ab");  // shorter than 4: padded, never over-read
  invoke->tokenCounter = 0xA0000005;
  uint8_t small[10];
  WireCursor c(small, sizeof small);
  EXPECT_EQ(visitor.writeRecord(invoke.get(), c), WriteResult::NoRoom);
  EXPECT_TRUE(savedCounters.empty());
  EXPECT_EQ(write(*invoke), "33 " + HEAD + " 00 04 61 62 00 00 02 7F 7F");
  for (int subtype : {SUBTYPE_END, SUBTYPE_RECEIVE_BEGIN, SUBTYPE_RECEIVE_END}) {
    invoke->subtype = subtype;
    write(*invoke);
  }
  EXPECT_EQ(savedCounters, std::vector<uint32_t>{0xA0000005});

  std::string log;
  for (int subtype : {int{SUBTYPE_ERROR}, int{SUBTYPE_SINGLE}, -1, 99}) {
    invoke->subtype = subtype;
    EXPECT_EQ(writeLogged(*invoke, WriteResult::Empty, &log), "") << subtype;
    EXPECT_CONTAINS(log, "Record of type 14 has no tag for its kind, not sent");
  }
  auto jms = make<JmsRecord>(SUBTYPE_BEGIN);
  jms->kind = 0;
  EXPECT_EQ(writeLogged(*jms, WriteResult::Empty, &log), "");
  EXPECT_CONTAINS(log, "Record of type 9 has no tag for its kind, not sent");
  auto msg = make<MqMessageRecord>(SUBTYPE_END);
  msg->operation = 8;
  EXPECT_EQ(writeLogged(*msg, WriteResult::Empty, &log), "");
  EXPECT_EQ(savedCounters.size(), 1u);

  for (int type : {2, 37, -1}) {
    EventRecord unknown(type, 0, 0);
    EXPECT_EQ(writeLogged(unknown, WriteResult::UnknownType, &log), "");
    EXPECT_CONTAINS(log, "## ERROR: Unknown Event Type, TypeID: " + std::to_string(type));
  }
  ClassRecord noEntry(SUBTYPE_CLASS_LOAD);
  EXPECT_EQ(write(noEntry, WriteResult::Empty), "");
}

// A text that could not be copied goes out as the empty text, so the rest of
// its record stays where the collector looks for it.
TEST_F(ProtocolVisitorTest, ATextThatCouldNotBeCopiedGoesOutEmpty) {
  auto jca = make<JcaRecord>(SUBTYPE_BEGIN);
  jca->name.assign("old");
  EXPECT_FALSE(jca->name.assign("n", static_cast<size_t>(-1)));  // no such memory
  ASSERT_TRUE(jca->name.present());
  EXPECT_EQ(write(*jca), "25 " + HEAD + " 00 00 02 7F 7F");
}

// Texts longer than a 16-bit length can announce are cut at 65535 bytes, or
// just before a character that the cut would split.
TEST_F(ProtocolVisitorTest, TextsAreCutAt65535BytesOnAWholeCharacter) {
  auto sql = make<SqlRecord>(SUBTYPE_BEGIN);
  sql->dataSourceName.assign("");
  const size_t at = 1 + 21 + 1 + 2;  // the SQL text's length field
  for (const std::string last : {"y", "\xC3\xA9", "\xE2\x82\xAC", "\xC0\x80"}) {
    for (size_t shift = 0; shift < last.size(); shift++) {
      // The character's last byte lands on 65535 + shift.
      std::string text(65535 + shift - last.size(), 'x');
      text += last + std::string(10, 'z');
      sql->sqlText.assign(text.c_str(), text.size());
      std::vector<uint8_t> out(1 << 17);
      WireCursor c(out.data(), out.size());
      ASSERT_EQ(visitor.writeRecord(sql.get(), c), WriteResult::Written);
      size_t kept = shift == 0 ? 65535 : 65535 + shift - last.size();
      EXPECT_EQ(out[at] << 8 | out[at + 1], static_cast<int>(kept)) << hex(out.data() + at, 2);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data() + at + 2), kept),
                text.substr(0, kept));
      EXPECT_EQ(hex(out.data() + at + 2 + kept, 2), "7F 7F");
    }
  }
}

// A record is written whole or not at all, and never past the capacity.
TEST_F(ProtocolVisitorTest, RecordsThatDoNotFitAreRefusedWhole) {
  std::vector<std::unique_ptr<EventRecord>> records;
  auto http = make<HttpRequestRecord>(SUBTYPE_BEGIN);
  http->requestName.assign("name");
  http->url.assign("/url");
  records.push_back(std::move(http));
  auto mqi = std::make_unique<MqiRecord>(SUBTYPE_SINGLE);
  mqi->ops.reset(new uint8_t[3]{1, 2, 3});
  mqi->values.reset(new uint32_t[3]{1, 2, 3});
  mqi->times.reset(new int64_t[3]{1, 2, 3});
  mqi->count = 3;
  records.push_back(std::move(mqi));
  auto entry = new ClassEntry();
  entry->copyFlag = 1;
  entry->className.reset(new char[2]{'C', 0});
  entry->methodCount = 2;
  entry->methods.reset(new MethodRecord[2]);
  auto load = std::make_unique<ClassRecord>(SUBTYPE_CLASS_LOAD);
  load->classEntry = entry;
  records.push_back(std::move(load));
  auto msg = make<MqMessageRecord>(SUBTYPE_BEGIN);
  msg->operation = 10;
  msg->message.reset(new uint8_t[100]());
  msg->messageLength = 100;
  records.push_back(std::move(msg));
  records.push_back(std::make_unique<MethodEventRecord>(SUBTYPE_BEGIN));

  for (auto& r : records) {
    std::vector<uint8_t> full(4096);
    WireCursor big(full.data(), full.size());
    ASSERT_EQ(visitor.writeRecord(r.get(), big), WriteResult::Written);
    size_t size = static_cast<size_t>(big.position() - full.data());
    for (size_t capacity = 0; capacity < size; capacity++) {
      std::vector<uint8_t> buffer(size + 16, 0xEE);
      WireCursor c(buffer.data(), capacity);
      ASSERT_EQ(visitor.writeRecord(r.get(), c), WriteResult::NoRoom) << "type " << r->type;
      EXPECT_EQ(c.position(), buffer.data());
      EXPECT_FALSE(c.overrun());
      for (size_t i = capacity; i < buffer.size(); i++) ASSERT_EQ(buffer[i], 0xEE) << i;
    }
    std::vector<uint8_t> exact(size);
    WireCursor c(exact.data(), size);
    EXPECT_EQ(visitor.writeRecord(r.get(), c), WriteResult::Written);
    EXPECT_EQ(exact, std::vector<uint8_t>(full.begin(), full.begin() + size));
  }
}

// Several event agents share the one serialiser, each with its own buffer,
// while the MOD level may change underneath them.
TEST(ProtocolVisitorConcurrency, AgentsSerialiseIntoTheirOwnBuffersAtOnce) {
  ProtocolVisitor visitor(recordCounter);
  auto work = [&visitor](std::vector<uint8_t>* out) {
    SqlRecord sql(SUBTYPE_BEGIN);
    sql.dataSourceName.assign("ds");
    sql.sqlText.assign("select * from t");
    out->assign(100000, 0);
    WireCursor c(out->data(), out->size());
    for (int i = 0; i < 2000; i++) visitor.writeRecord(&sql, c);
    out->resize(static_cast<size_t>(c.position() - out->data()));
  };
  std::vector<uint8_t> a, b;
  std::thread levels([] {
    for (int i = 0; i < 1000; i++) modLevel.store(2 + (i & 1), std::memory_order_relaxed);
    modLevel = 2;
  });
  std::thread first(work, &a), second(work, &b);
  first.join();
  second.join();
  levels.join();
  EXPECT_EQ(a.size(), 2000u * (1 + 21 + 1 + 4 + 17 + 2));
  EXPECT_EQ(a.size(), b.size());
}
