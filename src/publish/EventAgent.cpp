#include "publish/EventAgent.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "base/JniUtil.h"
#include "base/Log.h"
#include "config/ProbeState.h"
#include "config/PublishSettings.h"
#include "config/WallClock.h"
#include "events/EventRecords.h"
#include "events/ProtocolVisitor.h"
#include "events/WireCursor.h"
#include "publish/AppServerName.h"
#include "publish/ClassTableWalk.h"
#include "publish/EvtAgentMgr.h"
#include "publish/NetworkAgentMgr.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

NetworkAgentMgr* networkManager() {
  return networkAgentMgr;
}

}  // namespace

// Writes " EventAgentID <id>: <text>" at the given level.
#define AGENT_LOG(level, ...)                                                \
  do {                                                                       \
    char text_[512];                                                         \
    std::snprintf(text_, sizeof text_, __VA_ARGS__);                         \
    logf(level, "EventAgent", __LINE__, " EventAgentID %d: %s", id_, text_); \
  } while (0)

EventAgent::EventAgent(EvtAgentMgr* manager, int id, const EventAgentSettings& settings)
    : NamedObject("EventAgent"),
      manager_(manager),
      id_(id),
      newThreads_(true),
      queueLimit_(settings.queueLimit),
      frequencyMs_(settings.frequencyMs),
      psDownThreshold_(INT_MAX),
      packetSizeKb_(settings.packetSizeKb),
      drain_(managed_, id, queueLimit_),
      psDownCyclesToTrim_(30000 / frequencyMs_),
      waitMonitor_(false) {
  // No threshold is given before 30 s of outage: until then the queue limit
  // alone bounds the queues.
  packetLimit_ = packetSizeKb_ * 1024;
  packetCapacity_ = static_cast<size_t>(packetLimit_) + kSlackBytes;
  pool_ = PacketPool::create(packetCapacity_);
  if (pool_) packet_ = pool_->take();
  if (!packet_) logError("EventAgent", __LINE__, "new() failure - out of memory");
  AGENT_LOG(LOG_INFO, "Event Agent creation successful");
}

EventAgent::~EventAgent() {
  detach();
  AGENT_LOG(LOG_INFO, "Event Agent Destructed !!");
}

// --- thread assignment -------------------------------------------------------

bool EventAgent::manageThreadData(ThreadData* data) {
  if (!running_.load()) {
    AGENT_LOG(LOG_INFO, "EventAgent not started/alive, cannot manageThreadData");
    return false;
  }
  newThreads_.append(data);
  return true;
}

void EventAgent::absorbNewThreads() {
  while (newThreads_.count() > 0) {
    ThreadData* data = newThreads_.removeFirst();
    if (data) managed_.push_back(data);
  }
}

int EventAgent::managedCount() const {
  return static_cast<int>(managed_.size()) + newThreads_.count();
}

// --- the loop ----------------------------------------------------------------

void EventAgent::attach(JNIEnv* env) {
  env_ = env;
  psDownCycles_ = 0;
  managed_.clear();
  newThreads_.clear();
  ThreadData* special = threadMgr ? threadMgr->getSpecialThreadData(threadIdOf(env)) : nullptr;
  specialQueue_.store(special);
  if (special)
    managed_.push_back(special);
  else
    AGENT_LOG(LOG_WARNING, "Special Queue was not created.");
}

// Lets go of the managed threads. The records of ended threads belong to
// this agent: they are deleted; live ones stay with the thread table.
void EventAgent::detach() {
  absorbNewThreads();
  for (ThreadData* data : managed_) {
    if (data != specialQueue_.load() && !data->isAlive() && threadMgr)
      threadMgr->deleteThreadData(data);
  }
  managed_.clear();
}

