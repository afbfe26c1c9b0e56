#include "requests/ResourceRequests.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "config/ProducerSettings.h"
#include "events/AgentRecords.h"
#include "events/ReportRecords.h"
#include "events/RequestRecord.h"
#include "events/ResourceRecords.h"
#include "requests/Requests.h"
#include "requests/SamplingRates.h"
#include "requests/SamplingRecord.h"
#include "support/ThreadTestEnv.h"
#include "threads/EntryGate.h"
#include "threads/ThreadId.h"

namespace {

class ResourceRequestsTest : public ThreadTestEnv {
 protected:
  JNIEnv* env = fakeEnv(0x7f500C000000);

  ThreadData* gate() {
    ThreadData* data = nullptr;
    return passEntryGate(env, &data) ? data : nullptr;
  }
  ThreadData* data() { return threadMgr->getThreadData(env); }
  void openHttp() { startNativeHttpRequest(env, gate(), "r", "a", "u", nullptr); }
  void closeHttp() { finishNativeHttpRequest(env, gate(), "r"); }

  // Type, subtype and depth of each queued record but the HTTP ones.
  using Seen = std::tuple<int, int, int>;
  static int depthOf(const EventRecord& r) {
    switch (r.type) {
      case 7:
        return static_cast<const SqlRecord&>(r).depth;
      case 9:
        return static_cast<const JmsRecord&>(r).depth;
      case 10:
        return static_cast<const JcaRecord&>(r).depth;
      case 11:
        return static_cast<const JndiRecord&>(r).depth;
      case 12:
        return static_cast<const MailRecord&>(r).depth;
      default:
        return static_cast<const RequestRecord&>(r).depth;
    }
  }
  std::vector<Seen> seen() {
    std::vector<Seen> out;
    for (auto& r : drain(data()))
      if (r->type != 4) out.emplace_back(r->type, r->subtype, depthOf(*r));
    return out;
  }
};

}  // namespace

TEST_F(ResourceRequestsTest, InsideRequestKindsRecordNothingOutsideARequest) {
  ThreadData* d = gate();
  beginNativeJMSRequest(env, d, 1, "a", "b", "c");
  endNativeJMSRequest(env, d, 1, "a", "b", "c");
  beginNativeJCARequest(env, d, "jca");
  beginNativeJNDIRequest(env, d, "a", "b");
  beginNativeMailRequest(env, d, "a", "b");
  beginNativeMQRequest(env, d, "a", "b", 7);
  endNativeMQRequest(env, d, "a", "b", 7, nullptr, 0, true);
  EXPECT_EQ(d->queueLength(), 0);
  EXPECT_EQ(d->requestDepth(), 0);
}

TEST_F(ResourceRequestsTest, SqlIsRecordedInsideAndOutsideRequests) {
  beginNativeSQLRequest(env, gate(), "select * from t", nullptr);
  endNativeSQLRequest(env, gate());
  auto records = drain(data());
  ASSERT_EQ(records.size(), 2u);
  auto& begin = static_cast<SqlRecord&>(*records[0]);
  EXPECT_STREQ(begin.sqlText.get(), "select * from t");
  EXPECT_STREQ(begin.dataSourceName.get(), "");
  EXPECT_EQ(begin.depth, 1);
  EXPECT_FALSE(static_cast<SqlRecord&>(*records[1]).sqlText.present());
  EXPECT_EQ(data()->requestDepth(), 0);
  EXPECT_EQ(data()->own().sqlDepth, 0);

  openHttp();
  beginNativeSQLRequest(env, gate(), "select 1", "ds");
  EXPECT_EQ(data()->own().sqlDepth, 1);
  endNativeSQLRequest(env, gate());
  closeHttp();
  EXPECT_EQ(seen(), (std::vector<Seen>{{7, 0, 2}, {7, 1, 2}}));
}

TEST_F(ResourceRequestsTest, SuppressionSwallowsSqlButNotMail) {
  setProperty("internal.disable.nestedrequests", "YES");
  setNestedRequestSwitch(readNestedRequestSuppression());
  reportedModLevel.store(1);
  openHttp();
  beginNativeSQLRequest(env, gate(), "select 1", "ds");
  endNativeSQLRequest(env, gate());
  beginNativeJCARequest(env, gate(), "x");
  endNativeJCARequest(env, gate(), "x");
  beginNativeMailRequest(env, gate(), "a", "b");
  endNativeMailRequest(env, gate(), "a", "b");
  EXPECT_EQ(seen(), (std::vector<Seen>{{12, 0, 2}, {12, 1, 2}}));
  EXPECT_EQ(data()->own().suppressedNested, 0);
  EXPECT_EQ(data()->requestDepth(), 1);
  EXPECT_EQ(data()->own().sqlDepth, 0);
}

