// Linux implementation of os.h.
#include "platform/os.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>

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
  return processorMHzFrom("/proc/cpuinfo");
}

int processorMHzFrom(const char* cpuinfoPath) {
  std::ifstream in(cpuinfoPath ? cpuinfoPath : "");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 7, "cpu MHz") != 0) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    double mhz = std::strtod(line.c_str() + colon + 1, nullptr);
    return mhz > 0 && mhz < 1e6 ? static_cast<int>(mhz + 0.5) : 0;
  }
  return 0;
}

int onlineProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

long pageSize() {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? size : 4096;
}

long long physicalMemoryBytes() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<long long>(pages) * pageSize;
}

namespace {

// The whitespace-separated fields of a line.
std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (in >> field) fields.push_back(field);
  return fields;
}

// A decimal field, or false when it does not start with a digit.
bool numberOf(const std::string& field, uint64_t* value) {
  if (field.empty() || field[0] < '0' || field[0] > '9') return false;
  errno = 0;
  unsigned long long v = std::strtoull(field.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  *value = v;
  return true;
}

}  // namespace

bool readPagingCounter(const char* vmstatPath, uint64_t* pages) {
  std::ifstream in(vmstatPath ? vmstatPath : "");
  std::string line;
  uint64_t sum = 0;
  int found = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> f = fieldsOf(line);
    uint64_t value = 0;
    if (f.size() >= 2 && (f[0] == "pswpin" || f[0] == "pswpout") && numberOf(f[1], &value)) {
      sum += value;
      found++;
    }
  }
  if (found == 0) return false;
  *pages = sum;
  return true;
}

bool readProcessSwapBytes(const char* statusPath, uint64_t* bytes) {
  std::ifstream in(statusPath ? statusPath : "");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = fieldsOf(line);
    uint64_t kb = 0;
    if (f.size() >= 2 && f[0] == "VmSwap:" && numberOf(f[1], &kb)) {
      if (kb > UINT64_MAX / 1024) return false;
      *bytes = kb * 1024;
      return true;
    }
  }
  return false;
}

bool readDiskBytesPerTransfer(const char* diskstatsPath, uint64_t* bytes) {
  // Fields: major minor name reads merged sectors-read ms writes merged
  // sectors-written ...
  std::ifstream in(diskstatsPath ? diskstatsPath : "");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = fieldsOf(line);
    if (f.size() < 10) continue;
    if (f[2].compare(0, 4, "loop") == 0 || f[2].compare(0, 3, "ram") == 0) continue;
    uint64_t reads, sectorsRead, writes, sectorsWritten;
    if (!numberOf(f[3], &reads) || !numberOf(f[5], &sectorsRead) || !numberOf(f[7], &writes) ||
        !numberOf(f[9], &sectorsWritten))
      continue;
    uint64_t transfers = reads + writes;
    long double total = (static_cast<long double>(sectorsRead) + sectorsWritten) * 512;
    *bytes = transfers == 0 ? 0 : static_cast<uint64_t>(total / transfers);
    return true;
  }
  return false;
}

bool readNetworkBytes(const char* netDevPath, uint64_t* bytes) {
  // "  name: rx-bytes rx-packets ... (8 receive fields) tx-bytes ..."
  std::ifstream in(netDevPath ? netDevPath : "");
  std::string line;
  while (std::getline(in, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::vector<std::string> name = fieldsOf(line.substr(0, colon));
    if (name.size() != 1 || name[0] == "lo") continue;
    std::vector<std::string> f = fieldsOf(line.substr(colon + 1));
    uint64_t received, sent;
    if (f.size() < 9 || !numberOf(f[0], &received) || !numberOf(f[8], &sent)) continue;
    *bytes = received + sent;
    return true;
  }
  return false;
}

bool readMachineCpuTicks(const char* statPath, uint64_t* busy, uint64_t* total) {
  // "cpu user nice system idle iowait irq softirq steal ..."
  std::ifstream in(statPath ? statPath : "");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = fieldsOf(line);
    if (f.size() < 5 || f[0] != "cpu") continue;
    uint64_t sum = 0, idle = 0;
    for (size_t i = 1; i < f.size() && i <= 8; i++) {
      uint64_t value = 0;
      if (!numberOf(f[i], &value)) return false;
      sum += value;
      if (i == 4 || i == 5) idle += value;
    }
    *busy = sum - idle;
    *total = sum;
    return true;
  }
  return false;
}

bool freeDiskBytes(const char* path, uint64_t* bytes) {
  struct statvfs st;
  if (!path || statvfs(path, &st) != 0) return false;
  *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

// getrusage's user plus system time stands for the process times call's
// kernel plus user time.
int64_t processCpuNanos() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  auto nanos = [](const struct timeval& tv) {
    return static_cast<int64_t>(tv.tv_sec) * 1000000000 + static_cast<int64_t>(tv.tv_usec) * 1000;
  };
  return nanos(usage.ru_utime) + nanos(usage.ru_stime);
}

