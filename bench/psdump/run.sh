#!/usr/bin/env bash
# psdump --requests throughput (not run by ctest): writes a captured stream of
# RECORDS records (default 1000000; eight threads' HTTP requests with an EJB
# call, three SQL statements and a JMS send each) and decodes it with
#   psdump --input CAPTURE --requests > /dev/null
# pinned to one core. Prints records per second (on the CPU time used, and on
# the elapsed time) and the peak resident memory, for each of RUNS runs
# (default 3).
#
#   bash bench/psdump/run.sh [RECORDS] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/env.sh
RECORDS=${1:-1000000}
RUNS=${2:-3}
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DDC_JVM_TESTS=OFF -DDC_BENCH=OFF >/dev/null
cmake --build build-release -j"$JOBS" --target psdump psdump_gencapture >/dev/null
WORK=$(mktemp -d "${TMPDIR:-/tmp}/psdump-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
build-release/tools/psdump/psdump_gencapture "$WORK/capture" "$RECORDS" 8
echo "capture: $RECORDS records, $(stat -c %s "$WORK/capture") bytes"
PIN=""
command -v taskset >/dev/null && PIN="taskset -c 0"
python3 - "$RUNS" "$RECORDS" $PIN build-release/tools/psdump/psdump --input "$WORK/capture" \
  --requests <<'PY'
import resource, subprocess, sys, time
runs, records, command = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3:]
for run in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
    elapsed = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    # ru_maxrss of the children is the largest of any child so far, in KiB.
    print(f"run {run + 1}: {records / cpu / 1e6:.2f} M records/s on CPU time ({cpu:.3f} s), "
          f"{records / elapsed / 1e6:.2f} M records/s elapsed ({elapsed:.3f} s), "
          f"peak memory {after.ru_maxrss / 1024:.1f} MiB")
PY
