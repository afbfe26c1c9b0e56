// An event agent: the drain side of the per-thread event queues assigned to
// it. Once per publishing cycle it moves the queued records of its threads
// into one packet through the serialiser and hands the packet to the network
// agent manager. The master agent also sends the hello packet and the class
// records whenever a connection is (re)established. While the collector is
// unreachable the agent trims the queues. It deletes the records of ended
// threads once their queues are empty. Its loop runs on a Java thread of the
// agent.
// Its parts: PacketDrain.h (one cycle on the thread list), EvtAgentMgr.h.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/HalList.h"
#include "base/HalLock.h"
#include "base/NamedObject.h"
#include "config/PublishSettings.h"
#include "publish/NetworkAgentData.h"
#include "publish/PacketBuffer.h"
#include "publish/PacketDrain.h"

class EventRecord;
class EvtAgentMgr;
class ThreadData;
class WireCursor;

class EventAgent : public NamedObject {
 public:
  // Bytes of the data packet head (the count record).
  static constexpr int kPacketHeadBytes = 7;
  // The slack beyond the packet limit that absorbs the record crossing it.
  static constexpr int kSlackBytes = 1024 * 1024;
  // The queue length threads are trimmed to after 30 s without collector.
  static constexpr int kPsDownThreshold = 1000;

  // Takes the agent's settings (read when it is made unless given) and
  // allocates its first packet buffer.
  EventAgent(EvtAgentMgr* manager, int id,
             const EventAgentSettings& settings = readEventAgentSettings());
  ~EventAgent() override;

  // The loop: runs on the calling thread until requestStop.
  void run(JNIEnv* env);
  void requestStop();

  int id() const { return id_; }
  bool isRunning() const { return running_.load(); }
  bool isAlive() const { return alive_.load(); }
  // The bytes queued in this agent's threads at the last cycle (the
  // records' accounted sizes).
  int32_t queuedBytes() const { return queuedBytes_.load(std::memory_order_relaxed); }

  // Takes a new thread's record into this agent's care (any thread may
  // call); refused while the agent's loop does not run.
  bool manageThreadData(ThreadData* data);

  bool initPending() const { return initPending_.load(); }
  void setInitPending(bool value) { initPending_.store(value); }
  bool classesPending() const { return classesPending_.load(); }
  void setClassesPending(bool value) { classesPending_.store(value); }

  // The agent thread's own record, its special queue; null until its loop
  // has started.
  ThreadData* specialQueue() const { return specialQueue_.load(); }

  // --- the steps of a cycle (run on the agent's thread) ------------------
  // Sums the queued bytes of the managed threads; the master reports all
  // agents' total to the memory monitor.
  void computeQueuedBytes();
  // Fills the packet buffer from the managed threads (or from `only`, one
  // of them); answers the packet length (0 when no record was serialised).
  uint32_t buildDataPacket(ThreadData* only = nullptr);
  // Sends the hello packet and queues the sampling rates.
  void sendHello();
  // Discards the special queue's records and queues the class record of
  // every class announced so far, then the sampling rates. False when the
  // special queue is missing (the classes stay due).
  bool resendAllClasses();
  // One cycle's trimming while the collector cannot be reached.
  void psDownTrim();
  // The buffer the agent fills; after a packet was handed over, null until
  // the next packet is built.
  const uint8_t* packetBuffer() const { return packet_.data(); }
  size_t packetCapacity() const { return packetCapacity_; }
  int queueLimit() const { return queueLimit_; }
  int frequencyMs() const { return frequencyMs_; }
  int packetLimitBytes() const { return packetLimit_; }
  int psDownCycles() const { return psDownCycles_; }
  int psDownCyclesToTrim() const { return psDownCyclesToTrim_; }
  int psDownThreshold() const { return psDownThreshold_; }
  // The threads this agent drains (its own thread's record first).
  int managedCount() const;

 private:
  friend struct EventAgentTestAccess;

  void attach(JNIEnv* env);
  void detach();
  // Moves the threads newly assigned by other threads into managed_.
  void absorbNewThreads();
  void publish();
  // Resends the class records and sends them in a packet of their own.
  void sendClasses();
  void wait();
  void queueSamplingRates();
  // A buffer to fill, from the pool when the last one was handed over;
  // false when memory could not be had.
  bool havePacketBuffer();
  // Hands a packet of `length` bytes in packet_ to the network agent (the
  // buffer goes with it when taken); a length of 0 sends an empty packet.
  bool sendPacket(uint32_t length, PacketKind kind);

  EvtAgentMgr* manager_;
  const int id_;
  // Threads handed over by other threads, waiting to join managed_; only
  // the agent's thread touches managed_ itself.
  HalList<ThreadData*> newThreads_;
  std::vector<ThreadData*> managed_;
  std::atomic<bool> running_{false};
  std::atomic<bool> alive_{false};
  // Attached without a loop thread (EventAgentTestAccess): a stop request
  // ends the agent at once.
  std::atomic<bool> attachedWithoutLoop_{false};
  // Packets are built in packet_, a buffer of pool_, and handed over to the
  // network agent whole.
  std::shared_ptr<PacketPool> pool_;
  PacketBuffer packet_;
  size_t packetCapacity_ = 0;
  std::atomic<ThreadData*> specialQueue_{nullptr};
  JNIEnv* env_ = nullptr;
  int queueLimit_;
  int frequencyMs_;
  int psDownThreshold_;
  int packetSizeKb_;
  int packetLimit_;
  // One cycle's work on managed_ (declared after it and queueLimit_).
  PacketDrain drain_;
  int psDownCycles_ = 0;
  int psDownCyclesToTrim_;
  std::atomic<bool> initPending_{false};
  std::atomic<bool> classesPending_{false};
  std::atomic<int32_t> queuedBytes_{0};
  HalLock waitMonitor_;
};
