// psdump: listens where the agent sends its packets (loopback only) and
// prints what arrives, one JSON object per record.
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Listener.h"

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) {
  g_stop.store(true);
}

const char kUsage[] =
    "usage: psdump [--host 127.0.0.1] [--port N] [--port-file F] [--summary]\n"
    "              [--summary-only] [--requests] [--html FILE] [--duration S] [--max-connections "
    "N]\n"
    "              [--max-record-bytes N] [--quiet] [OTLP options]\n"
    "       psdump --input FILE|- [--summary] [--requests] [--html FILE] [--max-record-bytes N]\n"
    "              [OTLP options]\n"
    "OTLP options: --otlp URL [--otlp-gzip] [--otlp-batch SPANS] [--otlp-batch-bytes N]\n"
    "              [--otlp-batch-ms MS] [--otlp-queue TRACES] [--otlp-drain S]\n"
    "              [--otlp-timeout S]\n"
    "\n"
    "Listens on a loopback address for the agent's connections and prints one JSON\n"
    "object per decoded record on standard output. --port 0 (the default) picks a\n"
    "free port; the port is announced on standard error and written to --port-file.\n"
    "Stops on SIGINT or SIGTERM, after --duration seconds, or once --max-connections\n"
    "connections have closed; --summary then prints the counts per record type and\n"
    "per thread as one more JSON line; --summary-only prints that line alone, without\n"
    "a line per record (for long runs where only the counts matter). --input decodes\n"
    "a captured stream instead.\n"
    "--requests pairs begin and end records into requests and prints one JSON object\n"
    "per request (and per single event record) instead of one per record, then a\n"
    "table per request name: count, errors, wall-time percentiles, CPU time and the\n"
    "nested SQL. --html FILE writes the same as a self-contained HTML report.\n"
    "--otlp URL (e.g. http://127.0.0.1:4318/v1/traces) sends every request as an\n"
    "OpenTelemetry trace over OTLP/HTTP (protobuf), in batches of --otlp-batch spans\n"
    "(default 2048) or --otlp-batch-bytes bytes (default 4194304), or after\n"
    "--otlp-batch-ms (default 1000); failed posts are retried,\n"
    "and while the back end is away at most --otlp-queue traces (default 10000) wait,\n"
    "the oldest dropped first. At the end psdump waits up to --otlp-drain seconds\n"
    "(default 10) for the queue to empty and prints what was sent and dropped.\n"
    "Malformed input is reported on standard error with its byte offset and the\n"
    "connection is dropped. Exit status: 0, 1 for a setup error, 2 if any input\n"
    "was malformed.\n";

bool parseLong(const char* text, long min, long max, long& out) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
  out = v;
  return true;
}

bool parseSeconds(const char* text, double& out) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(v >= 0) || v > 1e9) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  psdump::ListenerOptions options;
  std::string input;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "psdump: %s needs a value\n%s", arg.c_str(), kUsage);
        std::exit(psdump::kExitSetup);
      }
      return argv[++i];
    };
    auto bad = [&](const char* v) {
      std::fprintf(stderr, "psdump: bad value '%s' for %s\n", v, arg.c_str());
      std::exit(psdump::kExitSetup);
    };
    long n = 0;
    if (arg == "--host") {
      options.host = value();
    } else if (arg == "--port") {
      const char* v = value();
      if (!parseLong(v, 0, 65535, n)) bad(v);
      options.port = static_cast<int>(n);
    } else if (arg == "--port-file") {
      options.portFile = value();
    } else if (arg == "--summary") {
      options.summary = true;
    } else if (arg == "--summary-only") {
      options.summaryOnly = true;
    } else if (arg == "--duration") {
      const char* v = value();
      if (!parseSeconds(v, options.durationSec)) bad(v);
    } else if (arg == "--max-connections") {
      const char* v = value();
      if (!parseLong(v, 0, 1000000, options.maxConnections)) bad(v);
    } else if (arg == "--max-record-bytes") {
      const char* v = value();
      if (!parseLong(v, 64, 1L << 30, n)) bad(v);
      options.limits.maxRecordBytes = static_cast<uint64_t>(n);
    } else if (arg == "--requests") {
      options.requests = true;
    } else if (arg == "--html") {
      options.htmlPath = value();
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--otlp") {
      options.otlp.url = value();
    } else if (arg == "--otlp-gzip") {
      options.otlp.gzip = true;
    } else if (arg == "--otlp-batch") {
      const char* v = value();
      if (!parseLong(v, 1, 1000000, n)) bad(v);
      options.otlp.batchSpans = static_cast<size_t>(n);
    } else if (arg == "--otlp-batch-bytes") {
      const char* v = value();
      if (!parseLong(v, 1024, 1L << 30, n)) bad(v);
      options.otlp.batchBytes = static_cast<size_t>(n);
    } else if (arg == "--otlp-batch-ms") {
      const char* v = value();
      if (!parseLong(v, 1, 3600000, n)) bad(v);
      options.otlp.batchDelaySec = static_cast<double>(n) / 1000;
    } else if (arg == "--otlp-queue") {
      const char* v = value();
      if (!parseLong(v, 1, 100000000, n)) bad(v);
      options.otlp.queueTraces = static_cast<uint64_t>(n);
    } else if (arg == "--otlp-drain") {
      const char* v = value();
      if (!parseSeconds(v, options.otlp.drainSec)) bad(v);
    } else if (arg == "--otlp-timeout") {
      const char* v = value();
      if (!parseSeconds(v, options.otlp.timeoutSec) || options.otlp.timeoutSec <= 0) bad(v);
    } else if (arg == "--input") {
      input = value();
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return psdump::kExitOk;
    } else {
      std::fprintf(stderr, "psdump: unknown option %s\n%s", arg.c_str(), kUsage);
      return psdump::kExitSetup;
    }
  }

  if (!input.empty()) return psdump::runFile(input, options, stdout, stderr);

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return psdump::runListener(options, g_stop, stdout, stderr);
}
