// Event agents, and their binding to network agents. The hello packet and
// the resend after a lost connection are checked in the JVM publishing tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/ProbeState.h"
#include "config/ProbeStateTestAccess.h"
#include "config/PropertyMgr.h"
#include "events/ClassEntry.h"
#include "events/EventRecords.h"
#include "events/ProtocolVisitor.h"
#include "events/WireCursor.h"
#include "platform/os.h"
#include "publish/ClassTableWalk.h"
#include "publish/EventAgent.h"
#include "publish/EventAgentTestAccess.h"
#include "publish/EvtAgentMgr.h"
#include "publish/NetworkAgent.h"
#include "publish/NetworkAgentMgr.h"
#include "publish/PacketDrain.h"
#include "publish/PsLookup.h"
#include "publish/PsLookupTestAccess.h"
#include "support/CycleStepper.h"
#include "support/FakeJvmpi.h"
#include "support/LoopbackCollector.h"
#include "support/NullJniEnv.h"
#include "support/TestSupport.h"
#include "threads/ThreadData.h"
#include "threads/ThreadDrain.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

std::atomic<int> lookupPort{-1};

PsLookupAnswer fakeLookup(JNIEnv*, PsAddress* out) {
  if (lookupPort.load() < 0) return PsLookupAnswer::NotFound;
  out->host = "127.0.0.1";
  out->port = lookupPort.load();
  out->sendBufferSize = 65536;
  return PsLookupAnswer::Found;
}

uint32_t u32At(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

MethodEventRecord* method(int subtype, uint32_t id = 1) {
  MethodEventRecord* r = new MethodEventRecord(subtype);
  r->methodId = id;
  return r;
}

// One class of the class table whose record was queued once already.
ClassEntry announcedClass;

class EventAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.install();
    fake.setInstantWaits(true);
    PropertyMgr::destroyInstance();
    set("internal.probe.publishing.frequency", "10");
    set("networkagent.publish.frequency", "10");
    resetProbeState();
    protocolVisitor = new ProtocolVisitor();
    threadMgr = new ThreadMgr();
    threadMgr->start();
    setPsLookupFunction(fakeLookup);
    lookupPort = -1;
    CycleStepper::install();
    announcedClass.className.reset(new char[4]);
    std::memcpy(announcedClass.className.get(), "Foo", 4);
    announcedClass.sequenceNumber = 5;
    announcedClass.classEventState = 0;
    announcedClass.holders = 1;  // the class table's hold
  }

  void TearDown() override {
    stopAll();
    for (EventAgent* a : loose) {
      EventAgentTestAccess::detach(*a);
      delete a;
    }
    CycleStepper::uninstall();
    setPsLookupFunction(nullptr);
    threadMgr->stop();
    delete threadMgr;
    threadMgr = nullptr;
    delete protocolVisitor;
    protocolVisitor = nullptr;
    resetProbeState();
    PropertyMgr::destroyInstance();
    fake.uninstall();
  }

  void set(const char* key, const char* value) { PropertyMgr::instance()->putProperty(key, value); }

  // An agent without manager, its loop's set-up done on this thread.
  EventAgent* looseAgent() {
    EventAgent* a = new EventAgent(nullptr, 0);
    EventAgentTestAccess::attach(*a, envs[loose.size()].env());
    loose.push_back(a);
    return a;
  }

  // A monitored thread's record in the table, not handed to any agent.
  ThreadData* thread(uint32_t key, const char* name = "worker") {
    ThreadData* data = threadMgr->getSpecialThreadData(key);
    data->setThreadNames(name, "main");
    return data;
  }

  // Starts the managers and runs every agent's loop on a thread of its own
  // with an env of its own.
  void startAll() {
    networkAgentMgr = new NetworkAgentMgr();
    evtAgentMgr = new EvtAgentMgr();
    installThreadDrain(evtAgentMgr);
    networkAgentMgr->start();
    evtAgentMgr->start();
    networkAgentMgr->setReconnectListener(evtAgentMgr);
    for (int i = 0; i < networkAgentMgr->getPoolSize(); i++)
      threads.emplace_back([i, this] { networkAgentMgr->runAgent(i, netEnvs[i].env()); });
    for (int i = 0; i < evtAgentMgr->getPoolSize(); i++)
      threads.emplace_back([i, this] { evtAgentMgr->runAgent(i, envs[i].env()); });
    for (int i = 0; i < networkAgentMgr->getPoolSize(); i++)
      ASSERT_TRUE(CycleStepper::waitUntilHeld(networkAgentMgr->agent(i)));
    for (int i = 0; i < evtAgentMgr->getPoolSize(); i++)
      ASSERT_TRUE(CycleStepper::waitUntilHeld(evtAgentMgr->agent(i)));
  }

  void stopAll() {
    if (!evtAgentMgr) return;
    CycleStepper::freeRun();
    networkAgentMgr->stop();
    networkAgentMgr->setReconnectListener(nullptr);
    evtAgentMgr->stop();
    for (std::thread& t : threads) t.join();
    threads.clear();
    installThreadDrain(nullptr);
    delete evtAgentMgr;
    delete networkAgentMgr;
    evtAgentMgr = nullptr;
    networkAgentMgr = nullptr;
  }

  FakeJvmpi fake;
  NullJniEnv envs[4];
  NullJniEnv netEnvs[2];
  std::vector<EventAgent*> loose;
  std::vector<std::thread> threads;
};

