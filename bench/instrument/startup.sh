#!/usr/bin/env bash
# JVM start-up with and without the agent for a program that loads 5000
# classes (version 48.0, so that the class-load hook indexes and names each
# one). Usage: bench/instrument/startup.sh <build dir> [runs]
# Prints the median wall time of each and the agent's share in percent.
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
runs=${2:-7}
. "$(dirname "$0")/../../scripts/env.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/load" "$work/classes" "$work/home"
for i in $(seq 0 4999); do
  echo "package load; public class C$i { public static int v() { return $i; } }"
done > "$work/all.txt"
# One file per class, as javac wants.
awk -v dir="$work/src/load" '{ match($0, /class C[0-9]+/); f = substr($0, RSTART + 6, RLENGTH - 6); print > (dir "/" f ".java"); close(dir "/" f ".java") }' "$work/all.txt"
cat > "$work/src/load/Main.java" <<'JAVA'
package load;
public class Main {
  public static void main(String[] a) throws Exception {
    long sum = 0;
    for (int i = 0; i < 5000; i++) sum += (Integer) Class.forName("load.C" + i).getMethod("v").invoke(null);
    System.out.println(sum);
  }
}
JAVA
javac --release 8 -nowarn -d "$work/classes" "$work"/src/load/*.java
python3 - "$work/classes/load" <<'PY'
import os, sys
for name in os.listdir(sys.argv[1]):
    path = os.path.join(sys.argv[1], name)
    with open(path, "r+b") as f:
        f.seek(4)
        f.write(bytes([0, 0, 0, 48]))
PY
run() {
  local start end
  start=$(date +%s%N)
  java "$@" -Dhm.home="$work/home" -Dhm.nodename=n -Dhm.appserver=s -cp "$work/classes" load.Main >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
without=() with=()
for _ in $(seq "$runs"); do
  without+=("$(run)")
  with+=("$(run -agentpath:"$build/libdatacollector.so")")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
a=$(median "${without[@]}") b=$(median "${with[@]}")
echo "without agent: ${a} ms (runs: ${without[*]})"
echo "with agent:    ${b} ms (runs: ${with[*]})"
awk -v a="$a" -v b="$b" 'BEGIN { printf "agent adds %.1f %%\n", (b - a) * 100 / a }'
