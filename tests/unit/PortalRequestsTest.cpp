// Portal requests on one thread; the portal records' figures on the wire are
// checked in the JVM test.
#include "requests/PortalRequests.h"

#include <gtest/gtest.h>

#include "events/RequestRecord.h"
#include "support/ThreadTestEnv.h"
#include "threads/EntryGate.h"

namespace {

class PortalRequestsTest : public ThreadTestEnv {
 protected:
  ThreadData* gate() {
    ThreadData* d = nullptr;
    return passEntryGate(env, &d) ? d : nullptr;
  }

  JNIEnv* env = fakeEnv(0x7f4019000000);
};

}  // namespace

TEST_F(PortalRequestsTest, PagesAndPortletsNestAndAnUnmatchedEndGoesBelowZero) {
  startPortalRequest(env, gate(), EVENT_PORTAL_PAGE, "page", "portal", "/p", "d1");
  startPortalRequest(env, gate(), EVENT_PORTLET, "let", "portal", "/p/l", nullptr);
  endPortalRequest(env, gate(), EVENT_PORTLET, "let");
  endPortalRequest(env, gate(), EVENT_PORTAL_PAGE, "page");
  endPortalRequest(env, gate(), EVENT_PORTLET, "let");
  ThreadData* data = gate();
  EXPECT_EQ(data->requestDepth(), -1);

  // type subtype depth name url detail of each record ('-': no text)
  auto text = [](const OwnedText& t) { return std::string(t.get() ? t.get() : "-"); };
  std::vector<std::string> seen;
  for (auto& record : drain(data)) {
    const auto& r = static_cast<const RequestRecord&>(*record);
    seen.push_back(std::to_string(r.type) + " " + std::to_string(r.subtype) + " " +
                   std::to_string(r.depth) + " " + text(r.requestName) + " " + text(r.url) + " " +
                   text(r.detail));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"22 0 1 page /p d1", "23 0 2 let /p/l ", "23 1 2 let  ",
                                            "22 1 1 page  ", "23 1 0 let  "}));
}

// A page record holds its texts in allocations of their own: the memory
// figure counts them.
TEST_F(PortalRequestsTest, LongTextsCountInTheQueuedBytes) {
  startPortalRequest(env, gate(), EVENT_PORTAL_PAGE, "p", "a", "/u", "d");
  int64_t shortTexts = gate()->queuedBytes();
  drain(gate());
  std::string name(900, 'n'), detail(5000, 'd');
  startPortalRequest(env, gate(), EVENT_PORTAL_PAGE, name.c_str(), "a", "/u", detail.c_str());
  EXPECT_GT(gate()->queuedBytes(), shortTexts + 5800);
}

TEST_F(PortalRequestsTest, AClosedMemoryGateLetsOnlyTheMarkerThrough) {
  memoryGateClosed.store(true);
  sendPortalUserData(env, gate(), EVENT_PORTAL_LOGIN, 1, 2);
  sendPortalUserData(env, gate(), EVENT_PORTAL_LOGIN, 1, 2);
  auto records = drain(threadMgr->getThreadData(env));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->type, EVENT_DROP_NOTICE);
}
