#include "events/ProtocolVisitor.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/ProbeMgr.h"
#include "config/Identity.h"
#include "config/ProbeState.h"

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

// The base fields every request-like test record carries, and the 21-byte
// head they give with depth d.
void stamp(EventRecord& r) {
  r.threadId = 0x01020304;
  r.wallSeconds = 0x11121314;
  r.wallMicros = 0x21222324;
  r.cpuTime = 0x3132333435363738;
}
std::string head(int depth) {
  const uint8_t d = static_cast<uint8_t>(depth);
  return "01 02 03 04 " + hex(&d, 1) + " 11 12 13 14 21 22 23 24 31 32 33 34 35 36 37 38";
}
const std::string HEAD = head(5);

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
    std::vector<uint8_t> buffer(1 << 20);
    WireCursor c(buffer.data(), buffer.size());
    EXPECT_EQ(visitor.writeRecord(&r, c), expected);
    return hex(buffer.data(), static_cast<size_t>(c.position() - buffer.data()));
  }

  ProtocolVisitor visitor{recordCounter};
  int savedModLevel = 2;
};

template <typename R, typename... A>
std::unique_ptr<R> make(A... args) {
  auto r = std::make_unique<R>(args...);
  stamp(*r);
  return r;
}

}  // namespace

TEST_F(ProtocolVisitorTest, DataPacketHeadCarriesTheCount) {
  uint8_t packet[7];
  WireCursor c(packet, sizeof packet);
  ASSERT_TRUE(visitor.writeCountRecord(3, c));
  EXPECT_EQ(hex(packet, 7), "00 00 00 00 03 7F 7F");
}

TEST_F(ProtocolVisitorTest, MethodRecords) {
  MethodEventRecord entry(SUBTYPE_BEGIN);
  entry.threadId = 1;
  entry.methodId = 5;
  entry.wallSeconds = 1;
  entry.wallMicros = 2000;
  entry.cpuTime = 3;
  EXPECT_EQ(write(entry),
            "02 00 00 00 01 00 00 00 05 00 00 00 01 00 00 07 D0 00 00 00 00 00 00 00 03 7F 7F");
  MethodEventRecord exit(SUBTYPE_END);
  exit.methodId = 5;
  EXPECT_EQ(write(exit),
            "03 00 00 00 00 00 00 00 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 7F 7F");
}

TEST_F(ProtocolVisitorTest, HttpRecords) {
  // Both names equal to the url: flag 0 and two empty names.
  auto start = make<HttpRequestRecord>(SUBTYPE_BEGIN);
  start->depth = 1;
  start->requestName.assign("/x");
  start->applicationName.assign("/x");
  start->url.assign("/x");
  start->detail.assign("");
  EXPECT_EQ(write(*start), "04 " + head(1) + " 00 00 00 00 00 00 02 2F 78 00 00 02 7F 7F");

  // One name differs: flag 1 and the names as stored; an absent detail is
  // left out entirely, so the MOD byte follows the url.
  start->depth = 5;
  start->applicationName.assign("a");
  start->detail.release();
  EXPECT_EQ(write(*start), "04 " + HEAD + " 01 00 02 2F 78 00 01 61 00 02 2F 78 02 7F 7F");

  auto finish = make<HttpRequestRecord>(SUBTYPE_END);
  finish->depth = 5;
  finish->requestName.assign("ignored");
  EXPECT_EQ(write(*finish), "05 " + HEAD + " 02 7F 7F");

  auto error = make<HttpRequestRecord>(SUBTYPE_ERROR);
  error->depth = 5;
  EXPECT_EQ(write(*error), "32 " + HEAD + " 02 7F 7F");
}

TEST_F(ProtocolVisitorTest, EjbBeginCutsItsUrlAtTheQuestionMark) {
  auto begin = make<EjbRequestRecord>(SUBTYPE_BEGIN);
  begin->depth = 5;
  begin->requestName.assign("n");
  begin->applicationName.assign("app");
  begin->url.assign("a/b?x=1");
  EXPECT_EQ(write(*begin), "06 " + HEAD + " 01 00 01 6E 00 03 61 70 70 00 03 61 2F 62 02 7F 7F");
  EXPECT_STREQ(begin->url.get(), "a/b");

  // The names are compared with the url before the cut.
  auto same = make<EjbRequestRecord>(SUBTYPE_BEGIN);
  same->depth = 5;
  same->requestName.assign("a/b?x=1");
  same->applicationName.assign("a/b?x=1");
  same->url.assign("a/b?x=1");
  EXPECT_EQ(write(*same), "06 " + HEAD + " 00 00 00 00 00 00 03 61 2F 62 02 7F 7F");

  auto cutNames = make<EjbRequestRecord>(SUBTYPE_BEGIN);
  cutNames->depth = 5;
  cutNames->requestName.assign("a/b");
  cutNames->applicationName.assign("a/b");
  cutNames->url.assign("a/b?x=1");
  EXPECT_EQ(write(*cutNames),
            "06 " + HEAD + " 01 00 03 61 2F 62 00 03 61 2F 62 00 03 61 2F 62 02 7F 7F");

  auto end = make<EjbRequestRecord>(SUBTYPE_END);
  end->depth = 5;
  end->url.assign("a/b?x=1");
  EXPECT_EQ(write(*end), "07 " + HEAD + " 02 7F 7F");
  EXPECT_STREQ(end->url.get(), "a/b?x=1");  // only begin records are cut
}

