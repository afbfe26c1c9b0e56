#!/usr/bin/env bash
# End-to-end publishing benchmark (not run by ctest): a real JVM with the
# probe attached and default properties sends to psdump over loopback.
#
#   bash bench/e2e/run_e2e.sh rate [RATE ...]   # requests/s in all, 2 threads, 30 s each
#   bash bench/e2e/run_e2e.sh fill [THREADS]    # memory gate: threads flood with no collector
#
# For each rate it prints the requests served, the records psdump received
# against the four records every request makes, and what the probe's log says
# about dropped records and refused packets. BENCH_SECONDS shortens a run;
# BENCH_JAVA_OPTS adds JVM options (for example a fixed, pre-touched heap, so
# that the growth of the resident set is the native side's). BENCH_BUILD names
# the build directory (build).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/env.sh
BUILD=${BENCH_BUILD:-build}
cmake -S . -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target datacollector datacollector_agent psdump >/dev/null
ROOT=$(pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/dc-bench.XXXXXX")
trap '[ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$WORK"' EXIT
mkdir -p "$WORK/classes"
javac -d "$WORK/classes" -cp "$BUILD/datacollector-agent.jar" bench/e2e/RateWorkload.java
CP="$ROOT/$BUILD/datacollector-agent.jar:$WORK/classes"
SECONDS_PER_RUN=${BENCH_SECONDS:-30}

run_jvm() {  # home port extra-args...
  local home=$1 port=$2; shift 2
  (cd "$home" && java -agentpath:"$ROOT/$BUILD/libdatacollector.so" -Dhm.home="$home" \
    -Dhm.nodename=bench -Dhm.appserver=server1 -Dhm.ps.host=127.0.0.1 -Dhm.ps.port="$port" \
    -Dbench.seconds="$SECONDS_PER_RUN" ${BENCH_JAVA_OPTS:-} "$@" -cp "$CP" com.halden.probe.Launcher \
    --workload RateWorkload > "$home/jvm.out" 2>&1)
}

figure() { grep -o "\[bench\] $1 [0-9.]*" "$2" | awk '{print $3}'; }

mode=${1:-rate}
shift || true
if [ "$mode" = rate ]; then
  rates=("$@")
  [ ${#rates[@]} -eq 0 ] && rates=(500 1000 1500 2000 4000 8000)
  printf "%8s %9s %9s %10s %10s %8s %8s %8s %10s\n" rate served achieved expected received \
    dropped refused packets maxMemory
  for rate in "${rates[@]}"; do
    home="$WORK/home-$rate"
    mkdir -p "$home/etc" "$home/logs" "$home/lib"
    "$BUILD/tools/psdump/psdump" --port 0 --port-file "$home/port" --summary > "$home/records.jsonl" \
      2> "$home/psdump.err" &
    pid=$!
    for _ in $(seq 100); do [ -s "$home/port" ] && break; sleep 0.1; done
    run_jvm "$home" "$(cat "$home/port")" -Dbench.rate="$rate" || true
    kill -TERM $pid; wait $pid || true
    served=$(figure served "$home/jvm.out")
    achieved=$(figure rate "$home/jvm.out")
    summary=$(grep '^{"summary"' "$home/records.jsonl")
    received=$(python3 -c 'import json,sys; r=json.loads(sys.argv[1])["summary"]["byRecord"]; print(sum(r.get(k,0) for k in ("httpStart","httpFinish","sqlBegin","sqlEnd")))' "$summary")
    # Without a message catalogue the probe logs to standard output.
    log="$home/jvm.out"
    dropped=$(grep -c "Events dropped" "$log" || true)
    refused=$(grep -c -E "Queue full|Failed to send data" "$log" || true)
    cycles=$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["summary"]["dataPackets"])' "$summary")
    printf "%8s %9s %9s %10s %10s %8s %8s %8s %10s\n" "$rate" "$served" "$achieved" \
      "$((served * 4))" "$received" "$dropped" "$refused" "$cycles" "$(figure maxMemory "$home/jvm.out")"
    if [ "$dropped" != 0 ]; then grep -m2 "Events dropped" "$log" | cut -c1-200; fi
  done
else
  threads=${1:-200}
  home="$WORK/home-fill"
  mkdir -p "$home/etc" "$home/logs" "$home/lib"
  # No collector listens: the queues fill until the memory gate closes.
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  run_jvm "$home" "$port" -Dbench.mode=fill -Dbench.threads="$threads" -Dbench.fill=60000000 || true
  grep '^\[bench\]' "$home/jvm.out"
  log="$home/jvm.out"
  grep -m1 "Memory Limit reached" "$log" | cut -c1-200 || echo "the gate did not close"
fi
