# Shared by the demo and the Jetty benchmark (sourced): a Jetty base that
# deploys the demo shop, and Jetty started from Debian's jetty9 in it.
JETTY_HOME=${JETTY_HOME:-/usr/share/jetty9}

# make_jetty_base DIR ROOT: DIR becomes a Jetty base whose webapps/shop is the
# shop that ROOT/build/webapps/shop holds.
make_jetty_base() {
  mkdir -p "$1/webapps"
  echo "--module=deploy,http" > "$1/start.ini"
  ln -sfn "$2/build/webapps/shop" "$1/webapps/shop"
}

# start_jetty BASE PORT OUT JAVA_ARGS...: starts Jetty in the background
# (its pid in JETTY_PID, its output in OUT) and waits until it serves.
start_jetty() {
  local base=$1 port=$2 out=$3
  shift 3
  java "$@" -jar "$JETTY_HOME/start.jar" jetty.home="$JETTY_HOME" jetty.base="$base" \
    jetty.http.host=127.0.0.1 jetty.http.port="$port" > "$out" 2>&1 &
  JETTY_PID=$!
  for _ in $(seq 600); do
    grep -q 'Started @' "$out" 2>/dev/null && return 0
    kill -0 "$JETTY_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "Jetty did not start:"; tail -30 "$out"
  return 1
}

# stop_jetty: SIGTERM, as an operator stops a server; waits for the JVM.
stop_jetty() {
  kill -TERM "$JETTY_PID" 2>/dev/null || true
  wait "$JETTY_PID" 2>/dev/null || true
  JETTY_PID=""
}

# free_port: a loopback port that was free a moment ago.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