TEST_F(ProtocolVisitorTest, TraceSqlAndGcRecords) {
  auto trace = make<TraceRequestRecord>(SUBTYPE_SINGLE);
  trace->requestName.assign("t");
  EXPECT_EQ(write(*trace), "08 11 12 13 14 21 22 23 24 00 01 74 02 7F 7F");

  auto sqlBegin = make<SqlRecord>(SUBTYPE_BEGIN);
  sqlBegin->depth = 5;
  sqlBegin->dataSourceName.assign("d");
  sqlBegin->sqlText.assign("s");
  EXPECT_EQ(write(*sqlBegin), "09 " + HEAD + " 02 00 01 64 00 01 73 7F 7F");
  auto sqlEnd = make<SqlRecord>(SUBTYPE_END);
  sqlEnd->depth = 5;
  EXPECT_EQ(write(*sqlEnd), "0A " + HEAD + " 02 7F 7F");

  auto gcStart = make<GcRecord>(SUBTYPE_BEGIN);
  EXPECT_EQ(write(*gcStart), "0D 01 02 03 04 11 12 13 14 21 22 23 24 7F 7F");
  auto gcFinish = make<GcRecord>(SUBTYPE_END);
  gcFinish->usedObjects = 1;
  gcFinish->usedObjectSpace = 2;
  gcFinish->totalObjectSpace = 0x0102030405060708;
  EXPECT_EQ(write(*gcFinish),
            "0E 01 02 03 04 11 12 13 14 21 22 23 24 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 "
            "02 01 02 03 04 05 06 07 08 7F 7F");
}

TEST_F(ProtocolVisitorTest, JmsKindChoosesTagAndThirdText) {
  auto jms = make<JmsRecord>(SUBTYPE_BEGIN);
  jms->depth = 5;
  jms->destination.assign("d");
  jms->text2.assign("e");
  jms->text3.assign("f");
  const std::string three = " 00 01 64 00 01 65 00 01 66 02 7F 7F";
  const std::string two = " 00 01 64 00 01 65 02 7F 7F";
  jms->kind = 1;
  EXPECT_EQ(write(*jms), "19 " + HEAD + three);
  jms->kind = 2;
  EXPECT_EQ(write(*jms), "1B " + HEAD + three);
  jms->kind = 3;
  EXPECT_EQ(write(*jms), "1D " + HEAD + two);
  jms->kind = 4;
  EXPECT_EQ(write(*jms), "1F " + HEAD + two);
  // A kind without a tag would be written with tag 0 and read by the
  // collector as a packet head: it is left out and not counted.
  jms->kind = 9;
  EXPECT_EQ(write(*jms, WriteResult::Empty), "");
  jms->kind = 0;
  EXPECT_EQ(write(*jms, WriteResult::Empty), "");

  auto end = make<JmsRecord>(SUBTYPE_END);
  end->depth = 5;
  end->kind = 1;
  EXPECT_EQ(write(*end), "1A " + HEAD + " 02 7F 7F");
  end->kind = 4;
  EXPECT_EQ(write(*end), "20 " + HEAD + " 02 7F 7F");
}

TEST_F(ProtocolVisitorTest, JcaJndiAndMailRecords) {
  auto jca = make<JcaRecord>(SUBTYPE_BEGIN);
  jca->depth = 5;
  jca->name.assign("n");
  EXPECT_EQ(write(*jca), "25 " + HEAD + " 00 01 6E 02 7F 7F");
  jca->subtype = SUBTYPE_END;
  EXPECT_EQ(write(*jca), "26 " + HEAD + " 02 7F 7F");

  auto jndi = make<JndiRecord>(SUBTYPE_BEGIN);
  jndi->depth = 5;
  jndi->name.assign("n");
  jndi->text2.assign("t");
  EXPECT_EQ(write(*jndi), "21 " + HEAD + " 02 00 01 6E 00 01 74 7F 7F");
  jndi->subtype = SUBTYPE_END;
  EXPECT_EQ(write(*jndi), "22 " + HEAD + " 02 7F 7F");

  auto mail = make<MailRecord>(SUBTYPE_BEGIN);
  mail->depth = 5;
  mail->name.assign("n");
  mail->text2.assign("t");
  EXPECT_EQ(write(*mail), "23 " + HEAD + " 02 00 01 6E 00 01 74 7F 7F");
  mail->subtype = SUBTYPE_END;
  EXPECT_EQ(write(*mail), "24 " + HEAD + " 02 7F 7F");
}

