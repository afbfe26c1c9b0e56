// Producers, event agents and network agents all at once: every record that
// producer threads queue reaches the loopback collector exactly once, and the
// records of the ended threads are deleted on the way.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "config/ProbeState.h"
#include "config/ProbeStateTestAccess.h"
#include "config/PropertyMgr.h"
#include "events/EventRecords.h"
#include "events/ProtocolVisitor.h"
#include "platform/os.h"
#include "publish/EvtAgentMgr.h"
#include "publish/NetworkAgentMgr.h"
#include "publish/PsLookup.h"
#include "publish/PsLookupTestAccess.h"
#include "support/FakeJvmpi.h"
#include "support/LoopbackCollector.h"
#include "support/NullJniEnv.h"
#include "threads/MemoryMonitor.h"
#include "threads/ThreadData.h"
#include "threads/ThreadDrain.h"
#include "threads/ThreadMgr.h"

namespace {

int collectorPort = -1;

PsLookupAnswer lookup(JNIEnv*, PsAddress* out) {
  out->host = "127.0.0.1";
  out->port = collectorPort;
  out->sendBufferSize = 65536;
  return PsLookupAnswer::Found;
}

// Counts the method records in one connection's bytes; false when the
// stream does not parse (only the layouts this test makes are known).
bool countMethodRecords(const std::vector<uint8_t>& s, long* methods) {
  size_t at = 0;
  auto u16 = [&](size_t p) { return (size_t(s[p]) << 8) | s[p + 1]; };
  auto u32 = [&](size_t p) {
    return (uint32_t(s[p]) << 24) | (uint32_t(s[p + 1]) << 16) | (uint32_t(s[p + 2]) << 8) |
           s[p + 3];
  };
  while (at < s.size()) {
    if (at + 4 <= s.size() && u32(at) == 2000) {  // hello packet
      at += 4 + 13 + 5;
      for (int text = 0; text < 4; text++) {
        if (at + 2 > s.size()) return false;
        at += 2 + u16(at);
      }
      at += 4 + 2;
      continue;
    }
    if (at + 7 > s.size() || s[at] != 0) return false;
    uint32_t count = u32(at + 1);
    at += 7;
    for (uint32_t i = 0; i < count; i++) {
      if (at >= s.size()) return false;
      switch (s[at]) {
        case 2:
        case 3:
          (*methods)++;
          at += 27;
          break;
        case 39:
          at += 20;
          break;
        case 11:
          at += 31;
          break;
        default:
          return false;
      }
    }
  }
  return at == s.size();
}

TEST(PublishConcurrencyTest, EveryQueuedRecordArrivesOnce) {
  FakeJvmpi fake;
  fake.install();
  PropertyMgr::destroyInstance();
  PropertyMgr* props = PropertyMgr::instance();
  props->putProperty("internal.probe.publishing.frequency", "5");
  props->putProperty("networkagent.publish.frequency", "2");
  props->putProperty("eventagent.pool.size", "2");
  props->putProperty("networkagent.pool.size", "2");
  props->putProperty("networkagent.buffer.limit", "1000");
  resetProbeState();
  LoopbackCollector collector;
  collectorPort = collector.port();
  setPsLookupFunction(lookup);
  protocolVisitor = new ProtocolVisitor();
  memoryMonitor = new MemoryMonitor();
  memoryMonitor->start();
  threadMgr = new ThreadMgr();
  networkAgentMgr = new NetworkAgentMgr();
  evtAgentMgr = new EvtAgentMgr();
  installThreadDrain(evtAgentMgr);
  networkAgentMgr->start();
  evtAgentMgr->start();
  networkAgentMgr->setReconnectListener(evtAgentMgr);
  threadMgr->start();

  NullJniEnv agentEnvs[4];
  std::vector<std::thread> agents;
  for (int i = 0; i < 2; i++) {
    agents.emplace_back([&, i] { networkAgentMgr->runAgent(i, agentEnvs[i].env()); });
    agents.emplace_back([&, i] { evtAgentMgr->runAgent(i, agentEnvs[2 + i].env()); });
  }
  while (probeDisabled.load()) os::sleepMillis(1);
  // Both event agents' network agents connected: until then an event agent
  // rightly deletes an ended thread's records as undeliverable, which is not
  // what this test counts.
  for (int round = 0; round < 2000; round++) {
    if (networkAgentMgr->isConnected(evtAgentMgr->agent(0)) &&
        networkAgentMgr->isConnected(evtAgentMgr->agent(1)))
      break;
    os::sleepMillis(10);
  }

  constexpr int kProducers = 4;
  constexpr int kRecords = 1500;
  NullJniEnv producerEnvs[kProducers];
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; p++) {
    producers.emplace_back([&, p] {
      ThreadData* data = threadMgr->getThreadData(producerEnvs[p].env());
      ASSERT_NE(data, nullptr);
      for (int i = 0; i < kRecords; i++) {
        MethodEventRecord* r = new MethodEventRecord(i % 2);
        r->methodId = static_cast<uint32_t>(i);
        r->threadId = data->getThreadId();
        data->appendEvent(r);
        if (i % 100 == 0) std::this_thread::yield();
      }
      threadMgr->threadEnded(data);
    });
  }
  for (std::thread& t : producers) t.join();

  // Wait until every record arrived (or give up after a while).
  long methods = 0;
  for (int round = 0; round < 1000; round++) {
    methods = 0;
    bool parsed = true;
    for (size_t c = 0; c < collector.connections(); c++)
      parsed = parsed && countMethodRecords(collector.bytes(c), &methods);
    if (parsed && methods == kProducers * kRecords) break;
    os::sleepMillis(10);
  }
  EXPECT_EQ(methods, kProducers * kRecords);

  fake.setInstantWaits(true);
  networkAgentMgr->stop();
  networkAgentMgr->setReconnectListener(nullptr);
  evtAgentMgr->stop();
  for (std::thread& t : agents) t.join();
  // Only the agents' own records are left in the table: the producers'
  // records were deleted once drained.
  EXPECT_EQ(threadMgr->getThreadCount(), 2u);
  threadMgr->stop();
  installThreadDrain(nullptr);
  delete evtAgentMgr;
  delete networkAgentMgr;
  delete threadMgr;
  threadMgr = nullptr;
  delete memoryMonitor;
  delete protocolVisitor;
  protocolVisitor = nullptr;
  setPsLookupFunction(nullptr);
  resetProbeState();
  PropertyMgr::destroyInstance();
  fake.uninstall();
}

}  // namespace
