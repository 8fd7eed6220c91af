#!/bin/bash
# What the program's own work costs (routing, decoding, conversions, copies):
# wrk against rez-udo-server with the `instant` test engine, side by side in
# the same run with the network library's benchmark server, which answers
# the same request with the same headers and body but does none of that work.
# Servers alternate, RUNS runs each of SECONDS; prints every run, the medians
# and the share of requests/s the program loses. Goal: at most 10 %.
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

rps() {
  local out
  out=$(wrk -t"$WRK_THREADS" -c"$CONNECTIONS" -d"${SECONDS_PER_RUN}s" "$@")
  if grep -qE "Non-2xx|Socket errors" <<< "$out"; then
    grep -E "Non-2xx|Socket errors" <<< "$out" >&2
  fi
  awk '/^Requests\/sec/ {print $2}' <<< "$out"
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

for mode in keepalive close; do
  args=()
  [ "$mode" = close ] && args=(-H "Connection: close")
  service=(); base=()
  for run in $(seq 1 "$RUNS"); do
    s=$(rps "${args[@]}" "http://127.0.0.1:$SERVICE_PORT$TARGET")
    b=$(rps "${args[@]}" "http://127.0.0.1:$BASE_PORT$TARGET")
    echo "$mode run $run: rez-udo-server $s req/s, library bench server $b req/s"
    service+=("$s"); base+=("$b")
  done
  ms=$(printf '%s\n' "${service[@]}" | median)
  mb=$(printf '%s\n' "${base[@]}" | median)
  awk -v m="$mode" -v s="$ms" -v b="$mb" 'BEGIN {
    printf "%s median: rez-udo-server %.0f req/s, library bench server %.0f req/s, cost of the program %.1f %%\n",
      m, s, b, (b - s) * 100 / b }'
done
