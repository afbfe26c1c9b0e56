#include "Listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "Json.h"
#include "RequestSink.h"
#include "RequestView.h"
#include "Summary.h"

namespace psdump {

namespace {

using Clock = std::chrono::steady_clock;

// How long a connection keeps reading what is already on its way once the
// tool is asked to stop.
constexpr auto kDrainTime = std::chrono::seconds(1);
constexpr int kPollMs = 100;

// Reads a connected socket, waking every kPollMs to notice a stop request;
// after one it drains what still arrives for kDrainTime and then reports
// the end of the stream.
class SocketSource : public ByteSource {
 public:
  SocketSource(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}

  size_t read(uint8_t* dst, size_t max) override {
    for (;;) {
      const bool stopping = stop_.load(std::memory_order_relaxed);
      if (stopping) {
        if (!stopSeen_) {
          stopSeen_ = true;
          stopAt_ = Clock::now();
        } else if (Clock::now() - stopAt_ > kDrainTime) {
          interrupted_ = true;
          return 0;
        }
      }
      pollfd p{fd_, POLLIN, 0};
      const int rc = poll(&p, 1, stopping ? 0 : kPollMs);
      if (rc < 0) {
        if (errno == EINTR) continue;
        errno_ = errno;
        return 0;
      }
      if (rc == 0) {
        if (stopping) {
          interrupted_ = true;
          return 0;
        }
        continue;
      }
      const ssize_t n = recv(fd_, dst, max, 0);
      if (n > 0) {
        received_ += static_cast<uint64_t>(n);
        return static_cast<size_t>(n);
      }
      if (n == 0) return 0;
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      errno_ = errno;
      return 0;
    }
  }

  bool interrupted() const { return interrupted_; }
  int error() const { return errno_; }
  uint64_t received() const { return received_; }

 private:
  int fd_;
  const std::atomic<bool>& stop_;
  bool stopSeen_ = false;
  Clock::time_point stopAt_;
  bool interrupted_ = false;
  int errno_ = 0;
  uint64_t received_ = 0;
};

class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  size_t read(uint8_t* dst, size_t max) override {
    for (;;) {
      const ssize_t n = ::read(fd_, dst, max);
      if (n >= 0) {
        received_ += static_cast<uint64_t>(n);
        return static_cast<size_t>(n);
      }
      if (errno == EINTR) continue;
      errno_ = errno;
      return 0;
    }
  }
  bool interrupted() const { return false; }
  int error() const { return errno_; }
  uint64_t received() const { return received_; }

 private:
  int fd_;
  int errno_ = 0;
  uint64_t received_ = 0;
};

// Everything the connection threads share: the output streams, the summary
// and the request view, under one lock so that lines never interleave.
class Output {
 public:
  Output(FILE* out, FILE* err, const ListenerOptions& options, bool flushEach,
         std::unique_ptr<RequestSink> otlp)
      : out_(out),
        err_(err),
        quiet_(options.quiet),
        flushEach_(flushEach),
        requests_(options.requests),
        perRecord_(!options.summaryOnly && !options.requests),
        htmlPath_(options.htmlPath),
        otlp_(std::move(otlp)) {
    if (options.requests || !options.htmlPath.empty() || otlp_ != nullptr) {
      view_ = std::make_unique<RequestView>(options.requests);
    }
    if (otlp_ != nullptr) {
      RequestSink* otlp = otlp_.get();
      view_->forwardTo([otlp](const Request& q, bool open) { otlp->request(q, open); },
                       [otlp](uint64_t conn, const Record& r) { otlp->traceRecord(conn, r); });
    }
  }

  // A record for the outputs that read records; the counts are kept by the
  // connection (see decodeStream).
  void record(Record& r, uint64_t conn) {
    std::lock_guard<std::mutex> guard(lock_);
    if (otlp_ != nullptr && r.packetKind == PacketKind::Hello && r.index == 1) {
      otlp_->identity(conn, r);
    }
    if (perRecord_) {
      std::string line = recordToJson(r, conn);
      line += '\n';
      write(line);
    }
    if (view_ != nullptr) {
      view_->add(conn, r);
      writePending();
    }
  }

  void notice(const std::string& text) {
    if (quiet_) return;
    error(text);
  }

  void error(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    std::fprintf(err_, "psdump: %s\n", text.c_str());
    std::fflush(err_);
  }

  void opened() {
    std::lock_guard<std::mutex> guard(lock_);
    summary_.connectionOpened();
  }

  // counts: the connection's own summary of what it decoded.
  void closed(uint64_t conn, uint64_t bytes, bool malformed, const Summary& counts) {
    std::lock_guard<std::mutex> guard(lock_);
    summary_.merge(counts);
    summary_.connectionClosed(bytes, malformed);
    if (view_ != nullptr) {
      view_->connectionClosed(conn);
      writePending();
    }
    if (otlp_ != nullptr) otlp_->connectionClosed(conn);
    std::fflush(out_);
  }

