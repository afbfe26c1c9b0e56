// Rewrites one class file with the library's class rewriter, for the JVM
// tests: class_rewrite <in.class> <out.class> <method spec>. Exits 1 when
// the spec does not parse, the class does not index or nothing was wrapped.
#include <fstream>
#include <iterator>
#include <vector>

#include "instrument/ClassRewriter.h"
#include "instrument/ConstantPool.h"
#include "instrument/InstrumentConfig.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  MethodSpec spec;
  ConstantPoolIndex pool;
  std::vector<uint8_t> out;
  if (!parseMethodSpec(argv[3], &spec) || !pool.build(bytes.data(), bytes.size()) ||
      !rewriteClass(bytes.data(), bytes.size(), pool, spec, &out))
    return 1;
  std::ofstream(argv[2], std::ios::binary)
      .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return 0;
}
