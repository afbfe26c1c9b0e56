#include "publish/NetworkAgent.h"

#include <new>
#include <utility>

#include "base/Log.h"
#include "config/PublishSettings.h"
#include "platform/jvmpi.h"
#include "publish/NetworkAgentOwner.h"
#include "publish/PsLookup.h"

NetworkAgent::NetworkAgent(NetworkAgentOwner* manager, int id, const NetworkAgentSettings& settings)
    : NamedObject("NetworkAgent"),
      manager_(manager),
      id_(id),
      dataQueue_(true),
      openingQueue_(true),
      waitMonitor_(false),
      socketTimeoutSec_(settings.socketTimeoutSec),
      frequencyMs_(settings.frequencyMs),
      bufferLimit_(settings.bufferLimit) {
  int resetMs = settings.socketResetMs;
  if (resetMs > 0) {
    resetCycles_ = resetMs / frequencyMs_;
    logf(LOG_INFO, "NetworkAgent", __LINE__, "Socket will reset every %d ms, Iterations: %d",
         resetMs, resetCycles_);
  }
  if (settings.bindLocal) {
    localIp_ = settings.localIp;
    bindLocal_ = true;
    localPort_ = settings.localPort;
  }
}

NetworkAgent::~NetworkAgent() {
  discardQueue();
  closeSocket();
}

void NetworkAgent::run(JNIEnv* env) {
  logInfo("NetworkAgent", __LINE__, "in runTCPagent()");
  alive_.store(true);
  running_.store(true);
  // A stop that came before this thread got here wins.
  if (manager_ && !manager_->isStarted()) running_.store(false);
  if (manager_) manager_->agentStateChanged(this, true);
  logInfo("NetworkAgent", __LINE__, "Network Agent Thread Started..");

  while (running_.load()) {
    // Periodic reset: drop the connection every resetCycles cycles.
    if (resetCycles_ > 0 && ++resetCounter_ >= resetCycles_) {
      resetCounter_ = 0;
      logInfo("NetworkAgent", __LINE__, "Resetting socket connection..");
      dropConnection(nullptr);
    }
    // A collector that went away is noticed before anything is written into
    // its closed connection (where the OS would take the bytes and lose
    // them); the agent reconnects at once.
    if (connected_.load() && os::socketPeerClosed(socket_)) {
      logError("NetworkAgent", __LINE__,
               "Write failed, looks like socket is down, retrying to connect to PS");
      dropConnection(nullptr);
    }
    if (connected_.load())
      cycleConnected();
    else
      reconnect(env);
    wait();
  }

  discardQueue();
  closeSocket();
  running_.store(false);
  alive_.store(false);
  if (manager_) manager_->agentStateChanged(this, false);
  logInfo("NetworkAgent", __LINE__, "Network Agent Thread Stopped..");
}

// Writes the packets that open the connection, all of them, then the first
// kept packet or else the first queued one; zero-length entries are dropped
// unwritten.
void NetworkAgent::cycleConnected() {
  while (NetworkAgentData* opening = openingQueue_.removeFirst()) {
    if (opening->kind() == PacketKind::Classes) awaitingOpening_ = false;
    if (!writeOrKeep(opening)) return;
  }
  if (!kept_.empty()) {
    // The kept packets follow the opening of this connection; should it not
    // come, they go anyway after a while.
    if (awaitingOpening_ && --openingWaitCycles_ > 0) return;
    awaitingOpening_ = false;
    NetworkAgentData* data = kept_.front();
    kept_.pop_front();
    keptCount_.fetch_sub(1, std::memory_order_relaxed);
    writeOrKeep(data);
    return;
  }
  if (NetworkAgentData* data = dataQueue_.removeFirst()) writeOrKeep(data);
}

bool NetworkAgent::writeOrKeep(NetworkAgentData* data) {
  if (data->length() > 0 && data->bytes() && !writePacket(data->bytes(), data->length())) {
    logError("NetworkAgent", __LINE__,
             "Write failed, looks like socket is down, retrying to connect to PS");
    dropConnection(data);
    return false;
  }
  pendingBytes_.fetch_sub(static_cast<int>(data->length()), std::memory_order_relaxed);
  delete data;
  return true;
}

void NetworkAgent::dropConnection(NetworkAgentData* failed) {
  connected_.store(false);
  // The packet cut off goes first: the old collector is gone, the new one
  // gets it whole. Then what waited behind it, in order.
  std::deque<NetworkAgentData*> keep;
  if (failed) keep.push_back(failed);
  while (NetworkAgentData* data = dataQueue_.removeFirst()) keep.push_back(data);
  for (auto it = keep.rbegin(); it != keep.rend(); ++it) {
    if ((*it)->kind() == PacketKind::Data) {
      kept_.push_front(*it);
      keptCount_.fetch_add(1, std::memory_order_relaxed);
    } else {
      // Openings belong to the lost connection; the new one gets its own.
      pendingBytes_.fetch_sub(static_cast<int>((*it)->length()), std::memory_order_relaxed);
      delete *it;
    }
  }
  while (NetworkAgentData* opening = openingQueue_.removeFirst()) {
    pendingBytes_.fetch_sub(static_cast<int>(opening->length()), std::memory_order_relaxed);
    delete opening;
  }
  awaitingOpening_ = false;
  if (manager_) manager_->connectionLost(this);
}

