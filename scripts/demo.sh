#!/usr/bin/env bash
# The demo: builds the library and runs its unit tests' quick subset to show
# what it does so far. Later work grows it into the end-to-end demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
. scripts/env.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$JOBS"
echo
echo "built: build/libdatacollector.so"
nm -D --defined-only build/libdatacollector.so | grep -E ' T (Java_|JVM_OnLoad|Agent_OnLoad)' || true
