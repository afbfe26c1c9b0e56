// The portal hooks on one thread: page and portlet nesting, the single
// records of figures with their values, and the servlet depth.
#include "requests/PortalRequests.h"

#include <gtest/gtest.h>

#include <string>

#include "events/PortalRecords.h"
#include "events/RequestRecord.h"
#include "requests/Requests.h"
#include "support/TestSupport.h"
#include "support/ThreadTestEnv.h"
#include "threads/EntryGate.h"

namespace {

class PortalRequestsTest : public ThreadTestEnv {
 protected:
  ThreadData* gate() {
    ThreadData* d = nullptr;
    return passEntryGate(env, &d) ? d : nullptr;
  }
  ThreadData* data() { return threadMgr->getThreadData(env); }

  JNIEnv* env = fakeEnv(0x7f4019000000);
};

}  // namespace

TEST_F(PortalRequestsTest, PagesAndPortletsNestWithTheirDepths) {
  startPortalRequest(env, gate(), EVENT_PORTAL_PAGE, "page", "portal", "/p", "d1");
  startPortalRequest(env, gate(), EVENT_PORTLET, "let", "portal", "/p/l", nullptr);
  endPortalRequest(env, gate(), EVENT_PORTLET, "let");
  endPortalRequest(env, gate(), EVENT_PORTAL_PAGE, "page");
  EXPECT_EQ(data()->requestDepth, 0);

  auto records = drain(data());
  ASSERT_EQ(records.size(), 4u);
  const int types[] = {22, 23, 23, 22};
  const int subtypes[] = {0, 0, 1, 1};
  const int depths[] = {1, 2, 2, 1};
  for (size_t i = 0; i < 4; i++) {
    const auto& r = static_cast<const RequestRecord&>(*records[i]);
    EXPECT_EQ(r.type, types[i]);
    EXPECT_EQ(r.subtype, subtypes[i]);
    EXPECT_EQ(r.depth, depths[i]);
  }
  const auto& page = static_cast<const RequestRecord&>(*records[0]);
  EXPECT_STREQ(page.url.get(), "/p");
  EXPECT_STREQ(page.detail.get(), "d1");
  EXPECT_STREQ(static_cast<const RequestRecord&>(*records[1]).detail.get(), "");
  const auto& end = static_cast<const RequestRecord&>(*records[3]);
  EXPECT_STREQ(end.requestName.get(), "page");
  EXPECT_STREQ(end.url.get(), "");
}

TEST_F(PortalRequestsTest, AnEndWithoutAStartGoesBelowZero) {
  endPortalRequest(env, gate(), EVENT_PORTLET, "let");
  EXPECT_EQ(data()->requestDepth, -1);
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(static_cast<const RequestRecord&>(*records[0]).depth, 0);
}

TEST_F(PortalRequestsTest, SingleRecordsCarryTheFiguresInTheirSlots) {
  sendPortalUserData(env, gate(), EVENT_PORTAL_LOGIN, 0xFFFFFFFF, -7);
  sendGatewayData(env, gate(), EVENT_PAGE_LOADING, 3, int64_t{1} << 40);
  const uint32_t counts[5] = {1, 2, 3, 4, 5};
  const int64_t totals[5] = {10, 20, 30, 40, 50};
  sendCredentialVaultData(env, gate(), counts, totals);
  sendContentAccessData(env, gate(), counts, totals);

  auto records = drain(data());
  ASSERT_EQ(records.size(), 4u);
  for (const auto& r : records) {
    EXPECT_EQ(r->subtype, SUBTYPE_SINGLE);
    EXPECT_NE(r->threadId, 0u);
    EXPECT_EQ(r->wallSeconds, 0u);  // no time stamps
  }
  const auto& login = static_cast<const PortalUserRecord&>(*records[0]);
  EXPECT_EQ(login.type, 18);
  EXPECT_EQ(login.number, 0xFFFFFFFFu);
  EXPECT_EQ(login.value, -7);
  EXPECT_EQ(login.nominalSize, 64);
  const auto& page = static_cast<const GatewayRecord&>(*records[1]);
  EXPECT_EQ(page.type, 36);
  EXPECT_EQ(page.value, int64_t{1} << 40);
  const auto& vault = static_cast<const CredentialVaultRecord&>(*records[2]);
  EXPECT_EQ(vault.counts[4], 5u);
  EXPECT_EQ(vault.totals[4], 50);
  EXPECT_EQ(vault.nominalSize, 128);
  const auto& content = static_cast<const ContentAccessRecord&>(*records[3]);
  EXPECT_EQ(content.counts[3], 4u);
  EXPECT_EQ(content.totals[3], 40);
  EXPECT_EQ(content.nominalSize, 112);
  EXPECT_EQ(data()->requestDepth, 0);
}

TEST_F(PortalRequestsTest, AClosedMemoryGateLetsOnlyTheMarkerThrough) {
  memoryGateClosed.store(true);
  sendPortalUserData(env, gate(), EVENT_PORTAL_LOGIN, 1, 2);
  sendPortalUserData(env, gate(), EVENT_PORTAL_LOGIN, 1, 2);
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->type, EVENT_DROP_NOTICE);
}

TEST_F(PortalRequestsTest, TheServletDepthIsTheThreadsRequestDepth) {
  startNativeHttpRequest(env, gate(), "r", "app", "/u", "");
  EXPECT_EQ(getServletDepth(env), 1);
  ThreadMgr* table = threadMgr;
  threadMgr = nullptr;
  CapturedOutput output;
  EXPECT_EQ(getServletDepth(env), 0);
  output.finish();
  threadMgr = table;
  EXPECT_NE(output.out().find("Can't get thread data"), std::string::npos);
}
