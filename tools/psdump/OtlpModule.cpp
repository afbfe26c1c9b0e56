// The entry point of psdump-otlp.so: the OTLP exporter behind the interface
// psdump loads it through.
#include <random>

#include "OtlpExporter.h"
#include "RequestSink.h"

extern "C" __attribute__((visibility("default"))) psdump::RequestSink* psdump_open_otlp(
    const psdump::OtlpOptions& options, FILE* err, std::string& error) {
  try {
    std::unique_ptr<psdump::Transport> transport =
        psdump::makeHttpTransport(options.url, options.timeoutSec, error);
    if (transport == nullptr) return nullptr;
    std::random_device random;
    const uint64_t salt = (static_cast<uint64_t>(random()) << 32) ^ random();
    return new psdump::OtlpExporter(options, std::move(transport), salt, err);
  } catch (const std::exception& e) {
    error = e.what();
    return nullptr;
  }
}
