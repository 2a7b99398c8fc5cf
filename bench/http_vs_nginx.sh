#!/usr/bin/env bash
# Connection-per-request comparison of the HTTP layer with Debian's nginx on
# this machine: bench/http_fixed_body (a fixed 14109-byte body, one access-log
# line per request under a mutex) beside nginx serving the same bytes, both
# with keep-alive off and the access log on, both pinned to SERVER_CPU, wrk on
# CLIENT_CPU: wrk -t1 -c16 and -c64 with "Connection: close", rounds
# alternating between the servers so that drift on the machine hits both.
# The method is that of the anchors harness in ../shared/tools/anchors, with
# ports and files of its own, so that it can run while that harness runs.
#
# Prints per connection count: our requests per second as a ratio to nginx's
# in the same round (median and range over the rounds), the CPU time of each
# server's processes per response, the busy time of the server CPU per
# response (and the part of it that was not the server: other processes on
# that CPU, interrupts), p99 latency and errors.
#
# Environment (defaults): BUILD=build RUNS=3 DURATION=8 CONNS="16 64"
# PORT=18190 (nginx: PORT+1) SERVER_CPU=0 CLIENT_CPU=1 PAUSE=2 OUT=/tmp/http_vs_nginx
# SERVER_ARGS (more options for http_fixed_body, e.g. "--workers 2")
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
RUNS=${RUNS:-3}
DURATION=${DURATION:-8}
CONNS=${CONNS:-"16 64"}
PORT=${PORT:-18190}
NGINX_PORT=$((PORT + 1))
SERVER_CPU=${SERVER_CPU:-0}
CLIENT_CPU=${CLIENT_CPU:-1}
PAUSE=${PAUSE:-2}
OUT=${OUT:-/tmp/http_vs_nginx}
mkdir -p "$OUT/www" "$OUT/tmp"
ROWS=$OUT/rows.tsv
: > "$ROWS"