TEST_F(EventAgentTest, DataPacketCarriesTheCountAndTheRecordsInQueueOrder) {
  EventAgent* a = looseAgent();
  EXPECT_EQ(a->buildDataPacket(), 0u) << "an empty cycle";
  ThreadData* t = thread(0x100);
  ASSERT_TRUE(a->manageThreadData(t));
  t->appendEvent(method(SUBTYPE_BEGIN, 5));
  t->appendEvent(method(SUBTYPE_END, 5));
  t->appendEvent(new EmptyRecord());
  t->appendEvent(method(SUBTYPE_BEGIN, 6));
  t->appendEvent(new SamplingRatesRecord(SUBTYPE_SINGLE));
  uint32_t length = a->buildDataPacket();
  ASSERT_EQ(length, 7u + 3 * 27 + 20);
  const uint8_t* p = a->packetBuffer();
  const uint8_t head[] = {0, 0, 0, 0, 4, 0x7F, 0x7F};
  EXPECT_EQ(std::memcmp(p, head, 7), 0);
  EXPECT_EQ(p[7], 2);
  EXPECT_EQ(p[7 + 27], 3);
  EXPECT_EQ(p[7 + 54], 2);
  EXPECT_EQ(u32At(p + 7 + 54 + 5), 6u);
  EXPECT_EQ(t->queueLength(), 0);
  EXPECT_EQ(t->queuedBytes(), 0);
  // The batch is booked in the counter of each record's kind.
  EventQueue::ByteCounts counts = t->byteCounts();
  EXPECT_EQ(counts.classTaken, 3 * 64);
  EXPECT_EQ(counts.taken, counts.queued);
}

