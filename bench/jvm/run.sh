#!/usr/bin/env bash
# Runs the JVM-level benchmark of the request natives: builds the library, the
# agent's jar, the benchmark jar and psdump (Release, in build-rel); starts
# psdump as the collector on a free loopback port; runs the launcher with the
# RequestPairBench workload and the probe attached; prints the "[bench]" lines.
#
# Two runs, each its own JVM:
#   delivered  every record reaches psdump: queue, packet, network-buffer and
#              memory limits raised, publishing cycles of 50 ms and network
#              cycles of 20 ms so that the drain outpaces the loop. The run
#              fails (exit 1) unless psdump received every HTTP start and finish
#              record the loop made and nothing was dropped, trimmed or refused.
#   drop-path  the default properties: after the first records of each cycle the
#              queue is at its limit and the records are dropped there; this
#              times the drop path, not the delivered one.
#
# Each run prints, per round and as "median [min-max]" of the rounds (the
# rounds interleave the probe's natives with the empty and floor natives, on
# 1 and 2 threads, in one JVM):
#   - the request thread's CPU time per pair above the floor, 1 thread;
#   - the probe's CPU time per pair on 2 threads over that on 1 thread;
#   - the event and network agent threads' CPU time per record made (read
#     from /proc/<jvm>/task/*/schedstat for the threads named EventAgent-N and
#     NetworkAgent-N, from before a measurement until its records have left
#     the agent), less their idle cycling, measured while the same round times
#     the empty and floor natives; in the delivered run every record made is
#     delivered;
#   - psdump's CPU time (all its threads, /proc/<pid>/task/*/schedstat) per
#     record, over the same stretches.
#
# BENCH_WORKLOAD names another workload class of the benchmark jar (for
# example com.halden.bench.DiagnosticsBench or HeapSnapshotBench): it then
# runs once, in one JVM with the default properties, and its "[bench]" lines
# are printed. BENCH_JVM_ARGS adds JVM options to that run (e.g. -Xmx256m).
#
# Environment: BENCH_PAIRS (pairs per thread and round, 2000000), BENCH_ROUNDS (5),
# BENCH_DROP_PATH=0 skips the second run, BENCH_JAVA_OPTS adds JVM
# options (for example -XX:+PreserveFramePointer for perf, or
# -Ddc.bench.only=probe, floor or empty: only that loop, on 1 thread, with its
# cost printed, for profiling one against another), BENCH_PERF=FILE
# runs the delivered run's JVM under `perf record -F 1999 -g -o FILE` (look at
# it with `perf report -i FILE --no-children --sort symbol --comms
# EventAgent-0,NetworkAgent-0`), BENCH_BUILD (build directory, build-rel),
# BENCH_KEEP=1 keeps the work directory with the JVM's output and the probe's
# log.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/env.sh
BUILD=${BENCH_BUILD:-build-rel}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DDC_BENCH=ON >/dev/null
cmake --build "$BUILD" -j2 --target datacollector datacollector_agent dc_bench_jvm psdump >/dev/null
ROOT=$(pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/dc-bench.XXXXXX")
PSDUMP_PID=""
cleanup() {
  if [ -n "$PSDUMP_PID" ]; then kill "$PSDUMP_PID" 2>/dev/null || true; fi
  if [ "${BENCH_KEEP:-0}" = 1 ]; then echo "work directory kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

run() {  # label properties...
  local label=$1; shift
  local home="$WORK/$label"
  mkdir -p "$home/etc" "$home/logs" "$home/lib"
  printf '%s\n' "$@" > "$home/etc/datacollector.properties"
  "$BUILD/tools/psdump/psdump" --host 127.0.0.1 --port 0 --port-file "$home/port" --quiet \
    --summary-only > "$home/summary.json" 2> "$home/psdump.err" &
  PSDUMP_PID=$!
  for _ in $(seq 100); do
    [ -s "$home/port" ] && break
    sleep 0.1
  done
  [ -s "$home/port" ] || { echo "psdump did not start"; cat "$home/psdump.err"; exit 1; }
  local perf=()
  if [ -n "${BENCH_PERF:-}" ] && [ "$label" = delivered ]; then
    perf=(perf record -F 1999 -g -o "$(realpath -m "$BENCH_PERF")" --)
  fi
  # shellcheck disable=SC2086
  (cd "$home" && "${perf[@]}" java ${BENCH_JAVA_OPTS:-} ${BENCH_JVM_ARGS:-} -agentpath:"$ROOT/$BUILD/libdatacollector.so" \
    -Dhm.home="$home" -Dhm.nodename=bench -Dhm.appserver=server1 \
    -Dhm.ps.host=127.0.0.1 -Dhm.ps.port="$(cat "$home/port")" \
    -Ddc.bench.empty="$ROOT/$BUILD/bench/libdcbench_empty.so" -Ddc.bench.label="$label" \
    -Ddc.bench.pairs="${BENCH_PAIRS:-2000000}" -Ddc.bench.rounds="${BENCH_ROUNDS:-5}" \
    -Ddc.bench.psdump.pid="$PSDUMP_PID" \
    -cp "$ROOT/$BUILD/datacollector-agent.jar:$ROOT/$BUILD/bench/datacollector-bench.jar" \
    com.halden.probe.Launcher --workload "$WORKLOAD" > "$home/jvm.out" 2>&1) \
    || { tail -40 "$home/jvm.out"; exit 1; }
  kill -TERM "$PSDUMP_PID"
  wait "$PSDUMP_PID" || true
  PSDUMP_PID=""
  # The probe's log shares standard output, so a line may start inside another.
  if [ "$WORKLOAD" = "$PAIR_WORKLOAD" ]; then
    grep -o -E '\[bench\] [a-z-]+ (threads=|round |summary).*|\[bench\] only .*|\[launcher\] probe enabled after.*' \
      "$home/jvm.out"
  else
    grep -o -E '\[bench\].*' "$home/jvm.out"
  fi
}

# Every record the loop made must have reached psdump: the HTTP start and
# finish records (two per pair), no drop notice, and no drop, trim or refused
# packet in the probe's log.
check_delivered() {
  local home="$WORK/delivered"
  local pairs
  pairs=$(grep -o '\[bench\] probe pairs [0-9]*' "$home/jvm.out" | awk '{print $4}')
  python3 - "$home/summary.json" "$pairs" <<'PY' || { echo "### FAILED: records were lost (see above)"; exit 1; }
import json, sys
summary = None
for line in open(sys.argv[1]):
    if line.startswith('{"summary"'):
        summary = json.loads(line)["summary"]
if summary is None:
    print("### psdump printed no summary"); sys.exit(1)
by = summary.get("byRecord", {})
expected = int(sys.argv[2])
starts, finishes, notices = by.get("httpStart", 0), by.get("httpFinish", 0), by.get("dropNotice", 0)
print("[bench] delivered: pairs %d, psdump received %d starts, %d finishes, %d drop notices"
      % (expected, starts, finishes, notices))
sys.exit(0 if starts == expected and finishes == expected and notices == 0 else 1)
PY
  if grep -q -E 'Events dropped|Failed to send data|Queue full|Memory Limit reached' "$home/jvm.out"; then
    grep -m3 -E 'Events dropped|Failed to send data|Queue full|Memory Limit reached' "$home/jvm.out" | cut -c1-200
    echo "### FAILED: the probe dropped, trimmed or refused records"
    exit 1
  fi
}

PAIR_WORKLOAD=com.halden.bench.RequestPairBench
WORKLOAD=${BENCH_WORKLOAD:-$PAIR_WORKLOAD}
if [ "$WORKLOAD" != "$PAIR_WORKLOAD" ]; then
  run workload
  exit 0
fi

run delivered \
  internal.probe.event.queue.size.limit=100000000 \
  internal.probe.event.packet.size=65536 \
  internal.memory.limit=4000 \
  internal.probe.publishing.frequency=50 \
  networkagent.publish.frequency=20 \
  networkagent.buffer.limit=100000
check_delivered
if [ "${BENCH_DROP_PATH:-1}" = 1 ]; then
  run drop-path
fi