TEST_F(ProtocolVisitorTest, SamplingRatesAndDropNotice) {
  auto rates = make<SamplingRatesRecord>(SUBTYPE_SINGLE);
  rates->rates[0] = 2;
  rates->rates[1] = 2;
  rates->rates[2] = -1;
  rates->rates[3] = 0x01020304;
  rates->flag = 1;
  EXPECT_EQ(write(*rates), "27 00 00 00 02 00 00 00 02 FF FF FF FF 01 02 03 04 01 7F 7F");
  rates->flag = 2;
  EXPECT_EQ(write(*rates), "27 00 00 00 02 00 00 00 02 FF FF FF FF 01 02 03 04 00 7F 7F");

  auto drop = make<DropNoticeRecord>(SUBTYPE_SINGLE);
  for (int i = 0; i < 6; i++) drop->counts[i] = i + 1;
  EXPECT_EQ(write(*drop),
            "0B 01 02 03 04 00 00 00 01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00 05 00 00 00 "
            "06 7F 7F");
}

TEST_F(ProtocolVisitorTest, CorrelationRecordsAndTheCounterHandOver) {
  auto invoke = make<CorrelationRequestRecord>(SUBTYPE_BEGIN);
  invoke->depth = 5;
  const uint8_t token[4] = {0xA0, 0x00, 0x00, 0x05};
  invoke->token.assign(token, 4);
  invoke->tokenCounter = 0xA0000005;
  EXPECT_EQ(write(*invoke), "33 " + HEAD + " 00 04 A0 00 00 05 02 7F 7F");
  EXPECT_EQ(savedCounters, std::vector<uint32_t>{0xA0000005});

  // A received token shorter than 4 bytes is padded, never over-read.
  auto receive = make<CorrelationRequestRecord>(SUBTYPE_RECEIVE_BEGIN);
  receive->depth = 5;
  receive->token.assign("ab");
  EXPECT_EQ(write(*receive), "35 " + HEAD + " 00 04 61 62 00 00 02 7F 7F");
  receive->token.release();
  EXPECT_EQ(write(*receive), "35 " + HEAD + " 00 04 00 00 00 00 02 7F 7F");

  auto invokeEnd = make<CorrelationRequestRecord>(SUBTYPE_END);
  invokeEnd->depth = 5;
  EXPECT_EQ(write(*invokeEnd), "34 " + HEAD + " 02 7F 7F");
  auto receiveEnd = make<CorrelationRequestRecord>(SUBTYPE_RECEIVE_END);
  receiveEnd->depth = 5;
  receiveEnd->token.assign("text");
  EXPECT_EQ(write(*receiveEnd), "36 " + HEAD + " 02 7F 7F");
  EXPECT_EQ(savedCounters.size(), 1u);  // only invoke starts hand over

  // A record that does not fit hands nothing over.
  uint8_t small[10];
  WireCursor c(small, sizeof small);
  EXPECT_EQ(visitor.writeRecord(invoke.get(), c), WriteResult::NoRoom);
  EXPECT_EQ(savedCounters.size(), 1u);
}

TEST_F(ProtocolVisitorTest, GatewayMqiStatusAndExceptionRecords) {
  auto gxr = make<GxrRecord>(SUBTYPE_SINGLE);
  gxr->text1.assign("a");
  gxr->text2.assign("b");
  gxr->text3.assign("c");
  gxr->value1 = -1;
  gxr->number = 7;
  gxr->value2 = 0x0102030405060708;
  EXPECT_EQ(write(*gxr),
            "28 00 01 61 00 01 62 00 01 63 FF FF FF FF FF FF FF FF 00 00 00 07 01 02 03 04 05 06 "
            "07 08 7F 7F");

  auto mqi = make<MqiRecord>(SUBTYPE_SINGLE);
  mqi->text1.assign("x");
  mqi->text2.assign("y");
  mqi->value = 9;
  mqi->ops.reset(new uint8_t[2]{1, 2});
  mqi->values.reset(new uint32_t[2]{3, 4});
  mqi->times.reset(new int64_t[2]{5, 6});
  mqi->count = 2;
  EXPECT_EQ(write(*mqi),
            "29 00 01 78 00 01 79 00 00 00 00 00 00 00 09 00 00 00 02 01 00 00 00 03 00 00 00 00 "
            "00 00 00 05 02 00 00 00 04 00 00 00 00 00 00 00 06 7F 7F");
  // A count without all three arrays sends no elements.
  mqi->times.reset();
  EXPECT_EQ(write(*mqi), "29 00 01 78 00 01 79 00 00 00 00 00 00 00 09 00 00 00 00 7F 7F");

  auto status = make<PsStatusRecord>(SUBTYPE_SINGLE);
  status->status.assign("up");
  EXPECT_EQ(write(*status), "2C 00 02 75 70 7F 7F");

  auto ex = make<ExceptionRecord>(SUBTYPE_SINGLE);
  ex->text1.assign("1");
  ex->text2.assign("2");
  ex->text3.assign("3");
  ex->text4.assign("4");
  EXPECT_EQ(write(*ex), "2D 00 01 31 00 01 32 00 01 33 00 01 34 7F 7F");
}