TEST_F(ResourceRequestsTest, TheDriverStatementRecordsOnlyOutsideTheAgentsOwnSql) {
  beginNativeSQLRequest(env, gate(), "select 1", "ds");
  beginOracleSQLRequest(env, gate(), "select 1", "ds");
  endOracleSQLRequest(env, gate());
  endNativeSQLRequest(env, gate());
  EXPECT_EQ(seen().size(), 2u) << "one pair for a statement reported both ways";

  beginOracleSQLRequest(env, gate(), "select 2", "ds");
  EXPECT_EQ(data()->own().sqlDepth, 0);
  endOracleSQLRequest(env, gate());
  EXPECT_EQ(seen(), (std::vector<Seen>{{7, 0, 1}, {7, 1, 1}}));
  EXPECT_EQ(data()->requestDepth(), 0);
}

TEST_F(ResourceRequestsTest, SqlTextIsCutToTheLimitAndSampled) {
  std::string sql(6000, 's');
  beginNativeSQLRequest(env, gate(), sql.c_str(), "ds");
  auto records = drain(data());
  EXPECT_EQ(static_cast<SqlRecord&>(*records[0]).sqlText.length(), 4999u);
  EXPECT_EQ(sqlSampleCount(), 1);
  for (int i = 0; i < 253; i++) beginNativeSQLRequest(env, gate(), "x", "ds");
  EXPECT_EQ(sqlSizeEstimate(), (5000u + 253u * 2u) / 254u);
}

TEST_F(ResourceRequestsTest, SetSqlRemembersTheStatement) {
  setSQL(gate(), "select 1", "ds");
  EXPECT_STREQ(data()->own().statementSql.get(), "select 1");
  EXPECT_STREQ(data()->own().statementDataSource.get(), "ds");
  setSQL(gate(), nullptr, "other");
  EXPECT_STREQ(data()->own().statementSql.get(), "select 1") << "a null text changes nothing";
  setSQL(gate(), "select 2", nullptr);
  EXPECT_STREQ(data()->own().statementSql.get(), "select 2");
  EXPECT_EQ(data()->own().statementDataSource, nullptr);
  EXPECT_EQ(data()->queueLength(), 0);
}

TEST_F(ResourceRequestsTest, JmsRecordsTheirKindAndTextsInOrder) {
  openHttp();
  beginNativeJMSRequest(env, gate(), 9, "first", "second", "third");
  endNativeJMSRequest(env, gate(), 2, "f", "s", "t");
  auto records = drain(data());
  ASSERT_EQ(records.size(), 3u);
  auto& begin = static_cast<JmsRecord&>(*records[1]);
  EXPECT_EQ(begin.kind, 3);
  EXPECT_EQ(begin.depth, 2);
  EXPECT_STREQ(begin.destination.get(), "second");
  EXPECT_STREQ(begin.text2.get(), "first");
  EXPECT_STREQ(begin.text3.get(), "third");
  auto& end = static_cast<JmsRecord&>(*records[2]);
  EXPECT_EQ(end.kind, 2);
  EXPECT_EQ(end.subtype, 1);
  EXPECT_EQ(end.depth, 2);
  EXPECT_EQ(data()->requestDepth(), 1);
}

TEST_F(ResourceRequestsTest, JcaJndiAndMailFillTheirTexts) {
  openHttp();
  beginNativeJCARequest(env, gate(), "interaction");
  beginNativeJNDIRequest(env, gate(), "ctx", "java:comp/env");
  beginNativeMailRequest(env, gate(), nullptr, "smtp");
  auto records = drain(data());
  ASSERT_EQ(records.size(), 4u);
  auto& jca = static_cast<JcaRecord&>(*records[1]);
  EXPECT_STREQ(jca.name.get(), "interaction");
  auto& jndi = static_cast<JndiRecord&>(*records[2]);
  EXPECT_STREQ(jndi.name.get(), "java:comp/env");
  EXPECT_STREQ(jndi.text2.get(), "ctx");
  auto& mail = static_cast<MailRecord&>(*records[3]);
  EXPECT_STREQ(mail.name.get(), "smtp");
  EXPECT_STREQ(mail.text2.get(), "");
  EXPECT_EQ(mail.depth, 4);
}

TEST_F(ResourceRequestsTest, MqContentIsRecordedOnlyWhenNested) {
  const uint8_t message[3] = {1, 2, 3};
  openHttp();
  endNativeMQRequest(env, gate(), "queue", "manager", 10, message, 3, true);
  EXPECT_EQ(seen(), (std::vector<Seen>{{26, 1, 1}}));
  EXPECT_EQ(data()->requestDepth(), 0);

  openHttp();
  beginNativeMQRequest(env, gate(), "queue", "manager", 7);
  endNativeMQRequest(env, gate(), "queue", "msgid", 11, message, 3, true);
  auto records = drain(data());
  ASSERT_EQ(records.size(), 5u);
  auto& begin = static_cast<MqRequestRecord&>(*records[1]);
  EXPECT_EQ(begin.depth, 2);
  EXPECT_EQ(begin.code, 7);
  EXPECT_STREQ(begin.queueManager.get(), "manager");
  EXPECT_STREQ(begin.queueName.get(), "queue");
  auto& content = static_cast<MqMessageRecord&>(*records[3]);
  EXPECT_EQ(content.type, 27);
  EXPECT_STREQ(content.messageId.get(), "msgid");
  ASSERT_EQ(content.messageLength, 3);
  EXPECT_EQ(content.message[2], 3);
  EXPECT_EQ(content.operation, 11);
  auto& contentEnd = static_cast<MqMessageRecord&>(*records[4]);
  EXPECT_EQ(contentEnd.subtype, 1);
  EXPECT_EQ(contentEnd.operation, 11);
  EXPECT_EQ(data()->requestDepth(), 1);
}

