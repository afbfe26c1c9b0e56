#!/usr/bin/env bash
# The demo: builds the library, the agent's Java side, the demo shop (a web
# application of three servlets doing JDBC against an in-memory HSQLDB) and
# the collector stand-in psdump; starts psdump on a free loopback port; runs
# Debian's Jetty with the shop, attached with -agentpath (the library) and
# -javaagent (the agent jar, which instruments servlets, JDBC and outgoing
# HTTP calls: no change to Jetty or the shop); drives it with wrk for a few
# seconds; stops Jetty as an operator would (SIGTERM: the agent stops the
# probe, whose stop order waits ten seconds for the agents' last packets) and
# prints what the collector made of it: the records per kind and the request
# table (latency percentiles, CPU time and nested SQL per request name).
# psdump also writes an HTML report into the work directory, which is kept.
# Exits 0 only if the servlet requests arrived and paired with their SQL.
#
# Environment: DEMO_SECONDS (5) and DEMO_CONNECTIONS (8) for wrk, DEMO_KEEP=1
# keeps the whole work directory with the probe's log, Jetty's output and
# psdump's JSON lines.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
. scripts/env.sh

echo "=== building"
cmake -S . -B build -DDC_BENCH=OFF >/dev/null
cmake --build build -j"$JOBS" --target datacollector datacollector_agent dc_shop psdump >/dev/null
ROOT=$(pwd)
. scripts/jetty-shop.sh

WORK=$(mktemp -d "${TMPDIR:-/tmp}/dc-demo.XXXXXX")
PSDUMP_PID=""
JETTY_PID=""
cleanup() {
  if [ -n "$JETTY_PID" ]; then kill -KILL "$JETTY_PID" 2>/dev/null || true; fi
  if [ -n "$PSDUMP_PID" ]; then kill "$PSDUMP_PID" 2>/dev/null || true; fi
  if [ "${DEMO_KEEP:-0}" = 1 ]; then
    echo "work directory kept: $WORK"
  elif [ -s "$WORK/report.html" ]; then
    # Everything but the report goes.
    find "$WORK" -mindepth 1 ! -name report.html -delete 2>/dev/null || true
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT

# The agent's home: etc/ for the property file, logs/ for its log.
HOME_DIR="$WORK/home"
mkdir -p "$HOME_DIR/etc" "$HOME_DIR/logs" "$HOME_DIR/lib"
# Wall-clock microseconds from a microsecond clock, so that sub-millisecond
# calls keep their durations.
echo "internal.probe.clock.microseconds=true" > "$HOME_DIR/etc/datacollector.properties"
cp etc/LogMessages "$HOME_DIR/etc/LogMessages"

echo "=== starting the collector (psdump)"
build/tools/psdump/psdump --host 127.0.0.1 --port 0 --port-file "$WORK/port" --summary \
  --requests --html "$WORK/report.html" > "$WORK/requests.jsonl" 2> "$WORK/psdump.err" &
PSDUMP_PID=$!
for _ in $(seq 100); do
  [ -s "$WORK/port" ] && break
  sleep 0.1
done
if [ ! -s "$WORK/port" ]; then
  echo "psdump did not start:"; cat "$WORK/psdump.err"; exit 1
fi
PORT=$(cat "$WORK/port")
echo "collector listening on 127.0.0.1:$PORT"

echo "=== starting Jetty with the shop, the probe attached"
make_jetty_base "$WORK/jetty" "$ROOT"
JETTY_PORT=$(free_port)
cd "$WORK"
start_jetty "$WORK/jetty" "$JETTY_PORT" "$WORK/jetty.out" \
  -agentpath:"$ROOT/build/libdatacollector.so" -javaagent:"$ROOT/build/datacollector-agent.jar" \
  -Dhm.home="$HOME_DIR" -Dhm.nodename=demo -Dhm.appserver=server1 \
  -Dhm.ps.host=127.0.0.1 -Dhm.ps.port="$PORT"
cd "$ROOT"
grep '^\[halden-agent\]' "$WORK/jetty.out" || true
echo "Jetty serving http://127.0.0.1:$JETTY_PORT/shop/"

echo "=== wrk: ${DEMO_SECONDS:-5} s, ${DEMO_CONNECTIONS:-8} connections"
wrk -t2 -c"${DEMO_CONNECTIONS:-8}" -d"${DEMO_SECONDS:-5}s" --latency -s scripts/shop.lua \
  "http://127.0.0.1:$JETTY_PORT" | sed -n '1,/^  Latency Distribution/p;/ 50%/p;/ 99%/p;/Requests\/sec/p;/Non-2xx/p'

echo "=== stopping Jetty (the probe's stop waits ten seconds for the last packets)"
stop_jetty
grep '^\[halden-agent\]' "$WORK/jetty.out" | tail -n 1 || true

echo "=== the probe's log file (first lines)"
LOG_FILE=$(ls "$HOME_DIR"/logs/*.datacollector.log 2>/dev/null | head -n 1)
if [ -n "$LOG_FILE" ]; then
  echo "$LOG_FILE"
  head -n 12 "$LOG_FILE" | cut -c1-160
fi

# Jetty has gone: its connection is closed. Stop psdump; it prints its
# summary and the request table and writes the HTML report as it ends.
kill -TERM "$PSDUMP_PID"
wait "$PSDUMP_PID" || true
PSDUMP_PID=""

echo "=== the first request the collector put together"
grep -m 1 '^{"request"' "$WORK/requests.jsonl" | cut -c1-400 || true
echo "=== what the collector received"
SUMMARY=$(grep '^{"summary"' "$WORK/requests.jsonl" || true)
if [ -z "$SUMMARY" ]; then
  echo "no summary from psdump:"; cat "$WORK/psdump.err"; exit 1
fi
python3 - "$SUMMARY" <<'EOF'
import json, sys
s = json.loads(sys.argv[1])["summary"]
print(f"connections {s['connections']}, bytes {s['bytes']}, hello packets {s['helloPackets']}, "
      f"data packets {s['dataPackets']}, records {s['records']}")
for name, count in sorted(s["byRecord"].items()):
    print(f"  {name:<16} {count}")
print(f"  threads: {len(s['byThread'])}")
ok = (s["malformedConnections"] == 0 and s["helloPackets"] >= 1
      and s["byRecord"].get("httpStart", 0) > 0
      and s["byRecord"].get("httpStart")
          == s["byRecord"].get("httpFinish", 0) + s["byRecord"].get("httpError", 0)
      and s["byRecord"].get("sqlBegin", 0) > 0)
print("monitored requests arrived at the collector" if ok else "RECORDS MISSING")
sys.exit(0 if ok else 1)
EOF
echo "=== requests by name (wall time percentiles, mean CPU, nested SQL)"
grep -v '^{' "$WORK/requests.jsonl"
python3 - "$WORK/requests.jsonl" <<'EOF'
import json, sys
http = sql = 0
for line in open(sys.argv[1], encoding="utf-8"):
    if line.startswith('{"request"'):
        q = json.loads(line)["request"]
        if q["kind"] == "http":
            http += 1
            sql += q["sqlCount"]
ok = http > 0 and sql > 0
print(f"{http} HTTP requests paired with {sql} nested SQL statements" if ok
      else "NO PAIRED REQUESTS")
sys.exit(0 if ok else 1)
EOF
if [ ! -s "$WORK/report.html" ]; then
  echo "no HTML report:"; cat "$WORK/psdump.err"; exit 1
fi
echo "=== HTML report: $WORK/report.html"
