// Linux implementation of os.h.
#include "platform/os.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>

namespace os {

std::vector<std::string> argumentVector() {
  // /proc/self/cmdline holds the arguments, each ended by a zero byte.
  std::vector<std::string> args;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  if (!in) return args;
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.emplace_back(all, start, end - start);
    start = end + 1;
  }
  return args;
}

const char* getEnv(const char* name) {
  return name ? std::getenv(name) : nullptr;
}

int processId() {
  return static_cast<int>(getpid());
}

void exitProcess(int status) {
  std::fflush(nullptr);
  _exit(status);
}

int processorCount() {
  long n = sysconf(_SC_NPROCESSORS_CONF);
  return n > 0 ? static_cast<int>(n) : 1;
}

int processorMHz() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 7, "cpu MHz") != 0) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    return static_cast<int>(std::strtod(line.c_str() + colon + 1, nullptr) + 0.5);
  }
  return 0;
}

long long physicalMemoryBytes() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<long long>(pages) * pageSize;
}

std::string currentDirectory(int* errorCode) {
  // Grow the buffer from 256 bytes, doubling while it is too small.
  std::vector<char> buf(256);
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) {
      if (errorCode) *errorCode = 0;
      return std::string(buf.data());
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) {
      if (errorCode) *errorCode = errno;
      return std::string();
    }
    buf.resize(buf.size() * 2);
  }
}

int changeDirectory(const char* path) {
  return chdir(path) == 0 ? 0 : errno;
}

int makeDirectory(const char* path) {
  return mkdir(path, 0777) == 0 ? 0 : errno;
}

bool fileExists(const char* path) {
  struct stat st;
  return path && stat(path, &st) == 0;
}

std::FILE* openPrivateFileForWriting(const char* path) {
  if (!path) return nullptr;
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
}

LocalTime localTime() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t now = tv.tv_sec;
  struct tm tmv;
  localtime_r(&now, &tmv);
  return LocalTime{tmv.tm_year + 1900,
                   tmv.tm_mon + 1,
                   tmv.tm_mday,
                   tmv.tm_hour,
                   tmv.tm_min,
                   tmv.tm_sec,
                   static_cast<int>(tv.tv_usec / 1000)};
}

void asctimeNow(char* out, size_t size) {
  if (!out || size == 0) return;
  time_t now = time(nullptr);
  struct tm tmv;
  localtime_r(&now, &tmv);
  char buf[64];
  if (asctime_r(&tmv, buf) == nullptr) buf[0] = '\0';
  std::snprintf(out, size, "%s", buf);
}

void wallClock(uint32_t* seconds, uint32_t* micros) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  if (seconds) *seconds = static_cast<uint32_t>(tv.tv_sec);
  if (micros) *micros = static_cast<uint32_t>(tv.tv_usec);
}

int64_t monotonicMillis() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMillis(int64_t millis) {
  if (millis <= 0) return;
  struct timespec ts;
  ts.tv_sec = millis / 1000;
  ts.tv_nsec = (millis % 1000) * 1000000;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// The named Windows mutex of the original design becomes a process-local
// recursive pthread mutex: each HalOsLock is still a separate lock, and no
// name is published to other processes.
struct Mutex::Impl {
  pthread_mutex_t mutex;
};

Mutex::Mutex() : impl_(new (std::nothrow) Impl) {
  if (!impl_) return;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (pthread_mutex_init(&impl_->mutex, &attr) != 0) {
    delete impl_;
    impl_ = nullptr;
  }
  pthread_mutexattr_destroy(&attr);
}

Mutex::~Mutex() {
  if (impl_) {
    pthread_mutex_destroy(&impl_->mutex);
    delete impl_;
  }
}

Mutex::WaitResult Mutex::lockFor(int64_t millis) {
  if (!impl_) return WaitResult::Failed;
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += millis / 1000;
  deadline.tv_nsec += (millis % 1000) * 1000000;
  if (deadline.tv_nsec >= 1000000000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000;
  }
  int rc = pthread_mutex_timedlock(&impl_->mutex, &deadline);
  if (rc == 0) return WaitResult::Acquired;
  if (rc == ETIMEDOUT) return WaitResult::TimedOut;
  return WaitResult::Failed;
}

bool Mutex::unlock() {
  return impl_ && pthread_mutex_unlock(&impl_->mutex) == 0;
}

// --- TCP client sockets ----------------------------------------------------

namespace {

// Fills an IPv4 address from dotted text or, failing that, from the resolver.
int ipv4Address(const char* host, int port, sockaddr_in* out) {
  if (!host || port < 0 || port > 65535) return EINVAL;
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host, &out->sin_addr) == 1) return 0;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host, nullptr, &hints, &found);
  if (rc != 0 || !found) {
    int error = (rc == EAI_SYSTEM && errno != 0) ? errno : EHOSTUNREACH;
    if (found) freeaddrinfo(found);
    return error;
  }
  out->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return 0;
}

