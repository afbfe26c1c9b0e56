#include "requests/Requests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "config/ProducerSettings.h"
#include "config/WallClock.h"
#include "events/AgentRecords.h"
#include "events/RequestRecord.h"
#include "events/ResourceRecords.h"
#include "requests/RequestCompletion.h"
#include "requests/ResourceRequests.h"
#include "support/ThreadTestEnv.h"
#include "threads/EntryGate.h"
#include "threads/ThreadId.h"

namespace {

class RequestsTest : public ThreadTestEnv {
 protected:
  JNIEnv* env = fakeEnv(0x7f400B000000);

  // What a native does: the entry gate, then the operation.
  ThreadData* gate() {
    ThreadData* data = nullptr;
    return passEntryGate(env, &data) ? data : nullptr;
  }
  void start(const char* name = "r", const char* url = "/u") {
    if (ThreadData* d = gate()) startNativeHttpRequest(env, d, name, "app", url, "detail");
  }
  void finish(const char* name = "r") {
    if (ThreadData* d = gate()) finishNativeHttpRequest(env, d, name);
  }
  ThreadData* data() { return threadMgr->getThreadData(env); }

  std::vector<int> depths() {
    std::vector<int> out;
    for (auto& r : drain(data())) out.push_back(static_cast<RequestRecord&>(*r).depth);
    return out;
  }

  // Turns nested suppression on the way start-up reads it.
  void suppressNested(int level) {
    setProperty("internal.disable.nestedrequests", "yes");
    setNestedRequestSwitch(readNestedRequestSuppression());
    reportedModLevel.store(level);
  }
};

}  // namespace

// Nested requests carry their depths, unless suppression is on at level 1.
TEST_F(RequestsTest, NestedRequestsCarryTheirDepthsOrAreSwallowedAtLevelOne) {
  const std::pair<int, std::vector<int>> cases[] = {
      {0, {1, 2, 2, 1}}, {1, {1, 1}}, {2, {1, 2, 2, 1}}};
  for (auto& [level, expected] : cases) {
    if (level) suppressNested(level);
    start();
    start();
    EXPECT_EQ(data()->own().suppressedNested, level == 1 ? 1 : 0);
    finish();
    finish();
    EXPECT_EQ(depths(), expected) << level;
    EXPECT_EQ(data()->own().suppressedNested, 0);
    EXPECT_EQ(data()->requestDepth(), 0);
  }
}

TEST_F(RequestsTest, ACancelledJspClosesEveryOpenLevel) {
  start();
  start();
  drain(data());
  finish("JSP_CANCEL_REQUEST");
  EXPECT_EQ(depths(), (std::vector<int>{1}));
  EXPECT_EQ(data()->requestDepth(), 0);
}

TEST_F(RequestsTest, EndsWithoutAnOpenRequestStillRecord) {
  finish();
  errorNativeHttpRequest(env, gate(), "r", "a", "u");
  endNativeEJBRequest(env, gate(), "a", "r", "u");
  EXPECT_EQ(depths(), (std::vector<int>{1, 1, 0}));  // finish, error, EJB end
  EXPECT_EQ(data()->requestDepth(), 0);
}

// The wall clock's microseconds come from a millisecond clock unless the
// property asks for the microsecond clock; either way they stay within the
// second.
TEST_F(RequestsTest, TheMicrosecondClockPropertyFillsTheSameFieldFiner) {
  auto sample = [&](const char* setting, int records) {
    setProperty("internal.probe.clock.microseconds", setting);
    loadWallClockSetting();
    bool finer = false;
    for (int i = 0; i < records && !finer; ++i) {
      start();
      finish();
      for (auto& r : drain(data())) {
        EXPECT_LT(r->wallMicros, 1000000u);
        if (r->wallMicros % 1000 != 0) finer = true;
      }
    }
    return finer;
  };
  EXPECT_FALSE(sample("false", 200));
  // 1000 records a few microseconds apart: all on whole milliseconds only
  // with a millisecond clock.
  EXPECT_TRUE(sample("TRUE", 1000));
  EXPECT_FALSE(sample("yes", 200)) << "only true turns it on";
  setProperty("internal.probe.clock.microseconds", "false");
  loadWallClockSetting();
}

