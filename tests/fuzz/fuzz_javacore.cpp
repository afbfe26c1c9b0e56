// Feeds arbitrary bytes to the javacore parser as a file's text. The first
// four bytes pick the thread object id and the next the frame limit. Checks
// what must hold whatever the input: never more frames than the limit, no
// frame without a class or holding a line end, and a file read through
// stdio giving the same frames as the bytes read in memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/JavacoreParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  uint32_t id;
  std::memcpy(&id, data, 4);
  int maxFrames = data[4] % 16;
  const char* text = reinterpret_cast<const char*>(data + 5);
  size_t length = size - 5;

  JavacoreParser inMemory(id, maxFrames);
  inMemory.parseText(text, length);
  const auto& frames = inMemory.frames();
  if (frames.size() > static_cast<size_t>(maxFrames)) std::abort();
  for (const JavacoreFrame& f : frames) {
    if (f.className.find('\n') != std::string::npos || f.methodName.find('\n') != std::string::npos)
      std::abort();
    if (f.methodName.find('(') != std::string::npos) std::abort();
  }

  std::FILE* file = fmemopen(const_cast<char*>(text), length ? length : 1, "r");
  if (!file) return 0;
  JavacoreParser fromFile(id, maxFrames);
  if (length) fromFile.parseFile(file);
  std::fclose(file);
  if (length && fromFile.frames().size() != frames.size()) std::abort();
  return 0;
}