void EventAgent::run(JNIEnv* env) {
  attach(env);
  alive_.store(true);
  running_.store(true);
  // A stop that came before this thread got here wins.
  if (manager_ && !manager_->isStarted()) running_.store(false);
  if (manager_) manager_->agentStateChanged(this, true);
  AGENT_LOG(LOG_INFO, "Event Agent Thread Started..");

  while (running_.load()) {
    computeQueuedBytes();
    wait();
    // Publish once the connection is usable; until then trim the queues.
    bool usable = false;
    for (;;) {
      NetworkAgentMgr* net = networkManager();
      bool connected = net && net->isConnected(this);
      usable = connected &&
               (manager_ == nullptr || manager_->master() == this || manager_->isInitComplete());
      if (usable || !running_.load()) break;
      computeQueuedBytes();
      psDownTrim();
      wait();
    }
    if (!usable) break;
    publish();
  }

  running_.store(false);
  alive_.store(false);
  if (manager_) manager_->agentStateChanged(this, false);
  detach();
  AGENT_LOG(LOG_INFO, "Event Agent Thread Stopped..");
  waitMonitor_.destroy();
}

void EventAgent::requestStop() {
  AGENT_LOG(LOG_INFO, "Event Agent Thread being stopped..");
  running_.store(false);
  // Without a loop thread nobody else would clear it.
  if (attachedWithoutLoop_.load()) alive_.store(false);
}

void EventAgent::publish() {
  if (initPending_.load()) {
    sendHello();
    if (!initPending_.load() && classesPending_.load()) sendClasses();
  } else if (classesPending_.load()) {
    sendClasses();
  }
  uint32_t length = buildDataPacket();
  // The packet is not kept: a refused packet is lost.
  if (sendPacket(length, PacketKind::Data))
    AGENT_LOG(LOG_DEBUG, "Buffer size sent to PS: %u", length);
  else
    AGENT_LOG(LOG_WARNING, "Failed to send data, NAMgr send was unsuccessful");
}

bool EventAgent::havePacketBuffer() {
  if (!packet_ && pool_) packet_ = pool_->take();
  return static_cast<bool>(packet_);
}

bool EventAgent::sendPacket(uint32_t length, PacketKind kind) {
  NetworkAgentMgr* net = networkManager();
  if (!net) return false;
  if (length == 0) return net->send(this, nullptr, 0, kind);
  return net->send(this, packet_, length, kind);
}

void EventAgent::wait() {
  cycleWait(this, waitMonitor_, frequencyMs_);
}

void EventAgent::computeQueuedBytes() {
  absorbNewThreads();
  int64_t total = 0;
  for (ThreadData* data : managed_) total += data->queuedBytes();
  if (total > INT32_MAX) total = INT32_MAX;
  queuedBytes_.store(static_cast<int32_t>(total), std::memory_order_relaxed);
  if (manager_ && manager_->master() == this) manager_->reportMemory();
}

// --- hello packet and class records ------------------------------------------

void EventAgent::sendHello() {
  NetworkAgentMgr* net = networkManager();
  if (!net || !net->isConnected(this) || !havePacketBuffer() || !protocolVisitor) return;
  HelloIdentity identity;
  fillHelloIdentity(&identity, env_);
  WireCursor cursor(packet_.data(), packetCapacity_);
  protocolVisitor->writeTimeRecord(cursor);
  protocolVisitor->writeIdentityRecord(identity, cursor);
  uint32_t length = static_cast<uint32_t>(cursor.position() - packet_.data());
  // A few hundred bytes: copied, and the agent keeps its buffer.
  net->send(this, packet_.data(), length, PacketKind::Hello);
  queueSamplingRates();
  initPending_.store(false);
  AGENT_LOG(LOG_INFO, "Sent Init records successfully ");
}

void EventAgent::queueSamplingRates() {
  ThreadData* special = specialQueue_.load();
  if (!special) return;
  SamplingRatesRecord* r = new (std::nothrow) SamplingRatesRecord(SUBTYPE_SINGLE);
  if (!r) return;
  for (int i = 0; i < 4; i++) r->rates[i] = samplingRates[i].load(std::memory_order_relaxed);
  r->flag = samplingExtra.load(std::memory_order_relaxed);
  r->threadId = special->getThreadId();
  readWallClock(&r->wallSeconds, &r->wallMicros);
  special->appendEvent(r);
}

