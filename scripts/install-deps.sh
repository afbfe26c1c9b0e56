#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and this machine
# lacks. Safe to run again: present packages are left alone.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake make g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev \
           openjdk-17-jdk-headless junit5 python3 chromium \
           jetty9 libasm-java libhsqldb-java wrk \
           g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 \
           libprotobuf-dev protobuf-compiler libcurl4-openssl-dev zlib1g-dev; do
  have "$pkg" || need+=("$pkg")
done
# Node.js for the OTLP export test's receiver, unless a Node.js with npm is
# already there (from any source).
command -v node >/dev/null && command -v npm >/dev/null || need+=(nodejs npm)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