TEST_F(ProtocolVisitorTest, PortalNumberRecords) {
  const std::string pair = " 00 00 00 07 00 00 00 00 00 00 00 08 7F 7F";
  for (int type : {18, 19}) {
    auto r = make<PortalUserRecord>(type, SUBTYPE_SINGLE);
    r->number = 7;
    r->value = 8;
    EXPECT_EQ(write(*r), (type == 18 ? "3D" : "3E") + pair);
  }
  const char* gatewayTags[] = {"2E", "2F", "30"};
  for (int type : {34, 35, 36}) {
    auto r = make<GatewayRecord>(type, SUBTYPE_SINGLE);
    r->number = 7;
    r->value = 8;
    EXPECT_EQ(write(*r), gatewayTags[type - 34] + pair);
  }

  auto vault = make<CredentialVaultRecord>(SUBTYPE_SINGLE);
  auto content = make<ContentAccessRecord>(SUBTYPE_SINGLE);
  std::string vaultBody, contentBody;
  for (int i = 0; i < 5; i++) {
    vault->counts[i] = static_cast<uint32_t>(i + 1);
    vault->totals[i] = 16 + i;
    std::string p =
        " 00 00 00 0" + std::to_string(i + 1) + " 00 00 00 00 00 00 00 1" + std::to_string(i);
    vaultBody += p;
    if (i < 4) {
      content->counts[i] = static_cast<uint32_t>(i + 1);
      content->totals[i] = 16 + i;
      contentBody += p;
    }
  }
  EXPECT_EQ(write(*vault), "3F" + vaultBody + " 7F 7F");
  EXPECT_EQ(write(*content), "40" + contentBody + " 7F 7F");
}

TEST_F(ProtocolVisitorTest, PortalPageAndPortletRecords) {
  const char* tags[2][2] = {{"41", "42"}, {"43", "44"}};
  for (int k = 0; k < 2; k++) {
    std::unique_ptr<RequestRecord> begin, end;
    if (k == 0) {
      begin = make<PortalPageRequestRecord>(SUBTYPE_BEGIN);
      end = make<PortalPageRequestRecord>(SUBTYPE_END);
    } else {
      begin = make<PortletRequestRecord>(SUBTYPE_BEGIN);
      end = make<PortletRequestRecord>(SUBTYPE_END);
    }
    begin->depth = end->depth = 5;
    begin->requestName.assign("n");
    begin->applicationName.assign("a");
    begin->url.assign("u");
    begin->detail.assign("d");
    EXPECT_EQ(write(*begin), std::string(tags[k][0]) + " " + HEAD +
                                 " 00 01 6E 00 01 61 00 01 75 00 01 64 02 7F 7F");
    EXPECT_EQ(write(*end), std::string(tags[k][1]) + " " + HEAD + " 02 7F 7F");
  }
}

TEST_F(ProtocolVisitorTest, ThirdAndFourthPortalRequestsCarryTheNamesFlag) {
  const char* tags[2][2] = {{"70", "71"}, {"72", "73"}};
  for (int k = 0; k < 2; k++) {
    auto begin = make<RequestRecord>(28 + k, SUBTYPE_BEGIN);
    begin->depth = 5;
    begin->requestName.assign("u");
    begin->applicationName.assign("u");
    begin->url.assign("u");
    begin->detail.assign("not sent");
    EXPECT_EQ(write(*begin),
              std::string(tags[k][0]) + " " + HEAD + " 00 00 00 00 00 00 01 75 02 7F 7F");
    begin->requestName.assign("n");
    EXPECT_EQ(write(*begin),
              std::string(tags[k][0]) + " " + HEAD + " 01 00 01 6E 00 01 75 00 01 75 02 7F 7F");
    auto end = make<RequestRecord>(28 + k, SUBTYPE_END);
    end->depth = 5;
    EXPECT_EQ(write(*end), std::string(tags[k][1]) + " " + HEAD + " 02 7F 7F");
  }
}

