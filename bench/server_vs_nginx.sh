#!/usr/bin/env bash
# Whole-server benchmark (`make bench`): build/quorwell on a copy of the
# sample office against Debian's nginx serving the same bytes as static files
# (the pages saved from our server, bg.jpg, the API's persons), tuned and
# stock, and against the floor (bench/bare_server.c, the board's bytes
# canned); connection per request, access logs on, servers on SERVER_CPU and
# wrk on CLIENT_CPU, taking turns, RUNS rounds. Then the server's resident
# size after MEMORY_QUERIES distinct board queries, and on a server of its
# own, WATCHERS open event feeds (bench/feed_watchers.c): the board with them
# and without, the memory they add, the time from a client's rename to each
# feed's event. Loopback only; every process it starts is stopped by its PID.
#
# Pages: /keiziban, /uinfo and /api/v1/persons (cached by our server),
# /bg.jpg, /uframe (built for every request). Prints markdown tables (also in
# $OUT/results.md).
#
# Environment (defaults): BUILD=build RUNS=3 DURATION=5 CONNS="16 64" PAUSE=1
# PORT=18290 (stock nginx PORT+1, tuned PORT+2, floor PORT+3, the feeds'
# server PORT+4) SERVER_CPU=0 CLIENT_CPU=1 MEMORY_QUERIES=100000
# MEMORY_SECONDS=300 PAGES="/keiziban /uinfo /bg.jpg /uframe /api/v1/persons"
# WATCHERS=2000 WATCH_CONNS=16 CHANGES=5 OUT=/tmp/server_vs_nginx
# The open-file limit is raised to WATCHERS+4096 within the hard limit.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
export BUILD=${BUILD:-$ROOT/build}
export OUT=${OUT:-/tmp/server_vs_nginx}
mkdir -p "$OUT"

need=()
command -v wrk > /dev/null || need+=(wrk)
command -v nginx > /dev/null || need+=(nginx)
command -v python3 > /dev/null || need+=(python3)
command -v taskset > /dev/null || need+=(util-linux)
if ((${#need[@]})); then
  echo "server_vs_nginx: installing ${need[*]}" >&2
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO=sudo
  $SUDO apt-get update -q > "$OUT/apt.log" 2>&1
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${need[@]}" >> "$OUT/apt.log" 2>&1
fi
if (($(nproc) < 2)); then
  echo "server_vs_nginx: needs two CPUs (one for the servers, one for wrk)" >&2
  exit 1
fi

if [[ ! -f "$BUILD/CMakeCache.txt" ]]; then cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release > "$OUT/cmake.log"; fi
cmake --build "$BUILD" --target quorwell bare_server feed_watchers -j 2 > "$OUT/build.log"

exec python3 "$ROOT/bench/server_bench.py"