int setTimeout(SocketHandle s, int option, int seconds) {
  timeval tv;
  tv.tv_sec = seconds < 0 ? 0 : seconds;
  tv.tv_usec = 0;
  return setsockopt(s, SOL_SOCKET, option, &tv, sizeof tv) == 0 ? 0 : errno;
}

}  // namespace

int socketCreate(SocketHandle* out) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    *out = kInvalidSocket;
    return errno;
  }
  *out = s;
  return 0;
}

int socketBind(SocketHandle s, const char* host, int port) {
  sockaddr_in addr;
  int rc = ipv4Address(host, port, &addr);
  if (rc != 0) return rc;
  return bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : errno;
}

int socketConnect(SocketHandle s, const char* host, int port) {
  sockaddr_in addr;
  int rc = ipv4Address(host, port, &addr);
  if (rc != 0) return rc;
  while (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int socketSetSendBufferSize(SocketHandle s, int bytes) {
  return setsockopt(s, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0 ? 0 : errno;
}

int socketSetSendTimeout(SocketHandle s, int seconds) {
  return setTimeout(s, SO_SNDTIMEO, seconds);
}

int socketSetReceiveTimeout(SocketHandle s, int seconds) {
  return setTimeout(s, SO_RCVTIMEO, seconds);
}

int socketGetOptions(SocketHandle s, SocketOptions* out) {
  socklen_t size = sizeof out->sendBufferBytes;
  if (getsockopt(s, SOL_SOCKET, SO_SNDBUF, &out->sendBufferBytes, &size) != 0) return errno;
  timeval tv{};
  size = sizeof tv;
  if (getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, &size) != 0) return errno;
  out->sendTimeoutSec = static_cast<int>(tv.tv_sec);
  size = sizeof tv;
  if (getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, &size) != 0) return errno;
  out->receiveTimeoutSec = static_cast<int>(tv.tv_sec);
  return 0;
}

int socketSend(SocketHandle s, const void* bytes, size_t length, size_t* sent) {
  *sent = 0;
  for (;;) {
    // MSG_NOSIGNAL: a peer that closed the connection must not raise SIGPIPE,
    // whose default action would end the whole JVM.
    ssize_t n = send(s, bytes, length, MSG_NOSIGNAL);
    if (n >= 0) {
      *sent = static_cast<size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int socketShutdown(SocketHandle s) {
  return shutdown(s, SHUT_RDWR) == 0 ? 0 : errno;
}

int socketClose(SocketHandle s) {
  return close(s) == 0 ? 0 : errno;
}

std::string errorText(int error) {
  char buf[256];
  // The GNU strerror_r answers a pointer that may or may not be buf.
  const char* text = strerror_r(error, buf, sizeof buf);
  return std::string(text ? text : "");
}

int resolveHost(const char* host, std::string* dotted) {
  sockaddr_in addr;
  int rc = ipv4Address(host, 0, &addr);
  if (rc != 0) return rc;
  char buf[INET_ADDRSTRLEN];
  if (!inet_ntop(AF_INET, &addr.sin_addr, buf, sizeof buf)) return errno;
  *dotted = buf;
  return 0;
}

}  // namespace os
