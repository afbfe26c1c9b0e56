#!/usr/bin/env bash
# Runs the JVM-level benchmark of the request natives: builds the library, the
# agent's jar, the benchmark jar and psdump; starts psdump as the collector on
# a free loopback port; runs the launcher with the RequestPairBench workload
# and the probe attached; prints the "[bench]" lines.
#
# BENCH_WORKLOAD picks another workload class of the benchmark jar (for
# example com.halden.bench.DiagnosticsBench).
# Environment: BENCH_PAIRS (pairs per thread and round, 2000000), BENCH_ROUNDS (3),
# BENCH_WORKLOAD (another workload class, e.g. com.halden.bench.HeapSnapshotBench),
# BENCH_JVM_ARGS (more JVM options, e.g. -Xmx256m),
# BENCH_KEEP=1 keeps the work directory with the JVM's output and the probe's log.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/env.sh
cmake -S . -B build -DDC_BENCH=ON >/dev/null
cmake --build build -j2 --target datacollector datacollector_agent dc_bench_jvm psdump >/dev/null
ROOT=$(pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/dc-bench.XXXXXX")
PSDUMP_PID=""
cleanup() {
  if [ -n "$PSDUMP_PID" ]; then kill "$PSDUMP_PID" 2>/dev/null || true; fi
  if [ "${BENCH_KEEP:-0}" = 1 ]; then echo "work directory kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
HOME_DIR="$WORK/home"
mkdir -p "$HOME_DIR/etc" "$HOME_DIR/logs" "$HOME_DIR/lib"
: > "$HOME_DIR/etc/datacollector.properties"

build/tools/psdump/psdump --host 127.0.0.1 --port 0 --port-file "$WORK/port" --quiet \
  > /dev/null 2> "$WORK/psdump.err" &
PSDUMP_PID=$!
for _ in $(seq 100); do
  [ -s "$WORK/port" ] && break
  sleep 0.1
done
[ -s "$WORK/port" ] || { echo "psdump did not start"; cat "$WORK/psdump.err"; exit 1; }

(cd "$WORK" && java ${BENCH_JVM_ARGS:-} -agentpath:"$ROOT/build/libdatacollector.so" \
  -Dhm.home="$HOME_DIR" -Dhm.nodename=bench -Dhm.appserver=server1 \
  -Dhm.ps.host=127.0.0.1 -Dhm.ps.port="$(cat "$WORK/port")" \
  -Ddc.bench.empty="$ROOT/build/bench/libdcbench_empty.so" \
  -Ddc.bench.pairs="${BENCH_PAIRS:-2000000}" -Ddc.bench.rounds="${BENCH_ROUNDS:-3}" \
  -cp "$ROOT/build/datacollector-agent.jar:$ROOT/build/bench/datacollector-bench.jar" \
  com.halden.probe.Launcher --workload "${BENCH_WORKLOAD:-com.halden.bench.RequestPairBench}" > "$WORK/jvm.out" 2>&1) \
  || { tail -40 "$WORK/jvm.out"; exit 1; }
# The probe's log shares standard output, so a line may start inside another.
grep -o -E '\[bench\].*|\[launcher\] probe enabled after.*' "$WORK/jvm.out"
