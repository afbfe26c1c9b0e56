// A network agent: one TCP connection to the collector (the PS) and a short
// queue of packets to write on it. Its loop runs on a Java thread of the
// agent; it writes at most one queued packet per cycle (besides the packets
// that open a connection), and while the connection is missing it looks the
// PS address up through the Java side and reconnects every cycle. It only
// writes; it never reads from the socket, but it looks every cycle whether
// the collector has closed the connection.
//
// A lost connection loses no packet that can be kept: the packets still
// queued and the one whose write failed are kept (within bufferLimit) and
// written on the next connection, in their order, after the packets that
// open it (the hello packet and the class records, which the master event
// agent sends once it is back).
// Its parts: NetworkAgentMgr.h, NetworkAgentData.h, PsLookup.h.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "base/HalList.h"
#include "base/HalLock.h"
#include "base/NamedObject.h"
#include "config/PublishSettings.h"
#include "platform/os.h"
#include "publish/NetworkAgentData.h"

class NetworkAgentOwner;

class NetworkAgent : public NamedObject {
 public:
  // Reads the agent's properties.
  NetworkAgent(NetworkAgentOwner* manager, int id,
               const NetworkAgentSettings& settings = readNetworkAgentSettings());
  ~NetworkAgent() override;

  // The loop: runs on the calling thread until requestStop.
  void run(JNIEnv* env);
  // Clears `running`; a write blocked on a collector that stopped reading is
  // ended so that the loop can notice.
  void requestStop();

  // Queues a copy of a packet for the next cycle (called on an event agent's
  // thread). False when the agent is not running, alive and connected, or
  // its queue (kept packets included) holds `bufferLimit` data packets. The
  // packets that open a connection are always taken: they leave first, all
  // in one cycle.
  bool send(const uint8_t* bytes, uint32_t length, PacketKind kind = PacketKind::Data);
  // The same for a packet of `length` bytes (above 0) filled in `buffer`:
  // when queued, the buffer is taken over (and goes back to its pool once
  // written or discarded); when refused, the caller keeps it.
  bool send(PacketBuffer& buffer, uint32_t length, PacketKind kind = PacketKind::Data);

  int id() const { return id_; }
  bool isRunning() const { return running_.load(); }
  bool isAlive() const { return alive_.load(); }
  bool isConnected() const { return connected_.load(); }
  // Bytes of the packets waiting in the queue.
  int pendingBytes() const { return pendingBytes_.load(std::memory_order_relaxed); }
  int queuedPackets() const {
    return dataQueue_.count() + openingQueue_.count() + keptCount_.load(std::memory_order_relaxed);
  }

  int frequencyMs() const { return frequencyMs_; }
  int resetCycles() const { return resetCycles_; }
  int bufferLimit() const { return bufferLimit_; }

  // Opens the connection to host:port (bind, connect, options); the
  // socket is kept on success. Used by the loop after a successful lookup.
  bool openConnection(const char* host, int port, int sendBufferSize);
  // Writes all the bytes, continuing after partial sends.
  bool writePacket(const uint8_t* bytes, uint32_t length);
  void closeSocket();

 private:
  void cycleConnected();
  // Writes one packet; on failure logs it, keeps the packet (unless it only
  // opened the lost connection) and drops the connection. Deletes the
  // packet otherwise.
  bool writeOrKeep(NetworkAgentData* data);
  // The connection is gone: the queued data packets join the kept ones,
  // the opening packets of the lost connection are discarded, and the
  // event agents are told to resend their initial data.
  void dropConnection(NetworkAgentData* failed);
  void reconnect(JNIEnv* env);
  void discardQueue();
  void wait();
  void setSocket(os::SocketHandle s);
  // The checks of send; false (logged) when the packet is refused.
  bool accepts(PacketKind kind);
  // Queues an entry send has made; false (logged) when there is none.
  bool enqueue(NetworkAgentData* data, uint32_t length, PacketKind kind);

  NetworkAgentOwner* manager_;
  const int id_;
  HalList<NetworkAgentData*> dataQueue_;
  // The hello packet and the class records, written ahead of everything.
  HalList<NetworkAgentData*> openingQueue_;
  // Packets of a lost connection, oldest first; only the loop's thread
  // touches the deque, the count is read by send.
  std::deque<NetworkAgentData*> kept_;
  std::atomic<int> keptCount_{0};
  // After a reconnection the kept packets wait for the class records to
  // leave (while this connection carries the master's opening), at most
  // this many more cycles.
  bool awaitingOpening_ = false;
  int openingWaitCycles_ = 0;
  HalLock waitMonitor_;
  // Guards the socket handle against being shut down by requestStop while
  // the loop closes it (the handle could otherwise be reused meanwhile).
  std::mutex socketMutex_;
  os::SocketHandle socket_ = os::kInvalidSocket;
  std::string psHost_;
  int psPort_ = -1;
  int psSendBufferSize_ = -1;
  int socketTimeoutSec_;
  int frequencyMs_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> alive_{false};
  std::atomic<int> pendingBytes_{0};
  int resetCounter_ = 0;
  int resetCycles_ = -1;
  std::string localIp_;
  bool bindLocal_ = false;
  int localPort_ = 0;
  int bufferLimit_;
};