  // The summary line, the request table and the HTML report, as asked for.
  // False if the report could not be written.
  bool finish(bool summary) {
    std::lock_guard<std::mutex> guard(lock_);
    if (summary) {
      std::string line = summary_.toJson();
      line += '\n';
      write(line);
    }
    bool ok = true;
    if (view_ != nullptr) {
      const std::string table = view_->finish();
      if (requests_) write(table);
      if (!htmlPath_.empty()) ok = writeReport(view_->html());
    }
    std::fflush(out_);
    if (otlp_ != nullptr) {
      // Always shown, also with --quiet: it tells whether anything was lost.
      std::fprintf(err_, "psdump: %s\n", otlp_->finish().c_str());
      std::fflush(err_);
    }
    return ok;
  }

  // Whether anything but the summary reads records (and their fields: the
  // summary needs only what a record holds besides them).
  bool wantsRecords() const { return perRecord_ || view_ != nullptr || otlp_ != nullptr; }

  bool anyMalformed() {
    std::lock_guard<std::mutex> guard(lock_);
    return summary_.malformedConnections > 0;
  }

 private:
  void write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out_);
    if (flushEach_) std::fflush(out_);
  }

  void writePending() {
    std::string& pending = view_->pending();
    if (pending.empty()) return;
    write(pending);
    pending.clear();
  }

  // Written whole to a temporary file, then renamed into place.
  bool writeReport(const std::string& html) {
    const std::string tmp = htmlPath_ + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    bool ok = f != nullptr && std::fwrite(html.data(), 1, html.size(), f) == html.size();
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (ok) ok = std::rename(tmp.c_str(), htmlPath_.c_str()) == 0;
    if (!ok) {
      std::fprintf(err_, "psdump: cannot write the HTML report %s: %s\n", htmlPath_.c_str(),
                   std::strerror(errno));
      std::remove(tmp.c_str());
    } else if (!quiet_) {
      std::fprintf(err_, "psdump: HTML report written to %s\n", htmlPath_.c_str());
    }
    std::fflush(err_);
    return ok;
  }

  std::mutex lock_;
  FILE* out_;
  FILE* err_;
  bool quiet_;
  bool flushEach_;
  bool requests_;
  // One JSON line per record.
  bool perRecord_;
  std::string htmlPath_;
  std::unique_ptr<RequestSink> otlp_;
  Summary summary_;
  std::unique_ptr<RequestView> view_;
};

// Decodes one stream to the end, counting what it decodes into counts;
// true when it was malformed. A stream cut by a stop request is not
// malformed: the source tells which end it was. The counts are the
// connection's own, merged into the summary when it closes, so that a
// connection that only counts takes no lock per record.
template <typename Source>
bool decodeStream(Source& source, uint64_t conn, const DecoderLimits& limits, Output& output,
                  Summary& counts) {
  const bool records = output.wantsRecords();
  StreamDecoder decoder(source, limits, records);
  Record r;
  for (;;) {
    const StreamDecoder::Result step = decoder.next(r);
    if (step == StreamDecoder::Result::Record) {
      counts.add(r);
      if (records) output.record(r, conn);
      continue;
    }
    if (step == StreamDecoder::Result::End) return false;
    if (source.interrupted()) {
      output.notice("connection " + std::to_string(conn) +
                    ": stopped inside a packet: " + decoder.error().message);
      return false;
    }
    std::string msg =
        "connection " + std::to_string(conn) + ": malformed input: " + decoder.error().message;
    if (source.error() != 0) {
      msg += " (receive failed: " + std::string(std::strerror(source.error())) + ")";
    }
    output.error(msg + "; connection dropped");
    return true;
  }
}

struct Connection {
  std::thread thread;
  std::atomic<bool> done{false};
};

void serveConnection(int fd, uint64_t conn, const ListenerOptions& options,
                     const std::atomic<bool>& stop, Output& output, Connection& self) {
  SocketSource source(fd, stop);
  Summary counts;
  const bool malformed = decodeStream(source, conn, options.limits, output, counts);
  close(fd);
  output.closed(conn, source.received(), malformed, counts);
  output.notice("connection " + std::to_string(conn) + " closed after " +
                std::to_string(source.received()) + " bytes");
  self.done.store(true);
}

// The OTLP exporter the options ask for; false (with the reason on err)
// when they name a URL that cannot be used or the export cannot be loaded.
bool makeExporter(const ListenerOptions& options, FILE* err,
                  std::unique_ptr<RequestSink>& exporter) {
  if (options.otlp.url.empty()) return true;
  std::string error;
  exporter = openOtlpModule(options.otlp, err, error);
  if (exporter == nullptr) {
    std::fprintf(err, "psdump: --otlp %s: %s\n", options.otlp.url.c_str(), error.c_str());
    return false;
  }
  return true;
}

