// A collector stand-in for in-process tests: listens on 127.0.0.1 at a free
// port, accepts connections one after the other and keeps every byte each
// connection delivered. Waits are bounded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class LoopbackCollector {
 public:
  // Starts listening now; with `accept` false nothing is ever accepted
  // (connections wait in the backlog).
  explicit LoopbackCollector(bool accept = true);
  ~LoopbackCollector();

  int port() const { return port_; }

  // The bytes received so far on connection `index` (in accept order).
  std::vector<uint8_t> bytes(size_t index);
  size_t connections();
  // Waits until connection `index` has delivered at least `count` bytes.
  bool waitForBytes(size_t index, size_t count, int timeoutMs = 5000);
  bool waitForConnections(size_t count, int timeoutMs = 5000);
  // Closes every accepted connection (the collector goes away).
  void dropConnections();

 private:
  void acceptLoop();
  void readLoop(size_t index, int fd);

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<uint8_t>> received_;
  std::vector<int> fds_;
  std::thread acceptThread_;
  std::vector<std::thread> readers_;
};