TEST_F(EventAgentTest, QueueThreeOverTheLimitIsTrimmedWithADropNotice) {
  EventAgent* a = looseAgent();
  ThreadData* t = thread(0x200, "T1");
  ASSERT_TRUE(a->manageThreadData(t));
  ClassRecord* c = new ClassRecord(SUBTYPE_CLASS_LOAD);
  c->classEntry = &announcedClass;
  t->appendEvent(c);
  t->appendEvent(method(SUBTYPE_BEGIN));
  t->appendEvent(method(SUBTYPE_BEGIN));
  for (int i = 0; i < 4997; i++) t->appendEvent(method(SUBTYPE_END));
  // Sampling-rate records are queued beyond the limit.
  for (int i = 0; i < 3; i++) t->appendEvent(new SamplingRatesRecord(SUBTYPE_SINGLE));
  ASSERT_EQ(t->queueLength(), 5003);

  uint32_t length = 0;
  std::string log = captured([&] { length = a->buildDataPacket(); });
  EXPECT_CONTAINS(log, "Events dropped 2 for thread T1 as they exceeded event queue limit of 5000")
      << log.substr(0, 2000);

  const uint8_t* p = a->packetBuffer();
  EXPECT_EQ(u32At(p + 1), 1u + 1 + 4997 + 3);  // notice, class, methods, rates
  // The drop notice comes first: tag 11, the thread id, six counts.
  EXPECT_EQ(p[7], 11);
  EXPECT_EQ(u32At(p + 8), t->getThreadId());
  const uint32_t counts[6] = {0, 0, 2, 0, 0, 0};
  for (int k = 0; k < 6; k++) EXPECT_EQ(u32At(p + 12 + 4 * k), counts[k]) << k;
  // Then the class record that trimming kept at the front.
  EXPECT_EQ(p[7 + 31], 1);
  EXPECT_EQ(u32At(p + 7 + 31 + 1), 5u);
  const size_t classBytes = 1 + 4 + 2 + 3 + 4 + 2;
  EXPECT_EQ(p[7 + 31 + classBytes], 3);  // the first method exit
  EXPECT_EQ(length, 7 + 31 + classBytes + 4997 * 27 + 3 * 20);
  EXPECT_EQ(t->queueLength(), 0);
  EXPECT_EQ(t->queuedBytes(), 0);
}

TEST_F(EventAgentTest, RecordsRefusedByAFullQueueAreReported) {
  set("internal.probe.event.queue.size.limit", "3");
  ThreadMgr table;  // its records' queues take the limit of 3
  EventAgent* a = looseAgent();
  ThreadData* t = table.getSpecialThreadData(0x300);
  t->setThreadNames("T2", "main");
  ASSERT_TRUE(a->manageThreadData(t));
  for (int i = 0; i < 6; i++) t->appendEvent(method(SUBTYPE_BEGIN));
  std::string log = captured([&] { a->buildDataPacket(); });
  // Three refused by the queue, and one more trimmed: the drop notice of the
  // overflow took the queue over its limit.
  EXPECT_CONTAINS(log, "Events dropped 4 for thread T2 as they exceeded event queue limit of 3");
  EXPECT_EQ(t->takeDroppedEvents(), 0);
  EventAgentTestAccess::detach(*a);
}

TEST_F(EventAgentTest, RecordLargerThanTheSlackIsAnnouncedByADropNotice) {
  set("internal.probe.event.packet.size", "1");  // a buffer of 1 KB + 1 MB
  EventAgent* a = looseAgent();
  ThreadData* t = thread(0x500);
  ASSERT_TRUE(a->manageThreadData(t));
  t->appendEvent(method(SUBTYPE_BEGIN));
  MqiRecord* big = new MqiRecord(SUBTYPE_SINGLE);
  big->count = 200000;  // 13 bytes an element: about 2.6 MB
  big->ops.reset(new uint8_t[big->count]());
  big->values.reset(new uint32_t[big->count]());
  big->times.reset(new int64_t[big->count]());
  t->appendEvent(big);
  t->appendEvent(method(SUBTYPE_END));

  uint32_t length = 0;
  std::string log = captured([&] {
    length = a->buildDataPacket();
    a->buildDataPacket();
  });
  // The entry, a drop notice with the thread's id in place of the record
  // (it counts in none of the six kinds), then the exit.
  EXPECT_EQ(length, 7u + 27 + 31 + 27);
  const uint8_t* p = a->packetBuffer();
  EXPECT_EQ(u32At(p + 1), 3u);
  EXPECT_EQ(p[7 + 27], 11);
  EXPECT_EQ(u32At(p + 7 + 27 + 1), t->getThreadId());
  for (int k = 0; k < 6; k++) EXPECT_EQ(u32At(p + 7 + 27 + 5 + 4 * k), 0u) << k;
  EXPECT_EQ(p[7 + 27 + 31], 3);
  EXPECT_CONTAINS(log, "Record of type 17 too large for a packet dropped");
  EXPECT_EQ(log.find("exceeded event queue limit"), std::string::npos) << log;
  EXPECT_EQ(t->queuedBytes(), 0);
}

