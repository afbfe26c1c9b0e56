// Network agents against a loopback collector, and the platform's sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/ProbeState.h"
#include "config/ProbeStateTestAccess.h"
#include "config/PropertyMgr.h"
#include "platform/os.h"
#include "publish/EvtAgentMgr.h"
#include "publish/NetworkAgent.h"
#include "publish/NetworkAgentMgr.h"
#include "publish/PacketBuffer.h"
#include "publish/PsLookup.h"
#include "publish/PsLookupTestAccess.h"
#include "support/CycleStepper.h"
#include "support/FakeJvmpi.h"
#include "support/LoopbackCollector.h"
#include "support/TestSupport.h"

namespace {

// What the stand-in of the Java lookup answers.
std::atomic<int> lookupPort{-1};

PsLookupAnswer fakeLookup(JNIEnv*, PsAddress* out) {
  int port = lookupPort.load();
  if (port < 0) return PsLookupAnswer::NotFound;
  out->host = "127.0.0.1";
  out->port = port;
  out->sendBufferSize = 65536;
  return PsLookupAnswer::Found;
}

using packet = std::vector<uint8_t>;  // packet(length, fill)

class NetworkAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.install();
    fake.setInstantWaits(true);
    PropertyMgr::destroyInstance();
    set("networkagent.publish.frequency", "10");
    setPsLookupFunction(fakeLookup);
    lookupPort = -1;
    CycleStepper::install();
  }

  void TearDown() override {
    stopAgents();
    CycleStepper::uninstall();
    setPsLookupFunction(nullptr);
    resetProbeState();
    PropertyMgr::destroyInstance();
    fake.uninstall();
  }

  void set(const char* key, const char* value) { PropertyMgr::instance()->putProperty(key, value); }

  // Makes and starts the manager and runs every agent's loop on a thread.
  void startAgents() {
    mgr = new NetworkAgentMgr();
    networkAgentMgr = mgr;
    mgr->start();
    for (int i = 0; i < mgr->getPoolSize(); i++)
      threads.emplace_back([this, i] { mgr->runAgent(i, nullptr); });
  }

  void stopAgents() {
    if (!mgr) return;
    CycleStepper::freeRun();
    mgr->stop();
    for (std::thread& t : threads) t.join();
    threads.clear();
    delete mgr;
    mgr = nullptr;
  }

  NetworkAgent* agent(int id = 0) { return mgr->agent(id); }

  // Starts one agent connected to the collector and holds it between cycles.
  void startConnected() {
    lookupPort = collector.port();
    startAgents();
    ASSERT_TRUE(CycleStepper::waitUntilHeld(agent()));
    ASSERT_TRUE(agent()->isConnected());
    ASSERT_TRUE(collector.waitForConnections(1));
  }

  bool sendPacket(const std::vector<uint8_t>& bytes) {
    return agent()->send(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }

  FakeJvmpi fake;
  LoopbackCollector collector;
  NetworkAgentMgr* mgr = nullptr;
  std::vector<std::thread> threads;
};

TEST_F(NetworkAgentTest, WritesOnePacketPerCycleAndDiscardsEmptyOnes) {
  startConnected();
  ASSERT_TRUE(agent()->send(nullptr, 0));
  ASSERT_TRUE(CycleStepper::step(agent()));  // the empty one: nothing written
  EXPECT_EQ(agent()->queuedPackets(), 0);
  for (uint8_t fill : {1, 2, 3}) ASSERT_TRUE(sendPacket(packet(10, fill)));
  EXPECT_EQ(agent()->pendingBytes(), 30);
  EXPECT_EQ(mgr->pendingBytesTotal(), 30u);

  for (int n : {1, 2}) {
    ASSERT_TRUE(CycleStepper::step(agent()));
    ASSERT_TRUE(collector.waitForBytes(0, 10u * n));
    EXPECT_EQ(collector.bytes(0).size(), 10u * n);
    EXPECT_EQ(collector.bytes(0)[10 * n - 1], n);
    EXPECT_EQ(agent()->pendingBytes(), 30 - 10 * n);
  }
}