need=()
command -v wrk > /dev/null || need+=(wrk)
command -v nginx > /dev/null || need+=(nginx)
command -v curl > /dev/null || need+=(curl)
if ((${#need[@]})); then
  echo "http_vs_nginx: installing ${need[*]}" >&2
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO=sudo
  $SUDO apt-get update -q > "$OUT/apt.log" 2>&1
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${need[@]}" >> "$OUT/apt.log" 2>&1
fi

if [[ ! -f "$BUILD/CMakeCache.txt" ]]; then cmake -S "$ROOT" -B "$BUILD" > "$OUT/cmake.log"; fi
cmake --build "$BUILD" --target http_fixed_body -j 2 > "$OUT/build.log"

OURS_PID="" NGINX_PID=""
stop_all() {
  local p
  for p in $OURS_PID $NGINX_PID; do
    if kill -0 "$p" 2> /dev/null; then
      kill -TERM "$p"
      wait "$p" 2> /dev/null || true
    fi
  done
  OURS_PID="" NGINX_PID=""
}
trap stop_all EXIT INT TERM

wait_up() {  # wait_up PORT PID
  local i
  for i in $(seq 1 50); do
    curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$1/board.html" && return 0
    kill -0 "$2" 2> /dev/null || return 1
    sleep 0.1
  done
  return 1
}

: > "$OUT/ours-access.log"
taskset -c "$SERVER_CPU" "$BUILD/bench/http_fixed_body" --port "$PORT" --log "$OUT/ours-access.log" \
  ${SERVER_ARGS:-} > "$OUT/ours.log" 2>&1 < /dev/null &
OURS_PID=$!
wait_up "$PORT" "$OURS_PID" || { cat "$OUT/ours.log" >&2; exit 1; }
curl -s "http://127.0.0.1:$PORT/board.html" -o "$OUT/www/board.html"
chmod -R a+rX "$OUT/www"

cat > "$OUT/nginx.conf" << EOF
# keep-alive off, access log on (combined format, unbuffered), Debian defaults otherwise.
worker_processes 2;
daemon off;
pid $OUT/nginx.pid;
error_log $OUT/nginx-error.log warn;
events { worker_connections 4096; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 0;
  access_log $OUT/nginx-access.log;
  client_body_temp_path $OUT/tmp/body;
  proxy_temp_path $OUT/tmp/proxy;
  fastcgi_temp_path $OUT/tmp/fastcgi;
  uwsgi_temp_path $OUT/tmp/uwsgi;
  scgi_temp_path $OUT/tmp/scgi;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $OUT/www;
  }
}
EOF
: > "$OUT/nginx-access.log"
taskset -c "$SERVER_CPU" nginx -e "$OUT/nginx-error.log" -c "$OUT/nginx.conf" > "$OUT/nginx.log" 2>&1 < /dev/null &
NGINX_PID=$!
wait_up "$NGINX_PORT" "$NGINX_PID" || { cat "$OUT/nginx-error.log" >&2; exit 1; }

for p in "$PORT" "$NGINX_PORT"; do
  h=$(curl -s -D - -o /dev/null -H 'Connection: close' "http://127.0.0.1:$p/board.html" | tr -d '\r')
  echo "check :$p $(echo "$h" | head -1) | $(echo "$h" | grep -i '^content-length') | $(echo "$h" | grep -i '^connection')"
done

# CPU ticks (user + system) of a process and its children.
ticks_of() {
  local pid=$1 t=0 k
  for k in $pid $(ps -o pid= --ppid "$pid" 2> /dev/null); do
    [[ -r /proc/$k/stat ]] && t=$((t + $(awk '{print $14 + $15}' "/proc/$k/stat")))
  done
  echo "$t"
}
core_busy() { awk -v c="cpu$SERVER_CPU" '$1 == c { print $2 + $3 + $4 + $7 + $8 }' /proc/stat; }

one_run() {  # one_run LABEL PORT PID CONNS ROUND
  local label=$1 port=$2 pid=$3 c=$4 r=$5 out t0 t1 b0 b1
  out=$OUT/wrk-$label-c$c-r$r.txt
  t0=$(ticks_of "$pid"); b0=$(core_busy)
  timeout -k 1 $((DURATION + 5)) taskset -c "$CLIENT_CPU" wrk -t1 -c"$c" -d"${DURATION}s" \
    -H 'Connection: close' --latency "http://127.0.0.1:$port/board.html" > "$out" 2>&1 || true
  t1=$(ticks_of "$pid"); b1=$(core_busy)
  awk -v label="$label" -v c="$c" -v r="$r" -v ticks=$((t1 - t0)) -v busy=$((b1 - b0)) '
    function ms(v) { if (v ~ /us$/) return substr(v, 1, length(v) - 2) / 1000;
                     if (v ~ /ms$/) return substr(v, 1, length(v) - 2) + 0;
                     if (v ~ /s$/) return substr(v, 1, length(v) - 1) * 1000; return v + 0 }
    /^ +99%/ { p99 = ms($2) } /requests in/ { reqs = $1 } /^Requests\/sec:/ { rps = $2 }
    /Non-2xx or 3xx responses:/ { bad += $NF }
    /Socket errors:/ { gsub(",", ""); bad += $4 + $6 + $8 + $10 }
    END { printf "%s\t%s\t%s\t%.1f\t%d\t%.3f\t%d\t%d\t%d\n", label, c, r, rps, reqs, p99, bad, ticks, busy }' "$out" >> "$ROWS"
  tail -1 "$ROWS" | awk -F'\t' '{ printf "round %s %-6s c=%-3s %8.0f req/s p99 %7.2f ms errors %d\n", $3, $1, $2, $4, $6, $7 }' >&2
  sleep "$PAUSE"
}

for r in $(seq 1 "$RUNS"); do
  for c in $CONNS; do
    one_run nginx "$NGINX_PORT" "$NGINX_PID" "$c" "$r"
    one_run ours "$PORT" "$OURS_PID" "$c" "$r"
  done
done
stop_all
trap - EXIT INT TERM

HZ=$(getconf CLK_TCK)
echo
echo "== HTTP layer (fixed body) against nginx: wrk -t1 -cN -d${DURATION}s 'Connection: close', $RUNS rounds, medians"
# rows: label conns round req/s requests p99 errors process-ticks core-busy-ticks
awk -F'\t' -v hz="$HZ" '
  function med(s,   a, n, i, j, t) { n = split(s, a, " ");
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] + 0 > t + 0; j--) a[j + 1] = a[j]; a[j + 1] = t }
    lo = a[1]; hi = a[n]; return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
  { k = $1 SUBSEP $2; rps[k] = rps[k] " " $4; p99[k] = p99[k] " " $6; err[k] += $7
    if ($5 > 0) { cpu[k] = cpu[k] " " $8 * 1e6 / hz / $5; core[k] = core[k] " " $9 * 1e6 / hz / $5
                  rest[k] = rest[k] " " ($9 - $8) * 1e6 / hz / $5 }
    at[$1, $2, $3] = $4; if (!($2 in seen)) { seen[$2] = 1; conns[++nc] = $2 } if ($3 > rounds) rounds = $3 }
  END {
    for (i = 1; i <= nc; i++) {
      c = conns[i]; o = "ours" SUBSEP c; g = "nginx" SUBSEP c; r = ""
      for (n = 1; n <= rounds; n++) if (at["nginx", c, n] > 0) r = r " " at["ours", c, n] / at["nginx", c, n]
      x = med(r); xl = lo; xh = hi
      printf "c=%-3s x%.2f of nginx (rounds %.2f-%.2f)  req/s %.0f vs %.0f  process CPU us/response %.1f vs %.1f  server-core busy us/response %.1f vs %.1f (not the server: %.1f vs %.1f)  p99 %.2f vs %.2f ms  errors %d vs %d\n",
        c, x, xl, xh, med(rps[o]), med(rps[g]), med(cpu[o]), med(cpu[g]), med(core[o]), med(core[g]), med(rest[o]), med(rest[g]), med(p99[o]), med(p99[g]), err[o], err[g]
    }
  }' "$ROWS"
echo "access logs: ours $(wc -l < "$OUT/ours-access.log") lines, nginx $(wc -l < "$OUT/nginx-access.log") lines; runs in $OUT"
