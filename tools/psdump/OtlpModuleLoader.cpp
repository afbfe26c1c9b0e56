#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "RequestSink.h"

namespace psdump {

namespace {

// The directory of the running executable, with a trailing '/'; "" when it
// cannot be told.
std::string executableDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  std::string dir(path, static_cast<size_t>(n));
  const size_t slash = dir.rfind('/');
  return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

}  // namespace

std::unique_ptr<RequestSink> openOtlpModule(const OtlpOptions& options, FILE* err,
                                            std::string& error) {
  const std::string path = executableDir() + "psdump-otlp.so";
  // Loaded once and kept: the exporter's code must outlive it.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    error = "cannot load the OTLP module: " + std::string(why != nullptr ? why : path);
    return nullptr;
  }
  auto open = reinterpret_cast<OpenOtlp>(dlsym(module, kOpenOtlpSymbol));
  if (open == nullptr) {
    error = "the OTLP module " + path + " has no entry point " + kOpenOtlpSymbol;
    return nullptr;
  }
  return std::unique_ptr<RequestSink>(open(options, err, error));
}

}  // namespace psdump