TEST_F(ProtocolVisitorTest, MqRequestAndMessageRecords) {
  auto mq = make<MqRequestRecord>(SUBTYPE_BEGIN);
  mq->depth = 3;
  mq->code = 0x105;  // sent as its low byte
  mq->queueManager.assign("M");
  mq->queueName.assign("Q");
  EXPECT_EQ(write(*mq), "6E " + head(3) + " 00 01 4D 00 01 51 05 02 7F 7F");
  mq->subtype = SUBTYPE_END;
  EXPECT_EQ(write(*mq), "6F " + head(3) + " 05 02 7F 7F");

  auto msg = make<MqMessageRecord>(SUBTYPE_BEGIN);
  msg->depth = 5;
  msg->messageId.assign("i");
  msg->message.reset(new uint8_t[2]{0xAA, 0xBB});
  msg->messageLength = 2;
  const std::string body = " 00 01 69 00 02 AA BB ";
  struct Op {
    int operation;
    const char* begin;
    const char* end;
    const char* putFlag;
  } ops[] = {{7, "39", "3A", "01"},
             {13, "39", "3A", "00"},
             {10, "37", "38", "00"},
             {11, "37", "38", "00"}};
  for (const Op& op : ops) {
    msg->operation = op.operation;
    msg->subtype = SUBTYPE_BEGIN;
    EXPECT_EQ(write(*msg), std::string(op.begin) + " " + HEAD + body + op.putFlag + " 02 7F 7F");
    msg->subtype = SUBTYPE_END;
    EXPECT_EQ(write(*msg), std::string(op.end) + " " + HEAD + " 02 7F 7F");
  }
  // A negative length or a missing buffer sends no message bytes.
  msg->subtype = SUBTYPE_BEGIN;
  msg->operation = 7;
  msg->messageLength = -4;
  EXPECT_EQ(write(*msg), "39 " + HEAD + " 00 01 69 00 00 01 02 7F 7F");
  msg->messageLength = 2;
  msg->message.reset();
  EXPECT_EQ(write(*msg), "39 " + HEAD + " 00 01 69 00 00 01 02 7F 7F");
  // An operation without a tag is left out rather than sent with tag 0.
  msg->operation = 8;
  EXPECT_EQ(write(*msg, WriteResult::Empty), "");
  msg->subtype = SUBTYPE_END;
  EXPECT_EQ(write(*msg, WriteResult::Empty), "");
}

TEST_F(ProtocolVisitorTest, HeapAndLockRecords) {
  auto heap = make<HeapAllocationRecord>(SUBTYPE_BEGIN);
  heap->depth = 5;
  heap->allocationId = 1;
  heap->name.assign("n");
  heap->number2 = 2;
  EXPECT_EQ(write(*heap), "7C " + HEAD + " 00 00 00 01 00 01 6E 00 00 00 02 02 7F 7F");
  heap->subtype = SUBTYPE_END;
  EXPECT_EQ(write(*heap), "7D " + HEAD + " 02 7F 7F");

  const char* tags[2][2] = {{"76", "77"}, {"7A", "7B"}};
  for (int k = 0; k < 2; k++) {
    auto lock = make<LockRecord>(k == 0 ? 31 : 33, SUBTYPE_BEGIN);
    lock->depth = 5;
    lock->lockId = 1;
    lock->lockName.assign("l");
    EXPECT_EQ(write(*lock),
              std::string(tags[k][0]) + " " + HEAD + " 00 00 00 01 00 01 6C 02 7F 7F");
    lock->subtype = SUBTYPE_END;
    EXPECT_EQ(write(*lock), std::string(tags[k][1]) + " " + HEAD + " 02 7F 7F");
  }

  auto detail = make<LockDetailRecord>(SUBTYPE_BEGIN);
  detail->depth = 5;
  detail->lockId = 1;
  detail->lockName.assign("l");
  detail->flag = 9;
  detail->text1.assign("a");
  detail->text2.assign("b");
  detail->number = 3;
  EXPECT_EQ(write(*detail),
            "78 " + HEAD + " 00 00 00 01 00 01 6C 09 00 01 61 00 01 62 00 00 00 03 02 7F 7F");
  detail->subtype = SUBTYPE_END;
  EXPECT_EQ(write(*detail), "79 " + HEAD + " 02 7F 7F");
}

TEST_F(ProtocolVisitorTest, ClassRecords) {
  ClassEntry entry;
  entry.classId = 77;
  entry.className.reset(new char[4]{'a', '/', 'B', 0});
  entry.sequenceNumber = 9;
  entry.methodCount = 2;
  entry.methods.reset(new MethodRecord[2]);
  for (int i = 0; i < 2; i++) {
    entry.methods[i].methodId = 100 + i;
    entry.methods[i].methodName.reset(new char[2]{static_cast<char>('f' + i), 0});
    entry.methods[i].methodSignature.reset(new char[4]{'(', ')', 'V', 0});
  }
  ClassRecord load(SUBTYPE_CLASS_LOAD);
  load.classEntry = &entry;
  EXPECT_EQ(write(load),
            "01 00 00 00 09 00 03 61 2F 42 00 00 00 02 00 00 00 64 00 01 66 00 03 28 29 56 00 00 "
            "00 65 00 01 67 00 03 28 29 56 7F 7F");
  ClassRecord unload(SUBTYPE_CLASS_UNLOAD);
  unload.classEntry = &entry;
  EXPECT_EQ(write(unload), "0C 00 00 00 09 00 00 00 4D 00 00 00 02 00 00 00 64 00 00 00 65 7F 7F");

  // A name that could not be copied goes out empty so the list stays whole.
  entry.methods[0].methodName.reset();
  entry.methodCount = 1;
  EXPECT_EQ(write(load),
            "01 00 00 00 09 00 03 61 2F 42 00 00 00 01 00 00 00 64 00 00 00 03 28 29 56 7F 7F");

  // Without an entry nothing is written and nothing is to be counted.
  ClassRecord none(SUBTYPE_CLASS_LOAD);
  EXPECT_EQ(write(none, WriteResult::Empty), "");
}

