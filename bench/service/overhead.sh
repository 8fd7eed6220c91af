#!/bin/bash
# What the program's own work costs (routing, decoding, conversions, copies):
# wrk against rez-udo-server with the `instant` test engine, side by side in
# the same run with the network library's benchmark server, which answers
# the same request with the same headers and body but does none of that work.
# Servers alternate, RUNS runs each of SECONDS; prints every run, the medians
# and the share of requests/s the program loses. Goal: at most 10 %.
# On a machine shared with other work requests/s swing with the load, so it
# also prints the CPU time each server spent per request (user + system,
# from /proc), which the load disturbs far less.
#
#   bench/service/overhead.sh [BUILD_DIR] [RUNS] [SECONDS] [CONNECTIONS]
#
# Needs wrk and a build of rez-udo-server, hpsocket4c_bench_server and
# test_engine_instant.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../../build}
RUNS=${2:-5}
SECONDS_PER_RUN=${3:-10}
CONNECTIONS=${4:-50}
SERVICE_PORT=${SERVICE_PORT:-18180}
BASE_PORT=${BASE_PORT:-18181}
WRK_THREADS=${WRK_THREADS:-2}
TARGET="/vexo/?code=QUJD&length=4"
source "$HERE/program_dir.sh"

cleanup() {
  [ -n "${BASE_PID:-}" ] && kill "$BASE_PID" 2>/dev/null || true
  stop_service > /dev/null || true
}
trap cleanup EXIT

start_service instant "$SERVICE_PORT"
"$BUILD/bin/hpsocket4c_bench_server" --port "$BASE_PORT" > /dev/null 2>&1 &
BASE_PID=$!
sleep 0.5
for port in "$SERVICE_PORT" "$BASE_PORT"; do
  body=$(curl -sf "http://127.0.0.1:$port$TARGET")
  [ "$body" = "code:ABCD" ] || { echo "server on $port answers '$body'" >&2; exit 1; }
done
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); wrk -t$WRK_THREADS -c$CONNECTIONS -d${SECONDS_PER_RUN}s"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
TICKS_PER_SECOND=$(getconf CLK_TCK)

# wrk against one server -> "requests_per_second cpu_microseconds_per_request"
rps() {
  local pid=$1; shift
  local out before after
  before=$(cpu_ticks "$pid")
  out=$(wrk -t"$WRK_THREADS" -c"$CONNECTIONS" -d"${SECONDS_PER_RUN}s" "$@")
  if grep -qE "Non-2xx|Socket errors" <<< "$out"; then
    grep -E "Non-2xx|Socket errors" <<< "$out" >&2
  fi
  after=$(cpu_ticks "$pid")
  awk -v t=$((after - before)) -v hz="$TICKS_PER_SECOND" '
    /^Requests\/sec/ {r = $2}
    / requests in / {n = $1}
    END {printf "%s %.1f\n", r, t * 1e6 / hz / n}' <<< "$out"
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

for mode in keepalive close; do
  args=()
  [ "$mode" = close ] && args=(-H "Connection: close")
  service=(); base=(); service_cpu=(); base_cpu=()
  for run in $(seq 1 "$RUNS"); do
    read -r s sc <<< "$(rps "$SERVICE_PID" "${args[@]}" "http://127.0.0.1:$SERVICE_PORT$TARGET")"
    read -r b bc <<< "$(rps "$BASE_PID" "${args[@]}" "http://127.0.0.1:$BASE_PORT$TARGET")"
    echo "$mode run $run: rez-udo-server $s req/s ($sc us CPU/request), library bench server $b req/s ($bc us CPU/request)"
    service+=("$s"); base+=("$b"); service_cpu+=("$sc"); base_cpu+=("$bc")
  done
  ms=$(printf '%s\n' "${service[@]}" | median)
  mb=$(printf '%s\n' "${base[@]}" | median)
  msc=$(printf '%s\n' "${service_cpu[@]}" | median)
  mbc=$(printf '%s\n' "${base_cpu[@]}" | median)
  awk -v m="$mode" -v s="$ms" -v b="$mb" -v sc="$msc" -v bc="$mbc" 'BEGIN {
    printf "%s median: rez-udo-server %.0f req/s, library bench server %.0f req/s, cost of the program %.1f %% of req/s\n",
      m, s, b, (b - s) * 100 / b
    printf "%s median CPU per request: rez-udo-server %.1f us, library bench server %.1f us, the program adds %.1f %%\n",
      m, sc, bc, (sc - bc) * 100 / bc }'
done