TEST_F(NetworkAgentTest, EleventhQueuedPacketIsRefused) {
  startConnected();
  for (int i = 0; i < 10; i++) ASSERT_TRUE(sendPacket(packet(100, static_cast<uint8_t>(i))));
  EXPECT_CONTAINS(captured([&] { EXPECT_FALSE(sendPacket(packet(100, 99))); }),
                  "Queue full, buffer limit reached");
  EXPECT_EQ(agent()->pendingBytes(), 1000);

  // One cycle makes room for one more.
  ASSERT_TRUE(CycleStepper::step(agent()));
  EXPECT_TRUE(sendPacket(packet(100, 100)));
}

TEST_F(NetworkAgentTest, LookupFailuresAreLoggedFiveTimesThenFallSilent) {
  startAgents();
  ASSERT_TRUE(CycleStepper::waitUntilHeld(agent()));  // first failure done
  std::string log = captured([&] {
    EXPECT_FALSE(sendPacket(packet(4, 1)));
    for (int i = 0; i < 8; i++) ASSERT_TRUE(CycleStepper::step(agent()));
  });
  EXPECT_CONTAINS(log, "NetworkAgent Thread is not started/alive/ready, rejecting send data");
  // Nine failures in all; the first was before the capture.
  EXPECT_EQ(countOf(log, "Could not obtain PS proxy details from Kernel.\n") +
                countOf(log, "Could not obtain PS proxy details from Kernel. \n"),
            4)
      << log;
  EXPECT_EQ(countOf(log, "retry and log message is now off"), 1);
  EXPECT_EQ(countOf(log, "PSLookup not successful"), 5);

  // Once the address is known the agent connects at its next cycle.
  lookupPort = collector.port();
  ASSERT_TRUE(CycleStepper::step(agent()));
  EXPECT_TRUE(agent()->isConnected());
  EXPECT_TRUE(collector.waitForConnections(1));
}

TEST_F(NetworkAgentTest, ConnectionRefusedIsRetriedEveryCycle) {
  int freePort;
  {
    LoopbackCollector gone(false);
    freePort = gone.port();
  }
  lookupPort = freePort;
  std::string log = captured([&] {
    startAgents();
    ASSERT_TRUE(CycleStepper::waitUntilHeld(agent()));
    ASSERT_TRUE(CycleStepper::step(agent()));
  });
  EXPECT_EQ(countOf(log, "Socket connect not successful"), 2) << log;
  EXPECT_CONTAINS(log, "socket connect() failure [127.0.0.1:" + std::to_string(freePort));
  EXPECT_FALSE(agent()->isConnected());
}

// The collector goes away between two cycles: the agent notices without
// writing into the closed connection, reconnects in the same cycle, and
// writes what was queued on the new connection, in order.
TEST_F(NetworkAgentTest, ACollectorThatWentAwayGetsNothingAndTheNextGetsTheQueue) {
  EvtAgentMgr evt;  // not started: no master, so no opening is awaited
  startConnected();
  mgr->setReconnectListener(&evt);
  for (uint8_t fill : {1, 2, 3}) ASSERT_TRUE(sendPacket(packet(10, fill)));
  ASSERT_TRUE(CycleStepper::step(agent()));
  ASSERT_TRUE(collector.waitForBytes(0, 10));

  collector.dropConnections();
  std::string log = captured([&] { ASSERT_TRUE(CycleStepper::step(agent())); });
  EXPECT_CONTAINS(log, "Write failed, looks like socket is down, retrying to connect to PS");
  EXPECT_CONTAINS(log, "Successfully connected to PS socket");
  EXPECT_FALSE(evt.isInitComplete()) << "the event agents were told to resend";
  ASSERT_TRUE(collector.waitForConnections(2));
  EXPECT_EQ(agent()->pendingBytes(), 20) << "the queue stayed";
  for (int i = 0; i < 2; i++) ASSERT_TRUE(CycleStepper::step(agent()));
  ASSERT_TRUE(collector.waitForBytes(1, 20));
  std::vector<uint8_t> expected = packet(10, 2);
  expected.insert(expected.end(), 10, 3);
  EXPECT_EQ(collector.bytes(1), expected);
  EXPECT_EQ(collector.bytes(0).size(), 10u);
  mgr->setReconnectListener(nullptr);
}