bool writePortFile(const std::string& path, int port) {
  const std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (f == nullptr) return false;
  const bool ok = std::fprintf(f, "%d\n", port) > 0;
  if (std::fclose(f) != 0 || !ok) return false;
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

bool parseLoopback(const std::string& host, uint32_t& address) {
  if (host == "localhost") {
    address = INADDR_LOOPBACK;
    return true;
  }
  in_addr a{};
  if (inet_pton(AF_INET, host.c_str(), &a) != 1) return false;
  address = ntohl(a.s_addr);
  return (address >> 24) == 127;
}

int runListener(const ListenerOptions& options, const std::atomic<bool>& stop, FILE* out,
                FILE* err) {
  uint32_t address = 0;
  if (!parseLoopback(options.host, address)) {
    std::fprintf(err,
                 "psdump: refusing to listen on '%s': only loopback addresses (127.0.0.0/8, "
                 "localhost) are allowed\n",
                 options.host.c_str());
    return kExitSetup;
  }
  if (options.port < 0 || options.port > 65535) {
    std::fprintf(err, "psdump: port %d is out of range\n", options.port);
    return kExitSetup;
  }
  std::unique_ptr<RequestSink> exporter;
  if (!makeExporter(options, err, exporter)) return kExitSetup;
  int listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd < 0) {
    std::fprintf(err, "psdump: socket: %s\n", std::strerror(errno));
    return kExitSetup;
  }
  const int one = 1;
  setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(options.port));
  sa.sin_addr.s_addr = htonl(address);
  if (bind(listenFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      listen(listenFd, 16) != 0) {
    std::fprintf(err, "psdump: cannot listen on %s:%d: %s\n", options.host.c_str(), options.port,
                 std::strerror(errno));
    close(listenFd);
    return kExitSetup;
  }
  socklen_t len = sizeof sa;
  getsockname(listenFd, reinterpret_cast<sockaddr*>(&sa), &len);
  const int port = ntohs(sa.sin_port);
  char hostText[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &sa.sin_addr, hostText, sizeof hostText);
  if (!options.portFile.empty() && !writePortFile(options.portFile, port)) {
    std::fprintf(err, "psdump: cannot write the port file %s: %s\n", options.portFile.c_str(),
                 std::strerror(errno));
    close(listenFd);
    return kExitSetup;
  }
  Output output(out, err, options, true, std::move(exporter));
  output.notice("listening on " + std::string(hostText) + ":" + std::to_string(port));

  // Connection threads also watch this flag; it is set when the listener
  // stops for any reason.
  std::atomic<bool> stopAll{false};
  std::list<Connection> connections;
  uint64_t accepted = 0;
  uint64_t closed = 0;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(options.durationSec));

  auto reap = [&] {
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->done.load()) {
        it->thread.join();
        it = connections.erase(it);
        ++closed;
      } else {
        ++it;
      }
    }
  };

  for (;;) {
    reap();
    if (stop.load()) break;
    if (options.durationSec > 0 && Clock::now() >= deadline) break;
    if (options.maxConnections > 0 && closed >= static_cast<uint64_t>(options.maxConnections)) {
      break;
    }
    if (options.maxConnections > 0 && accepted >= static_cast<uint64_t>(options.maxConnections)) {
      // Enough connections: refuse further ones and wait for these to close.
      if (listenFd >= 0) {
        close(listenFd);
        listenFd = -1;
      }
      poll(nullptr, 0, kPollMs);
      continue;
    }
    pollfd p{listenFd, POLLIN, 0};
    const int rc = poll(&p, 1, kPollMs);
    if (rc <= 0) continue;
    sockaddr_in peer{};
    socklen_t peerLen = sizeof peer;
    const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &peerLen, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const uint64_t conn = ++accepted;
    char peerText[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof peerText);
    output.opened();
    output.notice("connection " + std::to_string(conn) + " from " + peerText + ":" +
                  std::to_string(ntohs(peer.sin_port)));
    connections.emplace_back();
    Connection& c = connections.back();
    c.thread = std::thread(serveConnection, fd, conn, std::cref(options), std::cref(stopAll),
                           std::ref(output), std::ref(c));
  }
  if (listenFd >= 0) close(listenFd);
  stopAll.store(true);
  for (Connection& c : connections) c.thread.join();
  const bool reported = output.finish(options.summary || options.summaryOnly);
  if (output.anyMalformed()) return kExitMalformed;
  return reported ? kExitOk : kExitSetup;
}

int runFile(const std::string& path, const ListenerOptions& options, FILE* out, FILE* err) {
  int fd = 0;
  if (path != "-") {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(err, "psdump: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
      return kExitSetup;
    }
  }
  std::unique_ptr<RequestSink> exporter;
  if (!makeExporter(options, err, exporter)) {
    if (fd != 0) close(fd);
    return kExitSetup;
  }
  Output output(out, err, options, false, std::move(exporter));
  FdSource source(fd);
  output.opened();
  Summary counts;
  const bool malformed = decodeStream(source, 1, options.limits, output, counts);
  output.closed(1, source.received(), malformed, counts);
  if (fd != 0) close(fd);
  const bool reported = output.finish(options.summary || options.summaryOnly);
  if (malformed) return kExitMalformed;
  return reported ? kExitOk : kExitSetup;
}

}  // namespace psdump
