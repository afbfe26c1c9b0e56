#!/usr/bin/env bash
# psdump throughput (not run by ctest): writes a captured stream of RECORDS
# records (default 1000000; eight threads' HTTP requests with an EJB call,
# three SQL statements and a JMS send each) and decodes it three ways:
#   decode         psdump --input CAPTURE --summary-only     (no line per record)
#   requests       psdump --input CAPTURE --requests > /dev/null
#   requests+otlp  the same with --otlp http://127.0.0.1:PORT/v1/traces
# the last to a loopback sink that answers every post 200 (OTLP_GZIP=1 adds
# --otlp-gzip). Pinned to one core. Prints, for each of RUNS runs (default
# 3), records per second on the CPU time used (and per nanosecond per
# record), on the elapsed time, and the peak resident memory; for the export
# its CPU time per record and per span beyond the requests case; at the end
# the median of each case.
#
# BASELINE=/path/to/an/older/psdump runs every case with that binary too,
# interleaved with this build's (so both see the same machine load), and
# prints this build's medians over the baseline's.
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
SINK_PID=""
trap '[ -n "$SINK_PID" ] && kill "$SINK_PID" 2>/dev/null; rm -rf "$WORK"' EXIT
build-release/tools/psdump/psdump_gencapture "$WORK/capture" "$RECORDS" 8
echo "capture: $RECORDS records, $(stat -c %s "$WORK/capture") bytes"

# The OTLP sink, on another core when there is one.
SINK_PIN=""
command -v taskset >/dev/null && [ "$(nproc)" -gt 1 ] && SINK_PIN="taskset -c 1"
$SINK_PIN python3 - "$WORK/sink-port" <<'PY' &
import http.server, os, sys
class Sink(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        self.send_response(200)
        self.send_header("Content-Type", "application/x-protobuf")
        self.send_header("Content-Length", "0")
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Sink)
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
PY
SINK_PID=$!
for _ in $(seq 100); do [ -s "$WORK/sink-port" ] && break; sleep 0.1; done
OTLP_URL="http://127.0.0.1:$(cat "$WORK/sink-port")/v1/traces"
GZIP_OPT=""
[ "${OTLP_GZIP:-0}" = 1 ] && GZIP_OPT="--otlp-gzip"

PIN=""
command -v taskset >/dev/null && PIN="taskset -c 0"
python3 - "$RUNS" "$RECORDS" "$OTLP_URL" "$GZIP_OPT" "$WORK/capture" "${BASELINE:-}" "$PIN" \
  build-release/tools/psdump/psdump <<'PY'
import re, resource, statistics, subprocess, sys, time
runs, records, url, gzip, capture, baseline, pin, current = (
    int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6],
    sys.argv[7].split(), sys.argv[8])

def measure(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True, text=True)
    elapsed = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, elapsed, after.ru_maxrss, done.stderr

def cases(exe):
    base = pin + [exe, "--input", capture]
    # A queue that holds every trace: a sink slower than the decoding must
    # not make the export drop (and skip the work of posting) what it
    # cannot take.
    otlp = ["--otlp", url, "--otlp-drain", "120", "--otlp-queue", "100000000"] + ([gzip] if gzip else [])
    return (("decode", base + ["--summary-only"]), ("requests", base + ["--requests"]),
            ("requests+otlp", base + ["--requests"] + otlp))

binaries = [("", current)] + ([("baseline ", baseline)] if baseline else [])
results = {}  # (binary label, case) -> [ns per record]
for run in range(runs):
    for label, exe in binaries:
        for name, cmd in cases(exe):
            cpu, elapsed, rss, err = measure(cmd)
            per = cpu / records * 1e9
            # ru_maxrss of the children is the largest of any child so far, in KiB.
            print(f"run {run + 1} {label}{name}: {records / cpu / 1e6:.2f} M records/s on CPU time "
                  f"({cpu:.3f} s, {per:.0f} ns/record), {records / elapsed / 1e6:.2f} M records/s "
                  f"elapsed ({elapsed:.3f} s), peak memory {rss / 1024:.1f} MiB")
            results.setdefault((label, name), []).append(per)
            if name == "requests":
                plain = cpu
            if name != "requests+otlp":
                continue
            m = re.search(r"otlp: (\d+) traces \((\d+) spans\) sent in (\d+) posts, (\d+) retries, "
                          r"(\d+) traces \((\d+) spans\) dropped", err)
            if not m:
                sys.exit("no OTLP summary: " + err)
            spans = int(m.group(2))
            extra = cpu - plain
            print(f"  export: {m.group(0)}; {extra / records * 1e9:.0f} ns/record and "
                  f"{extra / spans * 1e9:.0f} ns/span beyond the requests case, "
                  f"{spans / extra / 1e6:.2f} M spans/s of export CPU")
            results.setdefault((label, "export (beyond requests)"), []).append(extra / records * 1e9)

print(f"medians of {runs} runs, CPU ns per record:")
for name in ("decode", "requests", "requests+otlp", "export (beyond requests)"):
    mine = statistics.median(results[("", name)])
    line = f"  {name}: {mine:.0f}"
    if baseline:
        theirs = statistics.median(results[("baseline ", name)])
        line += f" (baseline {theirs:.0f}, ratio {mine / theirs:.2f})"
    print(line)
PY
