#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "events/EventRecords.h"

namespace {

// A class entry with two methods, as the class table builds them.
ClassEntry* makeEntry(int copyFlag) {
  auto* e = new ClassEntry();
  e->classId = 77;
  e->className.reset(new char[8]);
  std::strcpy(e->className.get(), "a/B");
  e->sequenceNumber = 9;
  e->copyFlag = copyFlag;
  e->methodCount = 2;
  e->methods.reset(new MethodRecord[2]);
  for (int i = 0; i < 2; i++) {
    e->methods[i].methodName.reset(new char[4]);
    std::strcpy(e->methods[i].methodName.get(), i ? "g" : "f");
    e->methods[i].methodSignature.reset(new char[4]);
    std::strcpy(e->methods[i].methodSignature.get(), "()V");
    e->methods[i].methodId = 100 + i;
    e->methods[i].classEntry = e;
  }
  return e;
}

}  // namespace

TEST(OwnedText, HoldsACopyWithItsLength) {
  char source[] = "hello";
  OwnedText t;
  EXPECT_FALSE(t.present());
  ASSERT_TRUE(t.assign(source));
  source[0] = 'j';  // the text is a copy
  EXPECT_STREQ(t.get(), "hello");
  EXPECT_EQ(t.length(), 5u);
  ASSERT_TRUE(t.assign(""));
  EXPECT_TRUE(t.present());
  EXPECT_EQ(t.length(), 0u);
  ASSERT_TRUE(t.assign(nullptr));
  EXPECT_FALSE(t.present());
}

TEST(OwnedText, HoldsBytesWithZerosAndCutsInPlace) {
  const unsigned char token[4] = {0xA0, 0x00, 0x00, 0x05};
  OwnedText t;
  ASSERT_TRUE(t.assign(token, 4));
  EXPECT_EQ(t.length(), 4u);
  EXPECT_EQ(std::memcmp(t.get(), token, 4), 0);
  EXPECT_EQ(t.get()[4], '\0');

  ASSERT_TRUE(t.assign("a/b?x=1"));
  t.cut(3);
  EXPECT_STREQ(t.get(), "a/b");
  EXPECT_EQ(t.length(), 3u);
  t.cut(10);  // longer than the text: nothing happens
  EXPECT_STREQ(t.get(), "a/b");
}

TEST(EventRecord, BaseFieldsStartAtZero) {
  MethodEventRecord r(SUBTYPE_BEGIN);
  EXPECT_EQ(r.threadId, 0u);
  EXPECT_EQ(r.cpuTime, 0);
  EXPECT_EQ(r.wallSeconds, 0u);
  EXPECT_EQ(r.wallMicros, 0u);
  EXPECT_EQ(r.methodId, 0u);
}

// Every type carries its number, the subtype it was made with and the
// default nominal size that the queue's memory accounting starts from.
TEST(EventRecord, EveryTypeHasItsNumberAndDefaultSize) {
  struct Case {
    std::unique_ptr<EventRecord> record;
    int type;
    int size;
  };
  Case cases[] = {
      {std::make_unique<EmptyRecord>(), 0, 0},
      {std::make_unique<ClassRecord>(3), 1, 96},
      {std::make_unique<MethodEventRecord>(0), 3, 64},
      {std::make_unique<HttpRequestRecord>(0), 4, 72},
      {std::make_unique<EjbRequestRecord>(0), 5, 72},
      {std::make_unique<TraceRequestRecord>(7), 6, 72},
      {std::make_unique<SqlRecord>(0), 7, 64},
      {std::make_unique<GcRecord>(0), 8, 72},
      {std::make_unique<JmsRecord>(0), 9, 72},
      {std::make_unique<JcaRecord>(0), 10, 56},
      {std::make_unique<JndiRecord>(0), 11, 64},
      {std::make_unique<MailRecord>(0), 12, 64},
      {std::make_unique<SamplingRatesRecord>(7), 13, 72},
      {std::make_unique<CorrelationRequestRecord>(0), 14, 72},
      {std::make_unique<DropNoticeRecord>(7), 15, 72},
      {std::make_unique<GxrRecord>(7), 16, 88},
      {std::make_unique<MqiRecord>(7), 17, 80},
      {std::make_unique<PortalUserRecord>(18, 7), 18, 64},
      {std::make_unique<PortalUserRecord>(19, 7), 19, 64},
      {std::make_unique<CredentialVaultRecord>(7), 20, 128},
      {std::make_unique<ContentAccessRecord>(7), 21, 112},
      {std::make_unique<PortalPageRequestRecord>(0), 22, 72},
      {std::make_unique<PortletRequestRecord>(0), 23, 72},
      {std::make_unique<PsStatusRecord>(7), 24, 56},
      {std::make_unique<ExceptionRecord>(7), 25, 64},
      {std::make_unique<MqRequestRecord>(0), 26, 72},
      {std::make_unique<MqMessageRecord>(0), 27, 72},
      {std::make_unique<RequestRecord>(28, 0), 28, 72},
      {std::make_unique<RequestRecord>(29, 0), 29, 72},
      {std::make_unique<HeapAllocationRecord>(0), 30, 64},
      {std::make_unique<LockRecord>(31, 0), 31, 64},
      {std::make_unique<LockDetailRecord>(0), 32, 80},
      {std::make_unique<LockRecord>(33, 0), 33, 64},
      {std::make_unique<GatewayRecord>(34, 7), 34, 64},
      {std::make_unique<GatewayRecord>(35, 7), 35, 64},
      {std::make_unique<GatewayRecord>(36, 7), 36, 64},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.record->type, c.type);
    EXPECT_EQ(c.record->nominalSize, c.size) << "type " << c.type;
  }
  EXPECT_EQ(cases[1].record->subtype, 3);
  EXPECT_EQ(cases[5].record->subtype, 7);
}