TEST_F(ProtocolVisitorTest, ModByteFollowsTheCurrentLevel) {
  auto sql = make<SqlRecord>(SUBTYPE_END);
  sql->depth = 5;
  modLevel = 3;
  EXPECT_EQ(write(*sql), "0A " + HEAD + " 03 7F 7F");
  modLevel = 1;
  EXPECT_EQ(write(*sql), "0A " + HEAD + " 01 7F 7F");
}

TEST_F(ProtocolVisitorTest, EmptyAndUnknownRecordsWriteNothing) {
  EmptyRecord empty;
  EXPECT_EQ(write(empty, WriteResult::Empty), "");

  for (int type : {2, 37, -1, 1000}) {
    EventRecord unknown(type, 0, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(write(unknown, WriteResult::UnknownType), "");
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("## ERROR: Unknown Event Type, TypeID: " + std::to_string(type)),
              std::string::npos)
        << log;
  }
}

TEST_F(ProtocolVisitorTest, TextsAreCutAt65535Bytes) {
  auto sql = make<SqlRecord>(SUBTYPE_BEGIN);
  sql->depth = 5;
  sql->dataSourceName.assign("");
  for (size_t length : {65535u, 65536u, 70000u}) {
    std::string text(length, 'x');
    text[65534] = 'y';  // the last byte kept
    sql->sqlText.assign(text.c_str());
    std::vector<uint8_t> buffer(1 << 18);
    WireCursor c(buffer.data(), buffer.size());
    ASSERT_EQ(visitor.writeRecord(sql.get(), c), WriteResult::Written);
    size_t written = static_cast<size_t>(c.position() - buffer.data());
    ASSERT_EQ(written, 1 + 21 + 1 + 2 + 2 + 65535 + 2u) << length;
    const uint8_t* lengthField = buffer.data() + 1 + 21 + 1 + 2;
    EXPECT_EQ(hex(lengthField, 2), "FF FF");
    EXPECT_EQ(lengthField[2 + 65534], 'y');
    EXPECT_EQ(hex(buffer.data() + written - 2, 2), "7F 7F");
  }
}

// A record is written whole or not at all, and never past the capacity:
// for every capacity short of the record's size the cursor stays put, the
// bytes at and beyond the capacity stay untouched, and the caller hears
// NoRoom; at the exact size the record is written.
TEST_F(ProtocolVisitorTest, RecordsThatDoNotFitAreRefusedWhole) {
  std::vector<std::unique_ptr<EventRecord>> records;
  auto http = make<HttpRequestRecord>(SUBTYPE_BEGIN);
  http->requestName.assign("name");
  http->applicationName.assign("app");
  http->url.assign("/url");
  http->detail.assign("detail");
  records.push_back(std::move(http));
  auto mqi = make<MqiRecord>(SUBTYPE_SINGLE);
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
  auto load = make<ClassRecord>(SUBTYPE_CLASS_LOAD);
  load->classEntry = entry;
  records.push_back(std::move(load));
  records.push_back(make<MethodEventRecord>(SUBTYPE_BEGIN));
  auto msg = make<MqMessageRecord>(SUBTYPE_BEGIN);
  msg->operation = 10;
  msg->message.reset(new uint8_t[100]());
  msg->messageLength = 100;
  records.push_back(std::move(msg));

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
    EXPECT_EQ(c.remaining(), 0u);
    EXPECT_EQ(exact, std::vector<uint8_t>(full.begin(), full.begin() + size));
  }
}

TEST_F(ProtocolVisitorTest, EjbUrlIsCutOnlyOnceTheRecordIsWritten) {
  auto ejb = make<EjbRequestRecord>(SUBTYPE_BEGIN);
  ejb->requestName.assign("a/b?x=1");
  ejb->applicationName.assign("a/b?x=1");
  ejb->url.assign("a/b?x=1");
  uint8_t small[20];
  WireCursor c(small, sizeof small);
  EXPECT_EQ(visitor.writeRecord(ejb.get(), c), WriteResult::NoRoom);
  EXPECT_STREQ(ejb->url.get(), "a/b?x=1");
  // The retry in a fresh packet still compares with the whole url.
  EXPECT_EQ(write(*ejb), "06 " + head(0) + " 00 00 00 00 00 00 03 61 2F 62 02 7F 7F");
  EXPECT_STREQ(ejb->url.get(), "a/b");
}

