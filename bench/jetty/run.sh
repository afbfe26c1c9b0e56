#!/usr/bin/env bash
# The agent's overhead on a real server: Debian's Jetty with the demo shop
# under wrk, without the probe (mode "none": plain Jetty) and with it (mode
# "agent": -agentpath and -javaagent, psdump as the collector), interleaved
# for BENCH_ROUNDS rounds. Mode "library" (-agentpath alone: the library
# loaded, nothing instrumented) tells the library's own share apart. The shop's simulated sleeps are off (shop.sleep=off), so that the
# server's CPU is the limit and the probe's cost shows in throughput too.
# Each run: Jetty starts, wrk warms it up for BENCH_WARMUP s, then measures
# for BENCH_SECONDS s; the server's CPU time (user + system, from /proc) over
# the measured run gives the CPU per request.
#
# Prints one line per run and, per mode, the median of the rounds:
# requests/s, p50 and p99 latency (ms), server CPU µs per request; then the
# agent's figures against plain Jetty's. Targets: at most 5 % lower
# throughput and at most 5 % more CPU per request.
#
# Environment: BENCH_ROUNDS (3), BENCH_SECONDS (30), BENCH_WARMUP (5),
# BENCH_CONNECTIONS (8), BENCH_THREADS (2), BENCH_MODES ("none agent"; the
# first is the baseline).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/env.sh
ROOT=$(pwd)
. scripts/jetty-shop.sh
ROUNDS=${BENCH_ROUNDS:-3}
SECONDS_RUN=${BENCH_SECONDS:-30}
WARMUP=${BENCH_WARMUP:-5}
CONNECTIONS=${BENCH_CONNECTIONS:-8}
THREADS=${BENCH_THREADS:-2}
MODES=${BENCH_MODES:-none agent}

cmake -S . -B build -DDC_BENCH=OFF >/dev/null
cmake --build build -j"$JOBS" --target datacollector datacollector_agent dc_shop psdump >/dev/null

WORK=$(mktemp -d "${TMPDIR:-/tmp}/dc-bench-jetty.XXXXXX")
JETTY_PID=""
PSDUMP_PID=""
cleanup() {
  if [ -n "$JETTY_PID" ]; then kill -KILL "$JETTY_PID" 2>/dev/null || true; fi
  if [ -n "$PSDUMP_PID" ]; then kill "$PSDUMP_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
make_jetty_base "$WORK/jetty" "$ROOT"
mkdir -p "$WORK/home/etc" "$WORK/home/logs"
cp etc/LogMessages "$WORK/home/etc/"
: > "$WORK/home/etc/datacollector.properties"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# run MODE ROUND: one Jetty, one measured wrk run; appends a result line.
run() {
  local mode=$1 args=(-Dshop.sleep=off)
  if [ "$mode" = library ]; then
    args+=(-agentpath:"$ROOT/build/libdatacollector.so" -Dhm.home="$WORK/home"
           -Dhm.nodename=bench -Dhm.appserver=jetty)
  fi
  if [ "$mode" = agent ]; then
    rm -f "$WORK/port"
    build/tools/psdump/psdump --port 0 --port-file "$WORK/port" --summary-only \
      > "$WORK/psdump.out" 2> "$WORK/psdump.err" &
    PSDUMP_PID=$!
    for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
    args+=(-agentpath:"$ROOT/build/libdatacollector.so"
           -javaagent:"$ROOT/build/datacollector-agent.jar"
           -Dhm.home="$WORK/home" -Dhm.nodename=bench -Dhm.appserver=jetty
           -Dhm.ps.host=127.0.0.1 -Dhm.ps.port="$(cat "$WORK/port")")
  fi
  local port
  port=$(free_port)
  start_jetty "$WORK/jetty" "$port" "$WORK/jetty.out" "${args[@]}"
  local url="http://127.0.0.1:$port"
  wrk -t"$THREADS" -c"$CONNECTIONS" -d"${WARMUP}s" -s scripts/shop.lua "$url" > /dev/null
  local before after
  before=$(cpu_ticks "$JETTY_PID")
  wrk -t"$THREADS" -c"$CONNECTIONS" -d"${SECONDS_RUN}s" --latency -s scripts/shop.lua "$url" \
    > "$WORK/wrk.out"
  after=$(cpu_ticks "$JETTY_PID")
  stop_jetty
  if [ -n "$PSDUMP_PID" ]; then
    kill -TERM "$PSDUMP_PID"; wait "$PSDUMP_PID" || true; PSDUMP_PID=""
  fi
  python3 - "$mode" "$2" "$((after - before))" "$(getconf CLK_TCK)" "$WORK/wrk.out" \
    >> "$WORK/results" <<'PY'
import re, sys
mode, rnd, ticks, hz, path = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
text = open(path).read()
def ms(value, unit):
    return float(value) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[unit]
p50 = ms(*re.search(r"^\s+50%\s+([\d.]+)(us|ms|s)", text, re.M).groups())
p99 = ms(*re.search(r"^\s+99%\s+([\d.]+)(us|ms|s)", text, re.M).groups())
total = int(re.search(r"(\d+) requests in", text).group(1))
rate = float(re.search(r"Requests/sec:\s+([\d.]+)", text).group(1))
cpu_us = ticks * 1e6 / hz / max(total, 1)
print(f"{mode} {rnd} {rate:.1f} {p50:.3f} {p99:.3f} {cpu_us:.1f}")
PY
  tail -n 1 "$WORK/results" | awk '{printf "round %s %-6s %9s req/s  p50 %7s ms  p99 %7s ms  cpu %7s us/req\n", $2, $1, $3, $4, $5, $6}'
}

echo "Jetty + shop under wrk: $ROUNDS rounds of ${SECONDS_RUN} s (warm-up ${WARMUP} s), $CONNECTIONS connections, $THREADS threads"
for round in $(seq "$ROUNDS"); do
  for mode in $MODES; do run "$mode" "$round"; done
done
python3 - "$WORK/results" $MODES <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
modes = sys.argv[2:]
med = {}
for mode in modes:
    r = [list(map(float, x[2:])) for x in rows if x[0] == mode]
    med[mode] = [statistics.median(c) for c in zip(*r)]
    m = med[mode]
    print(f"median {mode:<6} {m[0]:9.1f} req/s  p50 {m[1]:7.3f} ms  p99 {m[2]:7.3f} ms  cpu {m[3]:7.1f} us/req")
n = med[modes[0]]
for mode in modes[1:]:
    a = med[mode]
    print(f"{mode} vs {modes[0]}: throughput {100 * (a[0] / n[0] - 1):+.1f} %, "
          f"p50 {100 * (a[1] / n[1] - 1):+.1f} %, p99 {100 * (a[2] / n[2] - 1):+.1f} %, "
          f"CPU per request {100 * (a[3] / n[3] - 1):+.1f} %")
PY
