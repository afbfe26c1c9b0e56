#include "support/LoopbackCollector.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// Winsock under the POSIX names used below. Winsock handles fit an int.
using socklen_t = int;
#define poll WSAPoll
#define SHUT_RDWR SD_BOTH
#define SOCK_CLOEXEC 0
static int accept4(int fd, sockaddr* addr, socklen_t* len, int) {
  return static_cast<int>(accept(static_cast<SOCKET>(fd), addr, len));
}
static int close(int fd) {
  return closesocket(static_cast<SOCKET>(fd));
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>

LoopbackCollector::LoopbackCollector(bool accept) {
#ifdef _WIN32
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
#endif
  listenFd_ = static_cast<int>(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(listenFd_, 16);
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  if (accept) acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackCollector::~LoopbackCollector() {
  stopping_.store(true);
  if (acceptThread_.joinable()) acceptThread_.join();
  dropConnections();
  for (std::thread& t : readers_)
    if (t.joinable()) t.join();
  for (int fd : fds_) close(fd);
  close(listenFd_);
}

void LoopbackCollector::acceptLoop() {
  while (!stopping_.load()) {
    pollfd p{};
    p.fd = listenFd_;
    p.events = POLLIN;
    if (poll(&p, 1, 20) <= 0) continue;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> guard(mutex_);
    size_t index = received_.size();
    received_.emplace_back();
    fds_.push_back(fd);
    readers_.emplace_back([this, index, fd] { readLoop(index, fd); });
    changed_.notify_all();
  }
}

void LoopbackCollector::readLoop(size_t index, int fd) {
  uint8_t buf[65536];
  while (!stopping_.load()) {
    pollfd p{};
    p.fd = fd;
    p.events = POLLIN;
    int ready = poll(&p, 1, 20);
    if (ready < 0) break;
    if (ready == 0) continue;
    auto n = recv(fd, reinterpret_cast<char*>(buf), sizeof buf, 0);
    if (n <= 0) break;
    std::lock_guard<std::mutex> guard(mutex_);
    received_[index].insert(received_[index].end(), buf, buf + n);
    changed_.notify_all();
  }
}

std::vector<uint8_t> LoopbackCollector::bytes(size_t index) {
  std::lock_guard<std::mutex> guard(mutex_);
  return index < received_.size() ? received_[index] : std::vector<uint8_t>();
}

size_t LoopbackCollector::connections() {
  std::lock_guard<std::mutex> guard(mutex_);
  return received_.size();
}

bool LoopbackCollector::waitForBytes(size_t index, size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return index < received_.size() && received_[index].size() >= count;
  });
}

bool LoopbackCollector::waitForConnections(size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return received_.size() >= count; });
}

void LoopbackCollector::dropConnections() {
  std::lock_guard<std::mutex> guard(mutex_);
  for (int& fd : fds_) {
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
  }
}
