// Correlation requests on one thread.
#include "requests/GpsRequests.h"

#include <gtest/gtest.h>

#include <cstdio>
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

  // The queued correlation records, oldest first (others are skipped), as
  // "subtype/depth/token/counter" with the token's bytes in hex.
  std::vector<std::string> correlations() {
    std::vector<std::string> out;
    for (auto& r : drain(data)) {
      if (r->type != EVENT_CORRELATION) continue;
      const auto& c = static_cast<const CorrelationRequestRecord&>(*r);
      char text[64];
      int n = std::snprintf(text, sizeof text, "%d/%d/", c.subtype, c.depth);
      for (size_t i = 0; i < c.token.length() && n < 40; i++)
        n += std::snprintf(text + n, sizeof text - size_t(n), "%02x", uint8_t(c.token.get()[i]));
      std::snprintf(text + n, sizeof text - size_t(n), "/%x", c.tokenCounter);
      out.push_back(text);
    }
    return out;
  }
  using Strings = std::vector<std::string>;

  TempDir home;
  JNIEnv* env = fakeEnv(0x7f4017000000);
  ThreadData* data = nullptr;
};

}  // namespace

// The tokens the Java side reads are checked in the JVM test; here the records'
// fields: the second invoke carries the held token and no counter of its own.
TEST_F(GpsRequestsTest, InvokesInOneRequestShareATokenAndTheNextRequestDrawsANewOne) {
  for (int request = 0; request < 2; request++) {
    startNativeHttpRequest(env, gate(), "r", "app", "/u", "");
    for (int invoke = 0; invoke < 2 - request; invoke++) {
      invokeStart();
      invokeEnd();
    }
    finishNativeHttpRequest(env, gate(), "r");
  }
  EXPECT_EQ(correlations(), (Strings{"0/2/a0000005/a0000005", "1/2//0", "0/2/a0000005/0", "1/2//0",
                                     "0/2/a0000006/a0000006", "1/2//0"}));
}

TEST_F(GpsRequestsTest, AReceivedTokenIsKeptAndCarriedByInvokesInside) {
  startNativeGpsReceiveRequest(env, gate(), "ABCDEF");
  EXPECT_EQ(data->requestDepth(), 1);
  EXPECT_EQ(javaToken(), "ABCD");
  invokeStart();  // draws no token: the thread holds one
  EXPECT_EQ(gpsCounter().peekNextToken(), 0xA0000005u);
  invokeEnd();
  completeNativeGpsReceiveRequest(env, gate(), "done");
  EXPECT_EQ(data->requestDepth(), 0);
  EXPECT_EQ(data->own().gpsToken, nullptr);  // released at depth 0

  EXPECT_EQ(correlations(),
            (Strings{"5/0/414243444546/0", "0/2/41424344/0", "1/2//0", "6/1/646f6e65/0"}));

  // A null token records nothing; a thread unknown to the table reads zeros.
  startNativeGpsReceiveRequest(env, gate(), nullptr);
  EXPECT_TRUE(correlations().empty());
  uint8_t bytes[4] = {1, 1, 1, 1};
  CapturedOutput output;
  EXPECT_FALSE(copyGpsToken(fakeEnv(0x7f4017100000), bytes));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), std::string(4, '\0'));
  EXPECT_EQ(output.out(), "null tmp in get passport visa\n");
}

// A token sent between JVMs as the eight hex digits of its bytes is kept as
// those 4 bytes, so that the receive carries what the invoke carried; any
// other text stays as it came.
TEST_F(GpsRequestsTest, AReceivedTokenOfEightHexDigitsIsKeptAsItsFourBytes) {
  const struct {
    const char* text;
    const char* recordToken;
    std::string javaToken;
  } cases[] = {
      {"a0B0c00d", "a0b0c00d", std::string("\xa0\xb0\xc0\x0d", 4)},
      {"00000005", "00000005", std::string("\0\0\0\x05", 4)},
      {"a000000g", "6130303030303067", "a000"},
      {"a00000051", "613030303030303531", "a000"},
  };
  for (const auto& c : cases) {
    startNativeGpsReceiveRequest(env, gate(), c.text);
    EXPECT_EQ(javaToken(), c.javaToken) << c.text;
    invokeStart();
    invokeEnd();
    completeNativeGpsReceiveRequest(env, gate(), "done");
    std::string token = c.recordToken;
    EXPECT_EQ(correlations(), (Strings{"5/0/" + token + "/0", "0/2/" + token.substr(0, 8) + "/0",
                                       "1/2//0", "6/1/646f6e65/0"}))
        << c.text;
  }
}