TEST_F(ProtocolVisitorTest, RecordsFollowEachOtherInAPacket) {
  std::vector<uint8_t> packet(256);
  WireCursor body(packet.data() + 7, packet.size() - 7);
  MethodEventRecord a(SUBTYPE_BEGIN), b(SUBTYPE_END);
  EmptyRecord empty;
  PsStatusRecord s(SUBTYPE_SINGLE);
  s.status.assign("x");
  uint32_t count = 0;
  for (EventRecord* r : std::initializer_list<EventRecord*>{&a, &empty, &b, &s})
    if (visitor.writeRecord(r, body) == WriteResult::Written) count++;
  WireCursor start(packet.data(), 7);
  ASSERT_TRUE(visitor.writeCountRecord(count, start));
  size_t length = static_cast<size_t>(body.position() - packet.data());
  EXPECT_EQ(length, 7 + 27 + 27 + 6u);
  EXPECT_EQ(hex(packet.data(), 8), "00 00 00 00 03 7F 7F 02");
  EXPECT_EQ(hex(packet.data() + 7 + 27, 1), "03");
  EXPECT_EQ(hex(packet.data() + 7 + 54, 6), "2C 00 01 78 7F 7F");
}

// --- hello packet ------------------------------------------------------------

namespace {

// A minimal Java environment answering the application-server name lookup.
struct FakeJava {
  enum Mode { Answer, Null, Throw } mode = Answer;
  std::string answer;
  bool pending = false;
  int described = 0;
  JNINativeInterface_ functions{};
  JNIEnv env{};
};
FakeJava* fakeJava;
int dummyClass, dummyMethod, dummyString;

jclass JNICALL fakeFindClass(JNIEnv*, const char* name) {
  return std::strcmp(name, "com/halden/probe/ProbeSystem") == 0
             ? reinterpret_cast<jclass>(&dummyClass)
             : nullptr;
}
jmethodID JNICALL fakeGetStaticMethodID(JNIEnv*, jclass, const char* name, const char* sig) {
  return std::strcmp(name, "getAppServerName") == 0 && std::strcmp(sig, "()Ljava/lang/String;") == 0
             ? reinterpret_cast<jmethodID>(&dummyMethod)
             : nullptr;
}
jobject JNICALL fakeCallStaticObjectMethodV(JNIEnv*, jclass, jmethodID, va_list) {
  if (fakeJava->mode == FakeJava::Throw) fakeJava->pending = true;
  if (fakeJava->mode != FakeJava::Answer) return nullptr;
  return reinterpret_cast<jobject>(&dummyString);
}
jboolean JNICALL fakeExceptionCheck(JNIEnv*) {
  return fakeJava->pending ? JNI_TRUE : JNI_FALSE;
}
void JNICALL fakeExceptionDescribe(JNIEnv*) {
  fakeJava->described++;
}
void JNICALL fakeExceptionClear(JNIEnv*) {
  fakeJava->pending = false;
}
const char* JNICALL fakeGetStringUTFChars(JNIEnv*, jstring, jboolean*) {
  return fakeJava->answer.c_str();
}
void JNICALL fakeReleaseStringUTFChars(JNIEnv*, jstring, const char*) {}
void JNICALL fakeDeleteLocalRef(JNIEnv*, jobject) {}

class HelloPacketTest : public ProtocolVisitorTest {
 protected:
  void SetUp() override {
    ProtocolVisitorTest::SetUp();
    std::strcpy(nodeName, "node1");
    std::strcpy(serverName, "srv");
    probeMgr = new ProbeMgr();
    std::strcpy(probeMgr->productVersion, "6.0.2");
    std::strcpy(probeMgr->commandAgentID, "ca");
    probeMgr->adminServerPort = 9060;
    java.functions.FindClass = fakeFindClass;
    java.functions.GetStaticMethodID = fakeGetStaticMethodID;
    java.functions.CallStaticObjectMethodV = fakeCallStaticObjectMethodV;
    java.functions.ExceptionCheck = fakeExceptionCheck;
    java.functions.ExceptionDescribe = fakeExceptionDescribe;
    java.functions.ExceptionClear = fakeExceptionClear;
    java.functions.GetStringUTFChars = fakeGetStringUTFChars;
    java.functions.ReleaseStringUTFChars = fakeReleaseStringUTFChars;
    java.functions.DeleteLocalRef = fakeDeleteLocalRef;
    java.env.functions = &java.functions;
    fakeJava = &java;
  }
  void TearDown() override {
    delete probeMgr;
    probeMgr = nullptr;
    fakeJava = nullptr;
    ProtocolVisitorTest::TearDown();
  }

  std::string identity(JNIEnv* env) {
    std::vector<uint8_t> buffer(1024);
    WireCursor c(buffer.data(), buffer.size());
    EXPECT_TRUE(visitor.writeIdentityRecord(env, c));
    return hex(buffer.data(), static_cast<size_t>(c.position() - buffer.data()));
  }