TEST_F(EventAgentTest, DeadThreadWithoutAQueueIsDeleted) {
  EventAgent* a = looseAgent();
  ThreadData* t = new ThreadData(0x580, nullptr);
  ASSERT_TRUE(a->manageThreadData(t));
  threadMgr->threadEnded(t);
  std::string log = captured([&] { a->buildDataPacket(); });
  EXPECT_CONTAINS(log, "Prepare2send, Event Queue NULL for Thread, TID: 1408");
  EXPECT_EQ(a->managedCount(), 1) << "deleted at the end of the cycle";
}

// The drain on its own, over a list and a cursor: the record crossing the
// limit stays in the packet, the rest goes back to the front of its queue,
// an ended thread leaves the list only once its queue is empty, and the kept
// queue never does. During an outage an ended thread leaves with its records.
TEST_F(EventAgentTest, DrainPutsBackWhatDoesNotFitAndRetiresEndedThreadsOnceEmpty) {
  ThreadData* kept = thread(0x700);
  ThreadData* ended = thread(0x708);
  ThreadData* idle = thread(0x710);
  std::vector<ThreadData*> list{kept, ended, idle};
  PacketDrain drain(list, 0, 5000);
  for (uint32_t id = 1; id <= 4; id++) ended->appendEvent(method(SUBTYPE_BEGIN, id));
  threadMgr->threadEnded(ended);
  threadMgr->threadEnded(kept);
  idle->appendEvent(method(SUBTYPE_END, 9));
  uint8_t buffer[1024];
  WireCursor first(buffer, sizeof buffer);
  EXPECT_EQ(drain.fill(first, buffer + 27, nullptr, kept), 2u);
  EXPECT_EQ(first.position() - buffer, 54);
  EXPECT_EQ(ended->queueLength(), 2);
  EXPECT_EQ(idle->queueLength(), 1) << "the packet was full";
  EXPECT_EQ(list, (std::vector<ThreadData*>{kept, ended, idle}));

  WireCursor second(buffer, sizeof buffer);
  EXPECT_EQ(drain.fill(second, buffer + 1000, nullptr, kept), 3u);
  EXPECT_EQ(u32At(buffer + 5), 3u) << "the records put back come first, in order";
  EXPECT_EQ(u32At(buffer + 27 + 5), 4u);
  EXPECT_EQ(list, (std::vector<ThreadData*>{kept, idle}));

  ThreadData* gone = thread(0x718);
  for (int i = 0; i < 7; i++) gone->appendEvent(method(SUBTYPE_BEGIN));
  threadMgr->threadEnded(gone);
  for (int i = 0; i < 1500; i++) idle->appendEvent(method(SUBTYPE_BEGIN));
  list.push_back(gone);
  EXPECT_EQ(drain.trimForOutage(1000, kept, false), 7 + 500);
  EXPECT_EQ(list, (std::vector<ThreadData*>{kept, idle}));
  EXPECT_EQ(idle->queueLength(), 1000);
  threadMgr->deleteThreadData(kept);  // ended but never retired: the list keeps it
}

