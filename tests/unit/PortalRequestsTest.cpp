// Portal page and portlet nesting on one thread, and the memory gate in front
// of the single portal records. Their figures on the wire are checked in the
// JVM test.
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
  EXPECT_EQ(data->requestDepth, -1);

  auto records = drain(data);
  ASSERT_EQ(records.size(), 5u);
  const int types[] = {22, 23, 23, 22, 23};
  const int subtypes[] = {0, 0, 1, 1, 1};
  const int depths[] = {1, 2, 2, 1, 0};
  for (size_t i = 0; i < 5; i++) {
    const auto& r = static_cast<const RequestRecord&>(*records[i]);
    EXPECT_EQ(r.type, types[i]);
    EXPECT_EQ(r.subtype, subtypes[i]);
    EXPECT_EQ(r.depth, depths[i]) << "record " << i;
  }
  EXPECT_STREQ(static_cast<const RequestRecord&>(*records[0]).detail.get(), "d1");
  EXPECT_STREQ(static_cast<const RequestRecord&>(*records[1]).detail.get(), "");
  const auto& end = static_cast<const RequestRecord&>(*records[3]);
  EXPECT_STREQ(end.requestName.get(), "page");
  EXPECT_STREQ(end.url.get(), "");
}

TEST_F(PortalRequestsTest, AClosedMemoryGateLetsOnlyTheMarkerThrough) {
  memoryGateClosed.store(true);
  sendPortalUserData(env, gate(), EVENT_PORTAL_LOGIN, 1, 2);
  sendPortalUserData(env, gate(), EVENT_PORTAL_LOGIN, 1, 2);
  auto records = drain(threadMgr->getThreadData(env));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->type, EVENT_DROP_NOTICE);
}
