// Where finished requests go besides psdump's own outputs: the OTLP export.
// The export lives in a module of its own (psdump-otlp.so, next to the
// tool) that psdump loads only when --otlp asks for it, so that decoding
// alone does not load libprotobuf, libcurl and their dependencies.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "OtlpOptions.h"
#include "Record.h"
#include "RequestTracker.h"

namespace psdump {

class RequestSink {
 public:
  virtual ~RequestSink() = default;
  // The identity record of a connection's hello packet.
  virtual void identity(uint64_t conn, const Record& r) = 0;
  virtual void connectionClosed(uint64_t conn) = 0;
  // A finished request; open: its connection ended before it did.
  virtual void request(const Request& q, bool open) = 0;
  // A single record shown as an event.
  virtual void traceRecord(uint64_t conn, const Record& r) = 0;
  // Ends the export; returns the line psdump prints at exit.
  virtual std::string finish() = 0;
};

// The name of the module's entry point and its type: an exporter for the
// options, or null with the reason in error.
constexpr const char kOpenOtlpSymbol[] = "psdump_open_otlp";
using OpenOtlp = RequestSink* (*)(const OtlpOptions& options, FILE* err, std::string& error);

// Loads the OTLP module from the directory of the running executable and
// opens an exporter; null with the reason in error.
std::unique_ptr<RequestSink> openOtlpModule(const OtlpOptions& options, FILE* err,
                                            std::string& error);

}  // namespace psdump