TEST(EventRecord, ConstructorDefaults) {
  JmsRecord jms(SUBTYPE_BEGIN);
  EXPECT_EQ(jms.kind, 3);
  EXPECT_EQ(jms.depth, 0);
  EXPECT_FALSE(jms.destination.present());

  CorrelationRequestRecord corr(SUBTYPE_BEGIN);
  EXPECT_EQ(corr.tokenCounter, 0u);
  EXPECT_FALSE(corr.token.present());

  DropNoticeRecord drop(SUBTYPE_SINGLE);
  for (int32_t count : drop.counts) EXPECT_EQ(count, 0);

  MqiRecord mqi(SUBTYPE_SINGLE);
  EXPECT_EQ(mqi.count, 0);
  EXPECT_EQ(mqi.ops, nullptr);

  ClassEntry entry;
  EXPECT_EQ(entry.classEventState.load(), -1);
  EXPECT_EQ(entry.copyFlag, 0);
  EXPECT_EQ(entry.methodCount, 0);
}

// The correlation token occupies the first text of the request layout, so
// the common request completion that fills the request name fills it.
TEST(EventRecord, CorrelationTokenIsTheFirstRequestText) {
  auto* r = new CorrelationRequestRecord(SUBTYPE_RECEIVE_BEGIN);
  RequestRecord* generic = r;
  generic->requestName.assign("tok1");
  EXPECT_STREQ(r->token.get(), "tok1");
  delete generic;
}

