// Loads the input as a message catalogue (through a memory stream) and formats
// keys of it with several argument lists. A format that does not fit its
// arguments must be refused, never formatted past them, and every result must
// end inside its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "base/Log.h"

namespace {

const LogArg kNone[1] = {LogArg(0)};
const LogArg kOneText[] = {LogArg("text")};
const LogArg kOneInt[] = {LogArg(-42)};
const LogArg kMixed[] = {LogArg("a"), LogArg(7), LogArg(0xffffffffu),
                         LogArg(static_cast<const char*>(nullptr))};

struct ArgList {
  const LogArg* args;
  int count;
};
const ArgList kLists[] = {{kNone, 0}, {kOneText, 1}, {kOneInt, 1}, {kMixed, 4}};

void formatWith(const char* key, int size) {
  std::vector<char> out(static_cast<size_t>(size) + 1, '\x55');
  for (const ArgList& list : kLists) {
    CatalogResult r = formatCatalog(key, list.args, list.count, out.data(), size);
    if (r == CatalogResult::Formatted && std::memchr(out.data(), '\0', size) == nullptr) {
      std::fprintf(stderr, "result not ended inside its buffer\n");
      std::abort();
    }
    if (out[size] != '\x55') {
      std::fprintf(stderr, "wrote past the buffer\n");
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the output buffer size: small ones test the cut.
  int outSize = 1 + data[0] % 64;
  if (data[0] & 0x80) outSize = 2000;
  std::vector<char> text(data + 1, data + size);
  FILE* in = fmemopen(text.empty() ? nullptr : text.data(), text.size(), "r");
  if (!in && !text.empty()) return 0;
  loadCatalog(in);
  if (in) std::fclose(in);
  // Format every key the input names, as the loader would split them.
  std::istringstream lines(std::string(text.begin(), text.end()));
  for (std::string line; std::getline(lines, line);)
    if (line.find('=') != std::string::npos)
      formatWith(line.substr(0, line.find('=')).c_str(), outSize);
  formatWith("PROBE_INFO", outSize);
  loadCatalog(nullptr);
  return 0;
}
