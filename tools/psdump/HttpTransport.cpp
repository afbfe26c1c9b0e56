#include "HttpTransport.h"

#include <curl/curl.h>
#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace psdump {

namespace {

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The seconds a Retry-After header asks to wait: a number of seconds or an
// HTTP date; -1 for anything else.
double parseRetryAfter(const std::string& value) {
  size_t i = 0;
  while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
  if (i < value.size() && std::isdigit(static_cast<unsigned char>(value[i]))) {
    char* end = nullptr;
    const double v = std::strtod(value.c_str() + i, &end);
    return v >= 0 ? v : -1;
  }
  const time_t when = curl_getdate(value.c_str() + i, nullptr);
  if (when == -1) return -1;
  const double wait = std::difftime(when, std::time(nullptr));
  return wait > 0 ? wait : 0;
}

class CurlTransport : public Transport {
 public:
  CurlTransport(CURL* curl, const std::string& url, double timeoutSec)
      : curl_(curl), url_(url), timeoutMs_(static_cast<long>(timeoutSec * 1000)) {}
  ~CurlTransport() override { curl_easy_cleanup(curl_); }

  PostResult post(const std::string& body, bool gzip) override {
    PostResult result;
    retryAfter_ = -1;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/x-protobuf");
    if (gzip) headers = curl_slist_append(headers, "Content-Encoding: gzip");
    // No "Expect: 100-continue" round trip before large bodies.
    headers = curl_slist_append(headers, "Expect:");
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
#endif
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl_, CURLOPT_POST, 1L);
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, timeoutMs_);
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs_);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CurlTransport::discard);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &CurlTransport::header);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
    const CURLcode rc = curl_easy_perform(curl_);
    if (rc == CURLE_OK) {
      result.connected = true;
      curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &result.status);
      result.retryAfterSec = retryAfter_;
    } else {
      result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(rc);
    }
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, nullptr);
    curl_slist_free_all(headers);
    return result;
  }

 private:
  static size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
  }

  static size_t header(char* data, size_t size, size_t count, void* self) {
    const size_t n = size * count;
    static const char kName[] = "retry-after:";
    const size_t nameLen = sizeof kName - 1;
    if (n > nameLen && strncasecmp(data, kName, nameLen) == 0) {
      std::string value(data + nameLen, n - nameLen);
      while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
        value.pop_back();
      static_cast<CurlTransport*>(self)->retryAfter_ = parseRetryAfter(value);
    }
    return n;
  }

  CURL* curl_;
  std::string url_;
  long timeoutMs_;
  double retryAfter_ = -1;
};

}  // namespace

std::unique_ptr<Transport> makeHttpTransport(const std::string& url, double timeoutSec,
                                             std::string& error) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
    error = "the OTLP URL must begin with http:// or https://";
    return nullptr;
  }
  globalInit();
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    error = "libcurl could not be set up";
    return nullptr;
  }
  return std::make_unique<CurlTransport>(curl, url, timeoutSec);
}

bool gzipCompress(const std::string& data, std::string& out) {
  z_stream z{};
  // 15 window bits, +16 for the gzip wrapper.
  // The fastest level: spans compress well even so, and psdump must keep up
  // with the stream it decodes.
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return false;
  }
  out.resize(deflateBound(&z, static_cast<uLong>(data.size())) + 32);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return rc == Z_STREAM_END;
}

}  // namespace psdump