TEST_F(EventAgentTest, PsDownTrimmingStartsAfterThirtySeconds) {
  set("internal.probe.publishing.frequency", "1000");
  EventAgent* a = looseAgent();
  ASSERT_EQ(a->psDownCyclesToTrim(), 30);
  ThreadData* live = thread(0x600);
  ThreadData* dead = thread(0x608);
  ASSERT_TRUE(a->manageThreadData(live));
  ASSERT_TRUE(a->manageThreadData(dead));
  ClassRecord* c = new ClassRecord(SUBTYPE_CLASS_LOAD);
  c->classEntry = &announcedClass;
  live->appendEvent(c);
  for (int i = 0; i < 1500; i++) live->appendEvent(method(SUBTYPE_BEGIN));
  for (int i = 0; i < 7; i++) dead->appendEvent(method(SUBTYPE_BEGIN));
  threadMgr->threadEnded(dead);

  std::string log = captured([&] {
    for (int i = 0; i < 29; i++) a->psDownTrim();
  });
  // The dead thread went at the first cycle; the live one is left alone.
  EXPECT_CONTAINS(log, "Deleted 7 (all) events in dead thread TID: ");
  EXPECT_EQ(a->managedCount(), 2);
  EXPECT_EQ(live->queueLength(), 1501);
  EXPECT_CONTAINS(log, "##OverAll events dropped/deleted when PS down: 7 \n");
  EXPECT_CONTAINS(log, "##OverAll events dropped/deleted when PS down: 0, log message now off");
  a->psDownTrim();  // the thirtieth: 30 seconds have passed
  EXPECT_EQ(a->psDownThreshold(), 1000);
  // 501 records taken off the front: the class record among them is kept.
  EXPECT_EQ(live->queueLength(), 1001);
  EventRecord* first = live->takeFirst();
  EXPECT_EQ(first->type, 1);
  delete first;
}

TEST_F(EventAgentTest, ThreadsAreAssignedRoundRobinToAliveAgents) {
  set("eventagent.pool.size", "3");
  EvtAgentMgr mgr;
  evtAgentMgr = &mgr;
  mgr.start();
  EXPECT_FALSE(mgr.manageThreadData(thread(0x700)));  // the master does not run yet
  for (int i = 0; i < 3; i++) EventAgentTestAccess::attach(*mgr.agent(i), envs[i].env());
  mgr.setMasterRunning(true);
  for (uint32_t k = 0; k < 4; k++) ASSERT_TRUE(mgr.manageThreadData(thread(0x800 + 8 * k)));
  EXPECT_EQ(mgr.agent(0)->managedCount(), 1 + 2);
  EXPECT_EQ(mgr.agent(1)->managedCount(), 1 + 1);
  EXPECT_EQ(mgr.agent(2)->managedCount(), 1 + 1);

  // With agent 1 not alive its turns go to agent 0.
  EventAgentTestAccess::detach(*mgr.agent(1));
  for (uint32_t k = 0; k < 3; k++) ASSERT_TRUE(mgr.manageThreadData(thread(0x900 + 8 * k)));
  EXPECT_EQ(mgr.agent(0)->managedCount(), 3 + 2);
  EXPECT_EQ(mgr.agent(2)->managedCount(), 2 + 1);
  EXPECT_FALSE(mgr.manageThreadData(nullptr));

  for (int i = 0; i < 3; i++) EventAgentTestAccess::detach(*mgr.agent(i));
  mgr.stop();
  EXPECT_EQ(mgr.master(), nullptr);
  EXPECT_FALSE(mgr.manageThreadData(thread(0xA00)));
  evtAgentMgr = nullptr;
}

