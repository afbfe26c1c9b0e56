// Posts OTLP/HTTP request bodies with libcurl: one connection kept open
// between posts, the protobuf content type, and gzip when asked for.
#pragma once

#include <memory>
#include <string>

namespace psdump {

struct PostResult {
  bool connected = false;     // an HTTP answer came back
  long status = 0;            // its status code
  double retryAfterSec = -1;  // its Retry-After, in seconds; -1 when it has none
  std::string error;          // what went wrong, when nothing came back
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Sends one body (already compressed when gzip is set).
  virtual PostResult post(const std::string& body, bool gzip) = 0;
};

// A transport to an http:// or https:// URL; null (with the reason in
// error) when libcurl cannot be set up.
std::unique_ptr<Transport> makeHttpTransport(const std::string& url, double timeoutSec,
                                             std::string& error);

// The gzip form of data (RFC 1952), for Content-Encoding: gzip.
bool gzipCompress(const std::string& data, std::string& out);

}  // namespace psdump