// Closes what is left of the old connection and looks up and connects every
// cycle until connected or stopped. The kept packets stay for the new
// connection.
void NetworkAgent::reconnect(JNIEnv* env) {
  closeSocket();
  int failures = 0;
  while (!connected_.load() && running_.load()) {
    PsAddress address;
    if (lookupPs(env, failures, &address, *this)) {
      psHost_ = address.host;
      psPort_ = address.port;
      psSendBufferSize_ = address.sendBufferSize;
      logf(LOG_INFO, "NetworkAgent", __LINE__,
           "PS Proxy details successfully obtained from Kernel, Host: %s Port: %d", psHost_.c_str(),
           psPort_);
      if (openConnection(psHost_.c_str(), psPort_, psSendBufferSize_)) {
        logInfo("NetworkAgent", __LINE__, "Successfully connected to PS socket");
        // The master's hello and class records come within its next
        // publishing cycle; the kept packets wait for them up to two cycles.
        awaitingOpening_ = !kept_.empty() && manager_ && manager_->carriesOpening(this);
        openingWaitCycles_ = 2 * publishingFrequencyMs() / frequencyMs_ + 1;
        connected_.store(true);
        break;
      }
      logInfo("NetworkAgent", __LINE__, "Socket connect not successful");
    } else {
      psHost_.clear();
      psPort_ = -1;
      psSendBufferSize_ = -1;
      if (failures < 5) {
        failures++;
        logWarning("NetworkAgent", __LINE__, "Could not obtain PS proxy details from Kernel.");
      } else if (failures == 5) {
        failures = 6;
        logWarning("NetworkAgent", __LINE__,
                   "Could not obtain PS proxy details from Kernel retry and log message is now "
                   "off");
      }
    }
    wait();
  }
}

void NetworkAgent::requestStop() {
  logInfo("NetworkAgent", __LINE__, "Network Agent Thread being stopped..");
  running_.store(false);
  // A write into a collector that no longer reads would block this agent's
  // thread for good (no send time-out by default), and the stop order waits
  // for the thread: end the connection under the writer.
  std::lock_guard<std::mutex> guard(socketMutex_);
  if (socket_ != os::kInvalidSocket) os::socketShutdown(socket_);
}

bool NetworkAgent::accepts(PacketKind kind) {
  if (!running_.load() || !alive_.load() || !connected_.load()) {
    logWarning("NetworkAgent", __LINE__,
               "NetworkAgent Thread is not started/alive/ready, rejecting send data");
    return false;
  }
  if (kind == PacketKind::Data &&
      dataQueue_.count() + keptCount_.load(std::memory_order_relaxed) >= bufferLimit_) {
    logWarning("NetworkAgent", __LINE__, "Queue full, buffer limit reached");
    return false;
  }
  return true;
}

bool NetworkAgent::enqueue(NetworkAgentData* data, uint32_t length, PacketKind kind) {
  if (!data || (length > 0 && !data->bytes())) {
    delete data;
    logWarning("NetworkAgent", __LINE__, "Queue full detected in dataQueue.append()");
    return false;
  }
  pendingBytes_.fetch_add(static_cast<int>(length), std::memory_order_relaxed);
  (kind != PacketKind::Data ? openingQueue_ : dataQueue_).append(data);
  return true;
}

bool NetworkAgent::send(const uint8_t* bytes, uint32_t length, PacketKind kind) {
  if (!accepts(kind)) return false;
  return enqueue(new (std::nothrow) NetworkAgentData(bytes, length, kind), length, kind);
}

bool NetworkAgent::send(PacketBuffer& buffer, uint32_t length, PacketKind kind) {
  if (length == 0) return send(nullptr, 0, kind);
  if (!accepts(kind)) return false;
  // The entry is made before the buffer moves, so that a refusal leaves the
  // buffer with the caller.
  NetworkAgentData* data = nullptr;
  if (buffer && length <= buffer.capacity())
    data = new (std::nothrow) NetworkAgentData(length, kind);
  if (data) data->adopt(std::move(buffer));
  return enqueue(data, length, kind);
}