// Buffers handed over (not copied) are written whole and in order on the
// connection after a lost one, refused ones stay with the sender, and each
// goes back to its pool only once written: a buffer back too early would be
// taken again and overwritten while still queued.
TEST_F(NetworkAgentTest, HandedOverBuffersOutliveAReconnectionAndReturnOnceWritten) {
  set("networkagent.buffer.limit", "3");
  EvtAgentMgr evt;
  startConnected();
  mgr->setReconnectListener(&evt);
  std::shared_ptr<PacketPool> pool = PacketPool::create(64);
  auto filled = [&](uint8_t fill) {
    PacketBuffer b = pool->take();
    std::memset(b.data(), fill, 64);
    return b;
  };
  for (uint8_t fill : {1, 2, 3}) {
    PacketBuffer b = filled(fill);
    ASSERT_TRUE(agent()->send(b, 10));
    EXPECT_FALSE(b) << "taken over";
  }
  PacketBuffer refused = filled(4);
  EXPECT_FALSE(agent()->send(refused, 10));
  EXPECT_TRUE(refused) << "a refused buffer stays with its sender";
  ASSERT_TRUE(CycleStepper::step(agent()));
  ASSERT_TRUE(collector.waitForBytes(0, 10));
  PacketBuffer scribbles[3] = {filled(0xEE), filled(0xEE), filled(0xEE)};

  collector.dropConnections();
  for (int i = 0; i < 3; i++) ASSERT_TRUE(CycleStepper::step(agent()));
  ASSERT_TRUE(collector.waitForBytes(1, 20));
  std::vector<uint8_t> expected = packet(10, 2);
  expected.insert(expected.end(), 10, 3);
  EXPECT_EQ(collector.bytes(1), expected);
  EXPECT_EQ(agent()->pendingBytes(), 0);
  EXPECT_EQ(pool->freeCount(), PacketPool::kKeptFree);
  mgr->setReconnectListener(nullptr);
}

// A write that fails (here: the collector stops reading and the send time-out
// passes) keeps its packet whole for the next connection.
TEST_F(NetworkAgentTest, APacketWhoseWriteFailedIsKeptWhole) {
  set("networkagent.socket.timeout", "1");
  LoopbackCollector silent(false);
  lookupPort = silent.port();
  startAgents();
  ASSERT_TRUE(CycleStepper::waitUntilHeld(agent()));
  const int size = 32 * 1024 * 1024;
  ASSERT_TRUE(sendPacket(packet(size, 8)));
  std::string log = captured([&] { ASSERT_TRUE(CycleStepper::step(agent(), 20000)); });
  EXPECT_CONTAINS(log, "Write failed, looks like socket is down, retrying to connect to PS");
  EXPECT_FALSE(agent()->isConnected());
  EXPECT_EQ(agent()->queuedPackets(), 1);
  EXPECT_EQ(agent()->pendingBytes(), size);
}

TEST_F(NetworkAgentTest, PeriodicResetRebuildsTheConnection) {
  set("networkagent.socket.resettime", "30");  // three cycles of 10 ms
  startConnected();
  // The cycle that connected was the first; the third resets and reconnects.
  EXPECT_TRUE(CycleStepper::step(agent()));
  EXPECT_EQ(collector.connections(), 1u);
  EXPECT_TRUE(CycleStepper::step(agent()));
  EXPECT_TRUE(collector.waitForConnections(2));
  EXPECT_TRUE(agent()->isConnected());
}

