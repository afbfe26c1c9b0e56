// Class instrumentation costs: rewrite throughput for a typical class (an
// 8 KB class loader of 43 methods, version 48.0, in bench/data), and the
// class-load hook for classes it passes unchanged: a current class (version
// 61, refused at the version test) and an old one that is indexed and named
// but matches nothing.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "instrument/ClassLoadHook.h"
#include "instrument/ClassRewriter.h"
#include "instrument/ConstantPool.h"
#include "instrument/InstrumentConfig.h"
#include "instrument/InstrumentSetup.h"

namespace {

std::vector<uint8_t> typicalClass() {
  std::string file = __FILE__;
  file = file.substr(0, file.rfind('/')) + "/data/TypicalLoader.class";
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

void BM_RewriteTypicalClass(benchmark::State& state) {
  std::vector<uint8_t> bytes = typicalClass();
  MethodSpec spec;
  parseMethodSpec(
      "app.TypicalLoader:app.TypicalLoader:defineClass0:"
      "(Ljava/lang/String;[BII)Ljava/lang/Class;:0:1:2:3:4",
      &spec);
  for (auto _ : state) {
    ConstantPoolIndex pool;
    std::vector<uint8_t> out;
    if (!pool.build(bytes.data(), bytes.size()) ||
        !rewriteClass(bytes.data(), bytes.size(), pool, spec, &out)) {
      state.SkipWithError("the typical class was not rewritten");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_RewriteTypicalClass);

void hookUnchanged(benchmark::State& state, uint8_t major) {
  instrumentationSetup("");
  std::vector<uint8_t> bytes = typicalClass();
  bytes[7] = major;
  JVMPI_Event event{};
  event.event_type = JVMPI_EVENT_CLASS_LOAD_HOOK;
  auto& hook = event.u.class_load_hook;
  hook.malloc_f = [](unsigned int size) { return std::malloc(size); };
  for (auto _ : state) {
    hook.class_data = bytes.data();
    hook.class_data_len = static_cast<jint>(bytes.size());
    instrumentClassLoadHook(&event);
    if (hook.new_class_data != bytes.data()) {
      state.SkipWithError("the class was changed");
      break;
    }
  }
}
void BM_HookPassesCurrentClass(benchmark::State& state) {
  hookUnchanged(state, 61);
}
void BM_HookPassesOldUntargetedClass(benchmark::State& state) {
  hookUnchanged(state, 48);
}
BENCHMARK(BM_HookPassesCurrentClass);
BENCHMARK(BM_HookPassesOldUntargetedClass);

}  // namespace

BENCHMARK_MAIN();