bool NetworkAgent::openConnection(const char* host, int port, int sendBufferSize) {
  os::SocketHandle s;
  int error = os::socketCreate(&s);
  if (error != 0) {
    logf(LOG_ERROR, "NetworkAgent", __LINE__, "Failure creating socket. Errno: %d\n", error);
    logError("NetworkAgent", __LINE__, os::errorText(error).c_str());
    return false;
  }
  logInfo("NetworkAgent", __LINE__, "Socket creation successful..");

  if (bindLocal_) {
    error = os::socketBind(s, localIp_.c_str(), localPort_);
    if (error != 0) {
      logf(LOG_ERROR, "NetworkAgent", __LINE__,
           "socket bind() failure [%s:%d] Error: %s ErrorNO: %d\n", localIp_.c_str(), localPort_,
           os::errorText(error).c_str(), error);
    } else {
      logf(LOG_INFO, "NetworkAgent", __LINE__, "Socket bind successful [%s:%d]", localIp_.c_str(),
           localPort_);
    }
  }

  // The handle is published before connecting so that a stop request can
  // end a connect that hangs.
  setSocket(s);
  error = os::socketConnect(s, host, port);
  if (error != 0) {
    logf(LOG_ERROR, "NetworkAgent", __LINE__, "socket connect() failure [%s:%d] Errno: %d\n", host,
         port, error);
    logError("NetworkAgent", __LINE__, os::errorText(error).c_str());
    closeSocket();
    return false;
  }
  logf(LOG_INFO, "NetworkAgent", __LINE__,
       "Successfully connected to PS Host: %s Port: %d Buffer Size: %d", host, port,
       sendBufferSize);

  error = os::socketSetSendBufferSize(s, sendBufferSize);
  if (error != 0)
    logf(LOG_ERROR, "NetworkAgent", __LINE__, "Setting options on socket failed, ERRNO: %s \n",
         os::errorText(error).c_str());
  else
    logf(LOG_INFO, "NetworkAgent", __LINE__, "Successful in setting PS socket buffer size: %d \n",
         sendBufferSize);

  if (socketTimeoutSec_ != -1) {
    error = os::socketSetSendTimeout(s, socketTimeoutSec_);
    if (error != 0)
      logf(LOG_ERROR, "NetworkAgent", __LINE__,
           "Setting send timeout option on socket failed, ERRNO: %s \n",
           os::errorText(error).c_str());
    else
      logf(LOG_INFO, "NetworkAgent", __LINE__,
           "Successful in setting PS socket send time out: %d (secs)\n", socketTimeoutSec_);
    error = os::socketSetReceiveTimeout(s, socketTimeoutSec_);
    if (error != 0)
      logf(LOG_ERROR, "NetworkAgent", __LINE__,
           "Setting receive timeout option on socket failed, ERRNO: %s \n",
           os::errorText(error).c_str());
    else
      logf(LOG_INFO, "NetworkAgent", __LINE__,
           "Successful in setting PS socket read time out: %d (secs)\n", socketTimeoutSec_);
  }
  return true;
}

bool NetworkAgent::writePacket(const uint8_t* bytes, uint32_t length) {
  os::SocketHandle s;
  {
    std::lock_guard<std::mutex> guard(socketMutex_);
    s = socket_;
  }
  if (s == os::kInvalidSocket) return length == 0;
  uint32_t done = 0;
  while (done < length) {
    size_t sent = 0;
    if (os::socketSend(s, bytes + done, length - done, &sent) != 0) return false;
    // A stream socket that takes nothing without an error is not usable.
    if (sent == 0) return false;
    done += static_cast<uint32_t>(sent);
  }
  return true;
}

void NetworkAgent::closeSocket() {
  os::SocketHandle s;
  {
    std::lock_guard<std::mutex> guard(socketMutex_);
    s = socket_;
    socket_ = os::kInvalidSocket;
    if (s == os::kInvalidSocket) return;
    // Closed under the lock: a stop request must not shut down a handle
    // that the OS has already given to someone else.
    int error = os::socketClose(s);
    if (error != 0)
      logf(LOG_ERROR, "NetworkAgent", __LINE__,
           "Error occured when closing PS socket[%s:%d], ERRNO: %s \n", psHost_.c_str(), psPort_,
           os::errorText(error).c_str());
    else
      logf(LOG_INFO, "NetworkAgent", __LINE__, "Successful in closing PS socket[%s:%d] \n",
           psHost_.c_str(), psPort_);
  }
}

void NetworkAgent::setSocket(os::SocketHandle s) {
  std::lock_guard<std::mutex> guard(socketMutex_);
  socket_ = s;
}

void NetworkAgent::discardQueue() {
  while (!kept_.empty()) {
    dataQueue_.append(kept_.front());
    kept_.pop_front();
  }
  keptCount_.store(0, std::memory_order_relaxed);
  for (HalList<NetworkAgentData*>* queue : {&openingQueue_, &dataQueue_}) {
    while (NetworkAgentData* data = queue->removeFirst()) {
      pendingBytes_.fetch_sub(static_cast<int>(data->length()), std::memory_order_relaxed);
      delete data;
    }
  }
}

void NetworkAgent::wait() {
  cycleWait(this, waitMonitor_, frequencyMs_);
}