int64_t threadCpuNanos() {
  struct timespec ts;
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Linux keeps these figures in /proc, which the readers above parse.
Service registryProcessorMHz(uint32_t*) {
  return Service::Absent;
}
Service pageFilePages(uint64_t*) {
  return Service::Absent;
}
Service processPageFileBytes(uint64_t*) {
  return Service::Absent;
}
Service performanceCounter(const char*, const char*, int, int64_t*) {
  return Service::Absent;
}
Service processorTimePercent(int, double*) {
  return Service::Absent;
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

bool isAbsolutePath(const char* path) {
  return path && path[0] == '/';
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

int readRegularFile(const char* path, size_t maxBytes, std::string* content) {
  if (!path || !content) return EINVAL;
  // O_NOFOLLOW: a link in place of the file is refused (ELOOP); O_NONBLOCK:
  // a FIFO without a writer does not hold the open, it is refused below.
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP ? kNotRegularFile : errno;
  struct stat st;
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = kNotRegularFile;
  } else {
    content->clear();
    char buffer[4096];
    while (content->size() < maxBytes) {
      size_t want = std::min(sizeof buffer, maxBytes - content->size());
      ssize_t got = read(fd, buffer, want);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        error = errno;
        break;
      }
      if (got == 0) break;
      content->append(buffer, static_cast<size_t>(got));
    }
  }
  close(fd);
  return error;
}

namespace {

std::atomic<unsigned> replaceCount{0};

int writeAll(int fd, const void* bytes, size_t length) {
  const char* at = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t n = write(fd, at, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    at += n;
    length -= static_cast<size_t>(n);
  }
  return 0;
}

// Makes a rename in the directory of path last through a crash.
void syncDirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

int replaceFile(const char* path, const void* bytes, size_t length) {
  if (!path || (!bytes && length > 0)) return EINVAL;
  mode_t mode = S_IRUSR | S_IWUSR;
  struct stat st;
  if (lstat(path, &st) == 0) {
    if (!S_ISREG(st.st_mode)) return kNotRegularFile;
    mode = st.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO);
  } else if (errno != ENOENT) {
    return errno;
  }
  // A name of our own beside the file: O_EXCL refuses anything already
  // there, a link included.
  std::string fresh = std::string(path) + "." + std::to_string(getpid()) + "." +
                      std::to_string(replaceCount.fetch_add(1)) + ".new";
  int fd =
      open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return errno;
  int error = writeAll(fd, bytes, length);
  if (error == 0 && fsync(fd) != 0) error = errno;
  // The mode the old file had, set on the new one before it takes the name.
  if (error == 0 && fchmod(fd, mode) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  // rename replaces whatever holds the name by then, a link included,
  // without writing through it.
  if (error == 0 && rename(fresh.c_str(), path) != 0) error = errno;
  if (error != 0) {
    unlink(fresh.c_str());
    return error;
  }
  syncDirectoryOf(path);
  return 0;
}

bool listDirectory(const char* dir, const char* prefix, std::vector<std::string>* names,
                   int* errorCode) {
  DIR* d = dir ? opendir(dir) : nullptr;
  if (!d) {
    if (errorCode) *errorCode = dir ? errno : EINVAL;
    return false;
  }
  size_t prefixLength = prefix ? std::strlen(prefix) : 0;
  while (struct dirent* entry = readdir(d)) {
    if (prefixLength == 0 || std::strncmp(entry->d_name, prefix, prefixLength) == 0)
      names->emplace_back(entry->d_name);
  }
  closedir(d);
  if (errorCode) *errorCode = 0;
  return true;
}

bool fileModifiedSeconds(const char* path, int64_t* seconds) {
  struct stat st;
  if (!path || stat(path, &st) != 0) return false;
  *seconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool fileCreatedSeconds(const char* path, int64_t* seconds) {
  return fileModifiedSeconds(path, seconds);
}

int removeFile(const char* path) {
  return path && unlink(path) == 0 ? 0 : errno;
}

int renameNoReplace(const char* from, const char* to) {
  if (!from || !to) return EINVAL;
  // A new link fails on an existing name, where rename would replace it.
  if (link(from, to) == 0) return unlink(from) == 0 ? 0 : errno;
  int error = errno;
  if (error != EPERM && error != EOPNOTSUPP) return error;
  // A file system without links: the name is checked first instead.
  struct stat st;
  if (stat(to, &st) == 0) return EEXIST;
  return rename(from, to) == 0 ? 0 : errno;
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

namespace {
LocalTime fromTm(const struct tm& tmv, int millis) {
  return LocalTime{tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour,
                   tmv.tm_min,         tmv.tm_sec,     millis};
}
}  // namespace

LocalTime localTimeOf(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tmv {};
  localtime_r(&t, &tmv);
  return fromTm(tmv, 0);
}

LocalTime utcTime() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time_t now = tv.tv_sec;
  struct tm tmv {};
  gmtime_r(&now, &tmv);
  return fromTm(tmv, static_cast<int>(tv.tv_usec / 1000));
}

bool localTimeToSeconds(int year, int month, int day, int hour, int minute, int second,
                        int64_t* seconds) {
  // Out-of-range parts would be normalised by mktime; the ranges checked keep
  // every addition below from overflowing.
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
    return false;
  struct tm tmv {};
  tmv.tm_year = year - 1900;
  tmv.tm_mon = month - 1;
  tmv.tm_mday = day;
  tmv.tm_hour = hour;
  tmv.tm_min = minute;
  tmv.tm_sec = second;
  tmv.tm_isdst = -1;
  time_t t = mktime(&tmv);
  if (t == static_cast<time_t>(-1)) return false;
  // A day the month does not have (30 February) was carried into the next
  // month.
  if (tmv.tm_mday != day || tmv.tm_mon != month - 1) return false;
  *seconds = static_cast<int64_t>(t);
  return true;
}

int64_t nowSeconds() {
  return static_cast<int64_t>(time(nullptr));
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

Mutex::Mutex(const char*) : impl_(new (std::nothrow) Impl) {
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

bool socketPeerClosed(SocketHandle s) {
  // POLLRDHUP: the peer's end of the stream, seen ahead of any unread data;
  // POLLHUP and POLLERR are always reported.
  pollfd p{s, POLLRDHUP, 0};
  int rc;
  do {
    rc = poll(&p, 1, 0);
  } while (rc < 0 && errno == EINTR);
  return rc > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
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
