// Correlation requests on one thread: which token each invoke and receive
// record carries, how long the thread keeps it, and what the Java side reads.
#include "requests/GpsRequests.h"

#include <gtest/gtest.h>

#include <string>

#include "events/RequestRecord.h"
#include "requests/GpsCounter.h"
#include "requests/Requests.h"
#include "support/TestSupport.h"
#include "support/ThreadTestEnv.h"
#include "threads/EntryGate.h"
#include "threads/ThreadId.h"

namespace {

class GpsRequestsTest : public ThreadTestEnv {
 protected:
  void SetUp() override {
    ThreadTestEnv::SetUp();
    home.write("counter", "5");
    gpsCounter().setup("1010", 200, home.at("counter"));
    data = gate();
    ASSERT_NE(data, nullptr);
  }

  ThreadData* gate() {
    ThreadData* d = nullptr;
    return passEntryGate(env, &d) ? d : nullptr;
  }
  void invokeStart() { startNativeGpsInvokeRequest(env, gate()); }
  void invokeEnd() { endNativeGpsInvokeRequest(env, gate()); }

  // The token bytes the Java side would read.
  std::string javaToken() {
    uint8_t bytes[4];
    copyGpsToken(env, bytes);
    return std::string(reinterpret_cast<char*>(bytes), 4);
  }

  // The queued correlation records, oldest first (others are skipped).
  std::vector<std::unique_ptr<EventRecord>> correlations() {
    std::vector<std::unique_ptr<EventRecord>> out;
    for (auto& r : drain(data))
      if (r->type == EVENT_CORRELATION) out.push_back(std::move(r));
    return out;
  }
  static const CorrelationRequestRecord& as(const std::unique_ptr<EventRecord>& r) {
    return static_cast<const CorrelationRequestRecord&>(*r);
  }
  static std::string token(const CorrelationRequestRecord& r) {
    return std::string(r.token.get(), r.token.length());
  }

  TempDir home;
  JNIEnv* env = fakeEnv(0x7f4017000000);
  ThreadData* data = nullptr;
};

const std::string kToken5("\xA0\x00\x00\x05", 4);
const std::string kToken6("\xA0\x00\x00\x06", 4);

}  // namespace

TEST_F(GpsRequestsTest, InvokesInOneRequestShareATokenAndTheNextRequestDrawsANewOne) {
  startNativeHttpRequest(env, gate(), "r", "app", "/u", "");
  invokeStart();
  EXPECT_EQ(javaToken(), kToken5);
  invokeEnd();
  invokeStart();
  invokeEnd();
  EXPECT_EQ(javaToken(), kToken5);
  finishNativeHttpRequest(env, gate(), "r");
  EXPECT_EQ(javaToken(), std::string(4, '\0'));  // released with the outer request

  auto records = correlations();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(token(as(records[0])), kToken5);
  EXPECT_EQ(as(records[0]).tokenCounter, 0xA0000005u);
  EXPECT_EQ(as(records[0]).depth, 2);
  EXPECT_EQ(as(records[1]).subtype, SUBTYPE_END);
  EXPECT_EQ(as(records[1]).depth, 2);
  // The second invoke carries the held token and no counter of its own.
  EXPECT_EQ(token(as(records[2])), kToken5);
  EXPECT_EQ(as(records[2]).tokenCounter, 0u);

  startNativeHttpRequest(env, gate(), "r", "app", "/u", "");
  invokeStart();
  EXPECT_EQ(javaToken(), kToken6);
  records = correlations();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(as(records[0]).tokenCounter, 0xA0000006u);
}

TEST_F(GpsRequestsTest, AReceivedTokenIsKeptAndCarriedByInvokesInside) {
  startNativeGpsReceiveRequest(env, gate(), "ABCDEF");
  EXPECT_EQ(data->requestDepth, 1);
  EXPECT_EQ(javaToken(), "ABCD");
  invokeStart();  // draws no token: the thread holds one
  EXPECT_EQ(gpsCounter().peekNextToken(), 0xA0000005u);
  invokeEnd();
  completeNativeGpsReceiveRequest(env, gate(), "done");
  EXPECT_EQ(data->requestDepth, 0);
  EXPECT_EQ(data->gpsToken, nullptr);  // released at depth 0

  auto records = correlations();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(as(records[0]).subtype, SUBTYPE_RECEIVE_BEGIN);
  EXPECT_EQ(as(records[0]).depth, 0);
  EXPECT_EQ(token(as(records[0])), "ABCDEF");
  EXPECT_EQ(token(as(records[1])), "ABCD");
  EXPECT_EQ(as(records[1]).tokenCounter, 0u);
  EXPECT_EQ(as(records[3]).subtype, SUBTYPE_RECEIVE_END);
  EXPECT_EQ(as(records[3]).depth, 1);
  EXPECT_EQ(token(as(records[3])), "done");

  // A null token records nothing; a thread unknown to the table reads zeros.
  startNativeGpsReceiveRequest(env, gate(), nullptr);
  EXPECT_TRUE(correlations().empty());
  uint8_t bytes[4] = {1, 1, 1, 1};
  CapturedOutput output;
  EXPECT_FALSE(copyGpsToken(fakeEnv(0x7f4017100000), bytes));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), std::string(4, '\0'));
  EXPECT_EQ(output.out(), "null tmp in get passport visa\n");
}