  FakeJava java;
};

// "<NO CLUSTER NAME>", node name "node1", port 9060, end.
const std::string CLUSTER =
    "00 11 3C 4E 4F 20 43 4C 55 53 54 45 52 20 4E 41 4D 45 3E 00 05 6E 6F 64 65 31";
const std::string PORT_END = "00 00 23 64 7F 7F";

}  // namespace

TEST_F(HelloPacketTest, TimeRecordFollowsTheConstant2000) {
  uint8_t buffer[17];
  WireCursor c(buffer, sizeof buffer);
  ASSERT_TRUE(visitor.writeTimeRecord(c, 1700000000123ULL));
  EXPECT_EQ(hex(buffer, 17), "00 00 07 D0 64 01 01 00 00 01 8B CF E5 68 7B 7F 7F");

  // With the clock: a plausible time since 1970 in milliseconds.
  WireCursor now(buffer, sizeof buffer);
  ASSERT_TRUE(visitor.writeTimeRecord(now));
  uint64_t millis = 0;
  for (int i = 7; i < 15; i++) millis = millis << 8 | buffer[i];
  EXPECT_GT(millis, 1600000000000ULL);
}

TEST_F(HelloPacketTest, IdentityRecordCarriesVersionAndNames) {
  java.answer = "qs1";
  EXPECT_EQ(identity(&java.env),
            "65 C8 06 00 02 00 02 63 61 " + CLUSTER + " 00 03 71 73 31 " + PORT_END);
}

TEST_F(HelloPacketTest, ApplicationServerNameFallsBackToTheIdentityValue) {
  const std::string fallback =
      "65 C8 06 00 02 00 02 63 61 " + CLUSTER + " 00 03 73 72 76 " + PORT_END;
  java.mode = FakeJava::Null;
  EXPECT_EQ(identity(&java.env), fallback);
  java.mode = FakeJava::Throw;
  EXPECT_EQ(identity(&java.env), fallback);
  EXPECT_EQ(java.described, 1);
  EXPECT_FALSE(java.pending);
  EXPECT_EQ(identity(nullptr), fallback);
}

TEST_F(HelloPacketTest, LongApplicationServerNameIsCutTo255Bytes) {
  java.answer = std::string(300, 'n');
  std::vector<uint8_t> buffer(1024);
  WireCursor c(buffer.data(), buffer.size());
  ASSERT_TRUE(visitor.writeIdentityRecord(&java.env, c));
  size_t nameAt = 5 + 4 + 19 + 7;
  EXPECT_EQ(hex(buffer.data() + nameAt, 2), "00 FF");
  EXPECT_EQ(static_cast<size_t>(c.position() - buffer.data()), nameAt + 2 + 255 + 4 + 2);
}

TEST_F(HelloPacketTest, VersionNumbersThatAreMissingAreSentAsZero) {
  struct Case {
    const char* version;
    const char* numbers;
  } cases[] = {{"7", "07 00 00"},          {"6.1", "06 01 00"},   {"abc", "00 00 00"},
               {"", "00 00 00"},           {"6.x.2", "06 00 00"}, {"300.2.3", "2C 02 03"},
               {"6.0.2-beta", "06 00 02"}, {"-1.0.0", "FF 00 00"}};
  for (const Case& k : cases) {
    std::strcpy(probeMgr->productVersion, k.version);
    std::string bytes = identity(nullptr);
    EXPECT_EQ(bytes.substr(6, 8), k.numbers) << k.version;
  }
}

TEST_F(HelloPacketTest, WithoutProbeManagerTheIdentityIsEmpty) {
  delete probeMgr;
  probeMgr = nullptr;
  EXPECT_EQ(identity(nullptr),
            "65 C8 00 00 00 00 00 " + CLUSTER + " 00 03 73 72 76 00 00 00 00 7F 7F");
}

// Several event agents share the one serialiser, each with its own buffer,
// while the MOD level may change underneath them.
TEST(ProtocolVisitorConcurrency, AgentsSerialiseIntoTheirOwnBuffersAtOnce) {
  ProtocolVisitor visitor(recordCounter);
  auto work = [&visitor](std::vector<uint8_t>* out) {
    SqlRecord sql(SUBTYPE_BEGIN);
    sql.dataSourceName.assign("ds");
    sql.sqlText.assign("select * from t");
    MethodEventRecord method(SUBTYPE_BEGIN);
    out->assign(200000, 0);
    WireCursor c(out->data(), out->size());
    for (int i = 0; i < 2000; i++) {
      visitor.writeRecord(&sql, c);
      visitor.writeRecord(&method, c);
    }
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
  EXPECT_EQ(a.size(), 2000u * (1 + 21 + 1 + 4 + 17 + 2 + 27));
  EXPECT_EQ(a.size(), b.size());
}
