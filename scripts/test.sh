#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   0. the include-direction check of the source layers, and the check that
#      every entry point the JVM calls runs its body through guardedEntry;
#   1. the main build (g++): unit tests, JVM tests and tool tests under ctest
#      (the OTLP export test's receiver installed with npm ci);
#   2. clang with AddressSanitizer + UndefinedBehaviorSanitizer: the unit tests
#      and a short bounded run of every fuzz target;
#   3. clang with ThreadSanitizer: the concurrency tests;
#   4. the Windows DLLs and unit tests, cross-built with mingw-w64 (64 and 32
#      bits), the DLLs checked for their exports, and the 64-bit unit tests run
#      under wine64.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
. scripts/env.sh

step() { echo; echo "=== $* ==="; }

step "include directions, entry guards"
python3 scripts/check_layers.py
python3 scripts/check_entry_guards.py

step "main build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$JOBS"
# The OTLP receiver of the export test: its pinned packages from npm.
(cd build/otlp-receiver && npm ci --no-audit --no-fund --loglevel=error)
(cd build && ctest --output-on-failure -j"$JOBS" --timeout 600)

step "AddressSanitizer + UndefinedBehaviorSanitizer, fuzz targets"
cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=Debug -DDC_SANITIZE=address,undefined -DDC_FUZZ=ON \
  -DDC_JVM_TESTS=OFF -DDC_BENCH=OFF >/dev/null
cmake --build build-asan -j"$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$JOBS" -L 'unit|fuzz|tool' --timeout 600)

step "ThreadSanitizer, concurrency tests"
cmake -S . -B build-tsan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=Debug -DDC_SANITIZE=thread -DDC_JVM_TESTS=OFF -DDC_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$JOBS" --target unit_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j"$JOBS" -R 'Concurrency' --no-tests=error --timeout 600)

step "Windows: datacollector.dll for x86_64 and i686, unit tests under wine64"
export DC_WINEPREFIX="$PWD/build-win64/wineprefix" WINEDEBUG=-all
for arch in x86_64 i686; do
  dir=build-win64
  [ "$arch" = i686 ] && dir=build-win32
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDC_LINUX_LIBRARY="$PWD/build/libdatacollector.so" >/dev/null
  cmake --build "$dir" -j"$JOBS"
done
# One Wine prefix, set up once before the test processes start.
[ -f "$DC_WINEPREFIX/system.reg" ] || timeout 300 scripts/wine-run.sh wineboot -i
(cd build-win64 && ctest --output-on-failure -j"$JOBS" --timeout 900)
(cd build-win32 && ctest --output-on-failure -L exports --no-tests=error)
WINEPREFIX="$DC_WINEPREFIX" timeout 30 /usr/lib/wine/wineserver -k || true

echo
echo "all tests passed"