// A bind to the configured local address, or none without one; a failed
// bind (the port is in use) carries on unbound.
TEST_F(NetworkAgentTest, BindsOnlyToAConfiguredLocalAddress) {
  const std::string port = std::to_string(collector.port());
  const char* settings[][3] = {{"", "1", ""},
                               {"127.0.0.1", "0", "Socket bind successful [127.0.0.1:0]"},
                               {"127.0.0.1", port.c_str(), "socket bind() failure [127.0.0.1:"}};
  for (auto& setting : settings) {
    if (*setting[0]) set("networkagent.socket.ip", setting[0]);
    set("networkagent.socket.port", setting[1]);
    std::string log = captured([&] { startConnected(); });
    if (*setting[2])
      EXPECT_CONTAINS(log, setting[2]);
    else
      EXPECT_EQ(log.find("bind"), std::string::npos) << log;
    stopAgents();
    CycleStepper::uninstall();
    CycleStepper::install();
  }
}

TEST_F(NetworkAgentTest, FrequencyOfZeroOrLessIsTheDefault) {
  set("networkagent.socket.resettime", "60000");
  for (const char* frequency : {"0", "-20"}) {
    set("networkagent.publish.frequency", frequency);
    NetworkAgent agent(nullptr, 0);
    EXPECT_EQ(agent.frequencyMs(), 500);
    EXPECT_EQ(agent.resetCycles(), 120);
  }
}

TEST_F(NetworkAgentTest, StopEndsAWriteBlockedOnACollectorThatStoppedReading) {
  LoopbackCollector silent(false);  // connections wait in the backlog, unread
  lookupPort = silent.port();
  startAgents();
  ASSERT_TRUE(CycleStepper::waitUntilHeld(agent()));
  ASSERT_TRUE(agent()->isConnected());
  std::vector<uint8_t> big = packet(32 * 1024 * 1024, 8);
  ASSERT_TRUE(sendPacket(big));
  CycleStepper::freeRun();
  // Give the agent time to fill the socket buffers and block in the write.
  os::sleepMillis(200);
  int64_t before = os::monotonicMillis();
  stopAgents();
  EXPECT_LT(os::monotonicMillis() - before, 5000);
}

TEST(SocketTest, OptionsAreReadBackAndBadInputIsRefused) {
  std::string dotted;
  ASSERT_EQ(os::resolveHost("localhost", &dotted), 0);
  EXPECT_EQ(dotted, "127.0.0.1");
  os::SocketHandle s;
  ASSERT_EQ(os::socketCreate(&s), 0);
  os::SocketOptions before;
  ASSERT_EQ(os::socketGetOptions(s, &before), 0);
  EXPECT_EQ(before.sendTimeoutSec, 0);
  EXPECT_EQ(before.receiveTimeoutSec, 0);
  EXPECT_EQ(os::socketSetSendBufferSize(s, 65536), 0);
  EXPECT_EQ(os::socketSetSendTimeout(s, 2), 0);
  EXPECT_EQ(os::socketSetReceiveTimeout(s, 5), 0);
  os::SocketOptions set;
  ASSERT_EQ(os::socketGetOptions(s, &set), 0);
  EXPECT_EQ(set.sendTimeoutSec, 2);
  EXPECT_EQ(set.receiveTimeoutSec, 5);
  EXPECT_GE(set.sendBufferBytes, 65536);
  EXPECT_NE(set.sendBufferBytes, before.sendBufferBytes);
  EXPECT_NE(os::socketConnect(s, "127.0.0.1", 70000), 0);
  EXPECT_NE(os::socketConnect(s, nullptr, 80), 0);
  EXPECT_FALSE(os::errorText(EPIPE).empty());
  EXPECT_EQ(os::socketClose(s), 0);
  EXPECT_NE(os::socketClose(s), 0);
}

}  // namespace