TEST_F(RequestsTest, RecordsCarryTheirTextsStampsAndThreadId) {
  fake.setCpuTime(123456789);
  start("name", "/url");
  finish();
  beginNativeEJBRequest(env, gate(), "ejbApp", "ejbName", "ejb/url?x");
  endNativeEJBRequest(env, gate(), "ejbApp", "ejbName", nullptr);
  auto records = drain(data());
  ASSERT_EQ(records.size(), 4u);
  auto& begin = static_cast<RequestRecord&>(*records[0]);
  EXPECT_EQ(begin.type, 4);
  EXPECT_EQ(begin.threadId, threadIdOf(env));
  EXPECT_EQ(begin.cpuTime, 123456789);
  EXPECT_NE(begin.wallSeconds, 0u);
  EXPECT_EQ(begin.wallMicros % 1000, 0u) << "a millisecond clock";
  EXPECT_STREQ(begin.requestName.get(), "name");
  EXPECT_STREQ(begin.applicationName.get(), "app");
  EXPECT_STREQ(begin.url.get(), "/url");
  EXPECT_STREQ(begin.detail.get(), "detail");
  auto& end = static_cast<RequestRecord&>(*records[1]);
  for (const OwnedText* t : {&end.requestName, &end.applicationName, &end.url, &end.detail}) {
    ASSERT_TRUE(t->present()) << "empty, never absent";
    EXPECT_STREQ(t->get(), "");
  }
  auto& ejb = static_cast<RequestRecord&>(*records[2]);
  EXPECT_STREQ(ejb.requestName.get(), "ejbName");
  EXPECT_STREQ(ejb.applicationName.get(), "ejbApp");
  EXPECT_STREQ(static_cast<RequestRecord&>(*records[3]).url.get(), "");
}

TEST_F(RequestsTest, TheUrlIsCutToTheLimit) {
  std::string url(1500, 'u');
  start("r", url.c_str());
  auto records = drain(data());
  EXPECT_EQ(static_cast<RequestRecord&>(*records[0]).url.length(), 999u);

  setProperty("internal.url.limit", "0");  // below 1: every text is empty
  setTextLimits(readTextLimitSettings());
  start("r", url.c_str());
  records = drain(data());
  auto& r = static_cast<RequestRecord&>(*records[0]);
  EXPECT_STREQ(r.url.get(), "");
  EXPECT_STREQ(r.requestName.get(), "");
}

// A cut at the URL or SQL limit that would split a character (two or three
// bytes, or an encoded NUL) goes back to the character's start, and never
// further.
TEST_F(RequestsTest, CutsAtTheUrlAndSqlLimitsKeepWholeCharacters) {
  setProperty("internal.url.limit", "10");
  setProperty("internal.sql.limit", "10");
  setTextLimits(readTextLimitSettings());
  for (const std::string wide : {"\xC3\xA9", "\xE2\x82\xAC", "\xC0\x80"}) {
    for (size_t at = 0; at <= 9; at++) {
      std::string text = std::string(at, 'a') + wide + std::string(20, 'b');
      size_t expected = at + wide.size() <= 9 ? 9 : at;
      start(text.c_str(), text.c_str());
      beginNativeSQLRequest(env, gate(), text.c_str(), "ds");
      auto records = drain(data());
      ASSERT_EQ(records.size(), 2u);
      auto& http = static_cast<RequestRecord&>(*records[0]);
      auto& sql = static_cast<SqlRecord&>(*records[1]);
      for (const OwnedText* t : {&http.requestName, &http.url, &sql.sqlText})
        EXPECT_EQ(std::string(t->get(), t->length()), text.substr(0, expected))
            << "character at " << at;
      endNativeSQLRequest(env, gate());
      finish();
      drain(data());
    }
  }
}

TEST_F(RequestsTest, TheUrlSizeEstimateIsTheMeanOfTheFirst254Urls) {
  for (int i = 0; i < 253; i++) start("r", "123456789");
  EXPECT_EQ(urlSizeEstimate(), 100u);
  start("r", "123456789");
  EXPECT_EQ(urlSizeEstimate(), 10u) << "nine characters and the zero";
  EXPECT_EQ(urlSampleCount(), 65535);
  start("r", std::string(500, 'x').c_str());
  EXPECT_EQ(urlSizeEstimate(), 10u) << "fixed from then on";
  EXPECT_EQ(drain(data()).back()->nominalSize, 82);
}

// Two threads giving 127 samples each: every sample is counted, so the
// 254th fixes the estimate whatever the interleaving. (A count loaded and
// stored back without one atomic step loses samples, and a thread stalled
// in between could even write a count below the frozen mark back.)
TEST(SizeEstimateConcurrency, SamplesFromSeveralThreadsAreEachCountedOnce) {
  for (int round = 0; round < 50; round++) {
    initTextLimits();
    std::atomic<int> ready{0};
    auto sampler = [&ready] {
      ready++;
      while (ready.load() < 2) {
      }
      for (int i = 0; i < 127; i++) sampleUrlSize(10);
    };
    std::thread a(sampler), b(sampler);
    a.join();
    b.join();
    ASSERT_EQ(urlSampleCount(), 65535) << "round " << round;
    ASSERT_EQ(urlSizeEstimate(), 10u);
    sampleUrlSize(100000);
    ASSERT_EQ(urlSizeEstimate(), 10u);
  }
  initTextLimits();
}