TEST_F(ResourceRequestsTest, MqiArraysMustHoldNElements) {
  EXPECT_TRUE(mqiArraysUsable(3, 4, 5, 3));
  EXPECT_FALSE(mqiArraysUsable(2, 3, 3, 3)) << "a byte array shorter than n";
  EXPECT_FALSE(mqiArraysUsable(4, 4, 4, 3)) << "a byte array longer than n";
  EXPECT_FALSE(mqiArraysUsable(3, 3, 2, 3));
  EXPECT_FALSE(mqiArraysUsable(-1, 3, 3, 3)) << "a missing array";

  std::unique_ptr<uint8_t[]> ops(new uint8_t[2]{1, 2});
  std::unique_ptr<uint32_t[]> values(new uint32_t[2]{3, 4});
  std::unique_ptr<int64_t[]> times(new int64_t[2]{5, 6});
  sendNativeMQIRecord(env, gate(), "a", "bb", 99, std::move(ops), std::move(values),
                      std::move(times), 2);
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  auto& r = static_cast<MqiRecord&>(*records[0]);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.value, 99);
  EXPECT_EQ(r.times[1], 6);
  EXPECT_EQ(r.cpuTime, 0);
  EXPECT_EQ(r.wallSeconds, 0u) << "single records carry no time stamps";
}

TEST_F(ResourceRequestsTest, GatewayAndExceptionRecordsKeepArgumentOrder) {
  sendNativeGXRRecord(env, gate(), "a", "bb", "ccc", -1, 7, 42);
  nativeSendException(env, gate(), "w", "x", nullptr, "z");
  auto records = drain(data());
  ASSERT_EQ(records.size(), 2u);
  auto& gxr = static_cast<GxrRecord&>(*records[0]);
  EXPECT_STREQ(gxr.text3.get(), "ccc");
  EXPECT_EQ(gxr.value1, -1);
  EXPECT_EQ(gxr.number, 7u);
  EXPECT_EQ(gxr.value2, 42);
  auto& ex = static_cast<ExceptionRecord&>(*records[1]);
  EXPECT_STREQ(ex.text1.get(), "w");
  EXPECT_STREQ(ex.text3.get(), "");
  EXPECT_STREQ(ex.text4.get(), "z");
}

TEST_F(ResourceRequestsTest, StatusGoesToTheFirstAgentsSpecialQueueOrNowhere) {
  ThreadData* special = evtAgentMgr->firstSpecialQueue();
  ASSERT_NE(special, nullptr);
  int before = special->queueLength();
  sendStatusEvent(env, "PS up");
  EXPECT_EQ(data()->queueLength(), 0) << "never the caller's own queue";
  ASSERT_EQ(special->queueLength(), before + 1);
  auto records = drain(special);
  auto& r = static_cast<PsStatusRecord&>(*records.back());
  EXPECT_STREQ(r.status.get(), "PS up");
  EXPECT_EQ(r.threadId, threadIdOf(env));

  installThreadDrain(nullptr);  // no event agents: the status goes nowhere
  sendStatusEvent(env, "PS down");
  installThreadDrain(evtAgentMgr);
  EXPECT_EQ(special->queueLength(), 0);
}

TEST_F(ResourceRequestsTest, SettingTheRatesQueuesTheirRecordWhileTheGateIsOpen) {
  const jint rates[2] = {5, 6};
  setSamplingRates(env, rates, 2, 1);
  EXPECT_EQ(samplingRates[0].load(), 5);
  EXPECT_EQ(samplingRates[2].load(), 2) << "a short array keeps the other rates";
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  auto& r = static_cast<SamplingRatesRecord&>(*records[0]);
  EXPECT_EQ(r.threadId, threadIdOf(env));
  EXPECT_EQ(r.rates[1], 6);
  EXPECT_EQ(r.flag, 1);
  EXPECT_NE(r.wallSeconds, 0u);

  memoryGateClosed.store(true);
  const jint more[6] = {7, 7, 7, 7, 8, 8};
  setSamplingRates(env, more, 6, 2);
  EXPECT_EQ(samplingRates[3].load(), 7) << "four taken, kept while the gate is closed";
  setSamplingRates(env, nullptr, 0, 4);
  EXPECT_EQ(samplingRates[3].load(), 7);
  records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->type, 15) << "only the data-gate marker";

  memoryGateClosed.store(false);
  probeDisabled.store(true);
  std::string out = captured([&] { setSamplingRates(env, rates, 2, 3); });
  EXPECT_CONTAINS(out, "Native probe is disabled, rejecting setNativeSamplingRates");
  EXPECT_EQ(samplingExtra.load(), 4);
}
