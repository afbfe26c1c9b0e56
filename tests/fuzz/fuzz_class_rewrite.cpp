// Arbitrary class bytes through the constant-pool index and the rewrite. The
// wrapped method is taken from a Methodref of the input itself (picked by its
// first byte), so that mutations of real classes reach the writer. Every
// class the rewrite produces must index and walk again, with ten more pool
// entries and one more method; a crash or a read outside the input fails
// under the sanitizers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Log.h"
#include "instrument/ClassRewriter.h"
#include "instrument/ConstantPool.h"

namespace {

std::string text(const uint8_t* bytes, uint16_t length) {
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

// The spec of the pick-th Methodref whose parts resolve, if any.
bool specFrom(const ConstantPoolIndex& pool, unsigned pick, MethodSpec* spec) {
  std::vector<uint32_t> refs;
  for (uint32_t i = 1; i < pool.count(); i++) {
    if (pool.entry(i, CP_METHODREF)) refs.push_back(i);
  }
  if (refs.empty()) return false;
  const uint8_t* ref = pool.entry(refs[pick % refs.size()]);
  const uint8_t* nat = pool.entry(loadBigEndian16(ref + 3), CP_NAME_AND_TYPE);
  const uint8_t *owner = nullptr, *name = nullptr, *type = nullptr;
  uint16_t ownerLength = 0, nameLength = 0, typeLength = 0;
  if (!nat || !pool.className(loadBigEndian16(ref + 1), &owner, &ownerLength) ||
      !pool.utf8(loadBigEndian16(nat + 1), &name, &nameLength) ||
      !pool.utf8(loadBigEndian16(nat + 3), &type, &typeLength))
    return false;
  spec->targetClass = spec->ownerClass = text(owner, ownerLength);
  spec->methodName = text(name, nameLength);
  spec->descriptor = text(type, typeLength);
  for (int i = 0; i < MethodSpec::SLOTS; i++) spec->slots[i] = static_cast<uint16_t>(i + pick % 3);
  return true;
}

// Walks a class to its end; the method count, or -1 when it does not parse.
long methodCount(const std::vector<uint8_t>& bytes, const ConstantPoolIndex& pool) {
  ByteReader in(pool.poolEnd(), bytes.data() + bytes.size());
  uint16_t interfaces = 0, fields = 0, methods = 0;
  if (!in.skip(6) || !in.u2(&interfaces) || !in.skip(2u * interfaces) || !in.u2(&fields)) return -1;
  for (uint16_t i = 0; i < fields; i++) {
    if (!skipMember(in)) return -1;
  }
  if (!in.u2(&methods)) return -1;
  for (uint16_t i = 0; i < methods; i++) {
    if (!skipMember(in)) return -1;
  }
  return skipAttributes(in) && in.remaining() == 0 ? methods : -1;
}

}  // namespace

// Most inputs are corrupt classes, each of which the rewriter reports with a
// log line; writing those lines would cost more than reading the class.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  logLevel.store(LOG_ERROR - 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A private copy, exactly as long as the input, so any over-read is caught.
  std::vector<uint8_t> in(data, data + size);
  ConstantPoolIndex pool;
  if (!pool.build(in.data(), in.size())) return 0;
  MethodSpec spec;
  if (!specFrom(pool, size ? in[size - 1] : 0, &spec)) return 0;
  std::vector<uint8_t> out;
  if (!rewriteClass(in.data(), in.size(), pool, spec, &out)) return 0;

  long before = methodCount(in, pool);
  ConstantPoolIndex again;
  if (!again.build(out.data(), out.size()) || again.count() != pool.count() + 10 || before < 0 ||
      methodCount(out, again) != before + 1) {
    std::fprintf(stderr, "rewritten class does not parse again\n");
    std::abort();
  }
  return 0;
}