// Filled records of every type release what they own (LeakSanitizer checks
// this in the sanitizer build).
TEST(EventRecord, FilledRecordsReleaseWhatTheyOwn) {
  std::unique_ptr<EventRecord> records[40];
  int n = 0;

  auto http = std::make_unique<HttpRequestRecord>(SUBTYPE_BEGIN);
  http->requestName.assign("r");
  http->applicationName.assign("a");
  http->url.assign("/u");
  http->detail.assign("d");
  records[n++] = std::move(http);

  auto ejb = std::make_unique<EjbRequestRecord>(SUBTYPE_BEGIN);
  ejb->url.assign("a/b?x=1");
  records[n++] = std::move(ejb);

  auto trace = std::make_unique<TraceRequestRecord>(SUBTYPE_SINGLE);
  trace->requestName.assign("system_trace");
  records[n++] = std::move(trace);

  auto corr = std::make_unique<CorrelationRequestRecord>(SUBTYPE_BEGIN);
  const unsigned char token[4] = {1, 2, 3, 4};
  corr->token.assign(token, 4);
  records[n++] = std::move(corr);

  for (int type : {22, 23, 28, 29}) {
    std::unique_ptr<RequestRecord> r;
    if (type == 22)
      r = std::make_unique<PortalPageRequestRecord>(SUBTYPE_BEGIN);
    else if (type == 23)
      r = std::make_unique<PortletRequestRecord>(SUBTYPE_BEGIN);
    else
      r = std::make_unique<RequestRecord>(type, SUBTYPE_BEGIN);
    r->requestName.assign("n");
    r->applicationName.assign("a");
    r->url.assign("u");
    r->detail.assign("d");
    records[n++] = std::move(r);
  }

  auto mq = std::make_unique<MqRequestRecord>(SUBTYPE_BEGIN);
  mq->queueManager.assign("QM");
  mq->queueName.assign("Q");
  records[n++] = std::move(mq);

  auto msg = std::make_unique<MqMessageRecord>(SUBTYPE_BEGIN);
  msg->messageId.assign("id");
  msg->message.reset(new uint8_t[3]{1, 2, 3});
  msg->messageLength = 3;
  records[n++] = std::move(msg);

  auto sql = std::make_unique<SqlRecord>(SUBTYPE_BEGIN);
  sql->dataSourceName.assign("ds");
  sql->sqlText.assign("select 1");
  records[n++] = std::move(sql);

  auto jms = std::make_unique<JmsRecord>(SUBTYPE_BEGIN);
  jms->destination.assign("d");
  jms->text2.assign("t2");
  jms->text3.assign("t3");
  records[n++] = std::move(jms);

  auto jca = std::make_unique<JcaRecord>(SUBTYPE_BEGIN);
  jca->name.assign("eis");
  records[n++] = std::move(jca);

  auto jndi = std::make_unique<JndiRecord>(SUBTYPE_BEGIN);
  jndi->name.assign("n");
  jndi->text2.assign("t");
  records[n++] = std::move(jndi);

  auto mail = std::make_unique<MailRecord>(SUBTYPE_BEGIN);
  mail->name.assign("n");
  mail->text2.assign("t");
  records[n++] = std::move(mail);

  auto gxr = std::make_unique<GxrRecord>(SUBTYPE_SINGLE);
  gxr->text1.assign("1");
  gxr->text2.assign("2");
  gxr->text3.assign("3");
  records[n++] = std::move(gxr);

  auto mqi = std::make_unique<MqiRecord>(SUBTYPE_SINGLE);
  mqi->text1.assign("1");
  mqi->text2.assign("2");
  mqi->ops.reset(new uint8_t[2]{1, 2});
  mqi->values.reset(new uint32_t[2]{3, 4});
  mqi->times.reset(new int64_t[2]{5, 6});
  mqi->count = 2;
  records[n++] = std::move(mqi);

  auto status = std::make_unique<PsStatusRecord>(SUBTYPE_SINGLE);
  status->status.assign("up");
  records[n++] = std::move(status);

  auto ex = std::make_unique<ExceptionRecord>(SUBTYPE_SINGLE);
  ex->text1.assign("1");
  ex->text2.assign("2");
  ex->text3.assign("3");
  ex->text4.assign("4");
  records[n++] = std::move(ex);

  auto heap = std::make_unique<HeapAllocationRecord>(SUBTYPE_BEGIN);
  heap->name.assign("java/lang/String");
  records[n++] = std::move(heap);

  auto lock1 = std::make_unique<LockRecord>(EVENT_LOCK_1, SUBTYPE_BEGIN);
  lock1->lockName.assign("l");
  records[n++] = std::move(lock1);

  auto lock2 = std::make_unique<LockDetailRecord>(SUBTYPE_BEGIN);
  lock2->lockName.assign("l");
  lock2->text1.assign("1");
  lock2->text2.assign("2");
  records[n++] = std::move(lock2);

  auto unload = std::make_unique<ClassRecord>(SUBTYPE_CLASS_UNLOAD);
  unload->classEntry = makeEntry(1);
  records[n++] = std::move(unload);

  ASSERT_LE(n, 40);
  for (int i = 0; i < n; i++) records[i].reset();  // destroyed through the base
}

// A class record destroys a detached copy with itself but never an entry of
// the class table (AddressSanitizer reports the use after free otherwise).
TEST(ClassRecord, DestroysOnlyADetachedCopy) {
  std::unique_ptr<ClassEntry> tableEntry(makeEntry(0));
  EventRecord* load = new ClassRecord(SUBTYPE_CLASS_LOAD);
  static_cast<ClassRecord*>(load)->classEntry = tableEntry.get();
  delete load;
  EXPECT_STREQ(tableEntry->className.get(), "a/B");
  EXPECT_EQ(tableEntry->methods[1].methodId.load(), 101u);

  EventRecord* unload = new ClassRecord(SUBTYPE_CLASS_UNLOAD);
  static_cast<ClassRecord*>(unload)->classEntry = makeEntry(1);
  delete unload;  // no leak of the copy
}

TEST(OwnedText, TakesAPartOfItself) {
  OwnedText t;
  ASSERT_TRUE(t.assign("a/b?x=1"));
  ASSERT_TRUE(t.assign(t.get() + 4));
  EXPECT_STREQ(t.get(), "x=1");
  ASSERT_TRUE(t.assign(t.get(), 1));
  EXPECT_STREQ(t.get(), "x");
}