TEST_F(EventAgentTest, TwoNetworkAgentsServeThreeEventAgentsRoundRobin) {
  LoopbackCollector collector;
  lookupPort = collector.port();
  set("eventagent.pool.size", "3");
  set("networkagent.pool.size", "2");
  startAll();
  ASSERT_TRUE(collector.waitForConnections(2));
  // Each event agent binds at its first cycle; step them in id order.
  for (int i = 0; i < 3; i++) ASSERT_TRUE(CycleStepper::step(evtAgentMgr->agent(i)));
  EXPECT_EQ(networkAgentMgr->agentFor(evtAgentMgr->agent(0)), networkAgentMgr->agent(0));
  EXPECT_EQ(networkAgentMgr->agentFor(evtAgentMgr->agent(1)), networkAgentMgr->agent(1));
  EXPECT_EQ(networkAgentMgr->agentFor(evtAgentMgr->agent(2)), networkAgentMgr->agent(0));
  // Only the master's network agent carries the hello packet.
  EXPECT_EQ(networkAgentMgr->agent(0)->queuedPackets(), 2 + 1);
  EXPECT_EQ(networkAgentMgr->agent(1)->queuedPackets(), 1);
}

// The connection drops with a packet still queued: the new connection gets
// the hello packet and the class records first, then the kept packet, then
// the new data; the records the old collector got are not sent again.
TEST_F(EventAgentTest, KeptPacketsFollowTheHelloAndClassRecordsOfTheNewConnection) {
  setClassTableWalker([](ClassVisitor visit, void* context) { visit(&announcedClass, context); });
  LoopbackCollector collector;
  lookupPort = collector.port();
  startAll();
  ASSERT_TRUE(collector.waitForConnections(1));
  EventAgent* master = evtAgentMgr->agent(0);
  NetworkAgent* net = networkAgentMgr->agent(0);
  ThreadData* t = thread(0x100);
  ASSERT_TRUE(evtAgentMgr->manageThreadData(t));
  auto publish = [&](uint32_t methodId) {
    t->appendEvent(method(SUBTYPE_BEGIN, methodId));
    return CycleStepper::step(master);
  };
  // Where the class name and each method id are in a connection's bytes.
  auto at = [&](size_t connection, uint32_t v) {
    std::vector<uint8_t> bytes = collector.bytes(connection);
    std::string what = v ? std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)} : "Foo";
    return std::search(bytes.begin(), bytes.end(), what.begin(), what.end()) - bytes.begin();
  };
  // Waits until a method id has arrived on a connection.
  auto arrived = [&](size_t connection, uint32_t v) {
    for (int i = 0; i < 500 && at(connection, v) == long(collector.bytes(connection).size()); i++)
      os::sleepMillis(10);
    return at(connection, v) < long(collector.bytes(connection).size());
  };
  ASSERT_TRUE(publish(0x5A5A0001));  // the hello packet and a data packet
  ASSERT_TRUE(CycleStepper::step(net));
  // Read by the collector before it goes away (bytes it never read are lost).
  ASSERT_TRUE(arrived(0, 0x5A5A0001));
  ASSERT_TRUE(publish(0x5A5A0002));
  collector.dropConnections();
  ASSERT_TRUE(CycleStepper::step(net));  // noticed, reconnected, the packet kept
  ASSERT_TRUE(collector.waitForConnections(2));
  ASSERT_TRUE(CycleStepper::step(net));  // the kept packet waits for the opening
  ASSERT_TRUE(publish(0x5A5A0003));      // hello, class records, data
  for (int i = 0; i < 2; i++) ASSERT_TRUE(CycleStepper::step(net));

  ASSERT_TRUE(arrived(1, 0x5A5A0003));
  std::vector<uint8_t> first = collector.bytes(0), second = collector.bytes(1);
  EXPECT_EQ(second[0], first[0]) << "the hello packet first";
  EXPECT_EQ(at(1, 0x5A5A0001), static_cast<long>(second.size())) << "sent twice";
  EXPECT_LT(at(1, 0), at(1, 0x5A5A0002));
  EXPECT_LT(at(1, 0x5A5A0002), at(1, 0x5A5A0003));
  EXPECT_LT(at(1, 0x5A5A0003), static_cast<long>(second.size()));
  setClassTableWalker(nullptr);
}

}  // namespace