TEST_F(RequestsTest, TheMemoryFigureCountsWhatTheTextsOccupy) {
  start("r", "/u");
  int64_t shortTexts = data()->queuedBytes();
  auto records = drain(data());
  EXPECT_EQ(data()->queuedBytes(), 0);

  std::string url(900, 'u');
  std::string detail(5000, 'd');
  startNativeHttpRequest(env, gate(), "r", "app", url.c_str(), detail.c_str());
  EXPECT_GT(data()->queuedBytes(), shortTexts + 5800);
  auto longer = drain(data());
  EXPECT_EQ(longer[0]->nominalSize, records[0]->nominalSize)
      << "the nominal size stays the estimate";
  EXPECT_EQ(static_cast<RequestRecord&>(*longer[0]).detail.length(), 5000u);
}

TEST_F(RequestsTest, AClosedMemoryGateQueuesOneMarkerPerClosing) {
  data();  // the thread has a record
  memoryGateClosed.store(true);
  start();
  start();
  finish();
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->type, 15);
  EXPECT_EQ(records[0]->subtype, 7);
  EXPECT_EQ(records[0]->threadId, threadIdOf(env));
  EXPECT_EQ(data()->requestDepth(), 0);

  memoryGateClosed.store(false);
  start();
  EXPECT_FALSE(data()->own().gateMarkerSent);
  EXPECT_EQ(depths(), (std::vector<int>{1}));

  memoryGateClosed.store(true);
  finish();
  records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->type, 15) << "a new closing, a new marker";
}

TEST_F(RequestsTest, NothingHappensBeforeThePublishingSideIsUp) {
  probeDisabled.store(true);
  start();
  issueTraceRequest(env, gate());
  EXPECT_EQ(threadMgr->getThreadCount(), baseCount) << "not even the thread's record";
}

TEST_F(RequestsTest, TheTraceRequestIsASingleRecord) {
  issueTraceRequest(env, gate());
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  auto& r = static_cast<RequestRecord&>(*records[0]);
  EXPECT_STREQ(r.requestName.get(), "system_trace");
  EXPECT_STREQ(r.applicationName.get(), "trace_app");
  EXPECT_STREQ(r.url.get(), "");
  EXPECT_EQ(data()->requestDepth(), 0);
}

TEST_F(RequestsTest, ThreadStatusFollowsTheJavaSide) {
  uint32_t id = data()->getThreadId();
  EXPECT_TRUE(setThreadStatus(id, 0x8000));
  EXPECT_TRUE(data()->isSuspended());
  EXPECT_TRUE(setThreadStatus(id, 0x2000));
  EXPECT_FALSE(data()->isSuspended());
  setThreadStatus(id, 0x8000);
  EXPECT_TRUE(setThreadStatus(id, 4));
  EXPECT_TRUE(data()->isStopped());
  EXPECT_FALSE(data()->isSuspended());
  EXPECT_FALSE(setThreadStatus(id, 1));
  EXPECT_FALSE(setThreadStatus(0x12345678, 4)) << "an id not in the table";

  ThreadData* ended = data();
  threadMgr->threadEnded(ended);
  EXPECT_FALSE(setThreadStatus(id, 0x8000));
  threadMgr->deleteThreadData(ended);
}

TEST_F(RequestsTest, TheCorrelationTokenEndsWithTheOutermostRequest) {
  start();
  start();
  data()->own().gpsToken.reset(new uint8_t[4]());
  data()->own().gpsTokenLength = 4;
  finish();
  EXPECT_NE(data()->own().gpsToken, nullptr);
  finish();
  EXPECT_EQ(data()->own().gpsToken, nullptr);
  EXPECT_EQ(data()->own().gpsTokenLength, 0);
}

TEST_F(RequestsTest, CompletionWithoutAThreadRecordQueuesNothing) {
  std::string out =
      captured([&] { sendRequestRecord(env, nullptr, new HttpRequestRecord(0), "r", "a", "u"); });
  EXPECT_NE(out.find("Internal Error: storage is NULL for Thread"), std::string::npos);
}

TEST_F(RequestsTest, ARecordStepRunsBeforeTheTexts) {
  auto fillToken = [](JNIEnv*, ThreadData*, RequestRecord* r) {
    static const uint8_t token[4] = {0xA0, 0, 0, 5};
    r->requestName.assign(token, 4);
    return true;
  };
  auto refuse = [](JNIEnv*, ThreadData*, RequestRecord*) { return false; };
  ThreadData* d = data();
  sendRequestRecord(env, d, new CorrelationRequestRecord(0), nullptr, nullptr, nullptr, fillToken);
  sendRequestRecord(env, d, new CorrelationRequestRecord(5), "tok", nullptr, nullptr, refuse);
  auto records = drain(d);
  ASSERT_EQ(records.size(), 1u);
  auto& r = static_cast<CorrelationRequestRecord&>(*records[0]);
  EXPECT_EQ(r.token.length(), 4u) << "a null request name keeps what the step filled";
  EXPECT_EQ(static_cast<uint8_t>(r.token.get()[0]), 0xA0);
}