namespace {
struct ClassResend {
  ThreadData* queue;
  int queued;
};

void queueClassRecord(ClassEntry* entry, void* context) {
  if (!entry || entry->classEventState.load(std::memory_order_relaxed) == -1) return;
  ClassResend* resend = static_cast<ClassResend*>(context);
  ClassRecord* r = new (std::nothrow) ClassRecord(SUBTYPE_CLASS_LOAD);
  if (!r) return;
  r->holdEntry(entry);
  if (resend->queue->appendEvent(r)) resend->queued++;
}

// BcmRoot.sendAllClassEvents re-announces the classes known to the Java side.
void callSendAllClassEvents(JNIEnv* env) {
  if (!env) return;
  jclass root = env->FindClass("com/halden/bcm/bootstrap/BcmRoot");
  if (clearPendingException(env) || !root) return;
  jmethodID method = env->GetStaticMethodID(root, "sendAllClassEvents", "()V");
  if (!clearPendingException(env) && method) {
    env->CallStaticVoidMethod(root, method);
    clearPendingException(env);
  }
  env->DeleteLocalRef(root);
}
}  // namespace

bool EventAgent::resendAllClasses() {
  ThreadData* special = specialQueue_.load();
  if (!special) {
    special = threadMgr ? threadMgr->getSpecialThreadData(threadIdOf(env_)) : nullptr;
    if (special) {
      specialQueue_.store(special);
      managed_.insert(managed_.begin(), special);
    } else {
      AGENT_LOG(LOG_INFO,
                "## Internal Error: The special event queue is NULL, cannot resendInitData");
      return false;
    }
  }
  if (!special->hasQueue()) {
    AGENT_LOG(LOG_ERROR, "Event Queue NULL for Special Event Queue Thread, TID: %d",
              static_cast<int>(special->getThreadId()));
    return false;
  }
  while (EventRecord* r = special->takeFirst()) {
    special->recordTaken(r);
    delete r;
  }
  callSendAllClassEvents(env_);
  ClassResend resend{special, 0};
  walkClassTable(queueClassRecord, &resend);
  queueSamplingRates();
  classesPending_.store(false);
  return true;
}

// The class records and the sampling rates travel in a packet of their own,
// which the network agent writes right after the hello packet and ahead of
// the packets it kept from a lost connection; the other agents publish once
// it is queued.
void EventAgent::sendClasses() {
  if (resendAllClasses()) {
    uint32_t length = buildDataPacket(specialQueue_.load());
    sendPacket(length, PacketKind::Classes);
  }
  if (manager_) manager_->setInitComplete(true);
}

// --- data packet ---------------------------------------------------------------

uint32_t EventAgent::buildDataPacket(ThreadData* only) {
  absorbNewThreads();
  if (!havePacketBuffer() || !protocolVisitor) return 0;
  uint8_t* start = packet_.data();
  WireCursor cursor(start + kPacketHeadBytes, packetCapacity_ - kPacketHeadBytes);
  uint32_t count = drain_.fill(cursor, start + packetLimit_, only, specialQueue_.load());
  if (count == 0) return 0;
  WireCursor head(start, kPacketHeadBytes);
  protocolVisitor->writeCountRecord(count, head);
  AGENT_LOG(LOG_DEBUG, "OverAll Events sent/dropped %u", count);
  return static_cast<uint32_t>(cursor.position() - start);
}

// --- trimming ------------------------------------------------------------------

void EventAgent::psDownTrim() {
  absorbNewThreads();
  psDownCycles_++;
  if (psDownCycles_ >= psDownCyclesToTrim_) psDownThreshold_ = kPsDownThreshold;

  long long total = drain_.trimForOutage(psDownThreshold_, specialQueue_.load(), psDownCycles_ < 6);
  if (psDownCycles_ < 5)
    AGENT_LOG(LOG_INFO, "##OverAll events dropped/deleted when PS down: %lld", total);
  else if (psDownCycles_ == 5)
    AGENT_LOG(LOG_INFO, "##OverAll events dropped/deleted when PS down: %lld, log message now off",
              total);
}
