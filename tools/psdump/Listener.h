// The collector side of the agent's connections: listens on a loopback
// address, decodes every accepted connection on a thread of its own and
// prints one JSON line per record.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "OtlpOptions.h"
#include "StreamDecoder.h"

namespace psdump {

struct ListenerOptions {
  std::string host = "127.0.0.1";
  int port = 0;              // 0: any free port
  std::string portFile;      // where to write the port listened on, if not empty
  bool summary = false;      // print the summary line at the end
  bool summaryOnly = false;  // no line per record: only the summary (implies summary)
  double durationSec = 0;    // stop after this long; 0: no limit
  long maxConnections = 0;   // stop when this many connections have closed; 0: no limit
  bool quiet = false;        // no notices on stderr, only errors
  bool requests = false;     // request trees and the request table instead of records
  std::string htmlPath;      // where to write the HTML request report, if not empty
  OtlpOptions otlp;          // request trees as OpenTelemetry spans, when it names a URL
  DecoderLimits limits;
};

// Exit codes of the tool.
enum : int { kExitOk = 0, kExitSetup = 1, kExitMalformed = 2 };

// True, with the address in host byte order, for "localhost" and dotted
// IPv4 addresses within 127.0.0.0/8; the tool never listens anywhere else.
bool parseLoopback(const std::string& host, uint32_t& address);

// Listens until stop is set, the duration passes or the connection limit is
// reached; JSON lines go to out, notices and errors to err. Returns an exit
// code.
int runListener(const ListenerOptions& options, const std::atomic<bool>& stop, FILE* out,
                FILE* err);

// Decodes a captured stream (a file, or standard input for "-") as one
// connection.
int runFile(const std::string& path, const ListenerOptions& options, FILE* out, FILE* err);

}  // namespace psdump
