// Feeds property-file lines to the line parser and checks every stored pair
// against the rules of the format, worked out here independently: trim bytes
// that are at most 32 as signed characters, skip empty and "#" lines, key and
// value are the first two runs without "=", a line without a value is
// skipped.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "config/PropertyMgr.h"

namespace {

bool blank(char c) {
  return static_cast<signed char>(c) <= 32;
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) b++;
  while (e > b && blank(s[e - 1])) e--;
  return s.substr(b, e - b);
}

std::optional<std::pair<std::string, std::string>> expected(const char* line) {
  std::string t = trimmed(line);
  if (t.empty() || t[0] == '#') return std::nullopt;
  std::string runs[2];
  size_t at = 0;
  for (std::string& run : runs) {
    while (at < t.size() && t[at] == '=') at++;
    if (at == t.size()) return std::nullopt;
    size_t end = t.find('=', at);
    if (end == std::string::npos) end = t.size();
    run = t.substr(at, end - at);
    at = end;
  }
  return std::make_pair(trimmed(runs[0]), trimmed(runs[1]));
}

// One manager serves many inputs; it is made afresh now and then so that its
// destruction (which frees every key and value) runs under the sanitizers.
std::unique_ptr<PropertyMgr> manager;
int uses = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!manager || ++uses % 4096 == 0) manager.reset(new PropertyMgr());
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    std::string line = input.substr(start, end - start + (end < input.size() ? 1 : 0));
    manager->parseLine(line.c_str());
    if (auto pair = expected(line.c_str())) {
      const char* stored = manager->getProperty(pair->first.c_str());
      if (!stored || pair->second != stored) {
        std::fprintf(stderr, "line parsed wrongly: key [%s] expected [%s] stored [%s]\n",
                     pair->first.c_str(), pair->second.c_str(), stored ? stored : "(absent)");
        std::abort();
      }
      // getIntProperty is atoi of the stored text.
      (void)manager->getIntProperty(pair->first.c_str(), 0);
    }
    start = end + 1;
  }
  return 0;
}
