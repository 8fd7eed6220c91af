#!/bin/bash
# CPU time each server spends per request (user + system, all its threads or
# processes), measured around one wrk run per mode. On a shared, noisy machine
# this moves far less than requests/s do.
#
#   bench/network/cpu_per_request.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../../build}
SECONDS_PER_RUN=${2:-8}
THREADS=$(nproc)
TICKS=$(getconf CLK_TCK)
OUR_PORT=${OUR_PORT:-18280}
NGINX_PORT=${NGINX_PORT:-18290}
source "$HERE/servers.sh"

ticks() {
  local t=0 p f
  for p in "$@"; do
    [ -r "/proc/$p/stat" ] || continue
    read -r -a f < "/proc/$p/stat"
    t=$((t + f[13] + f[14]))
  done
  echo "$t"
}
measure() {  # name port mode pids...
  local name=$1 port=$2 mode=$3; shift 3
  local before after out rps
  before=$(ticks "$@")
  if [ "$mode" = close ]; then
    out=$(wrk -t2 -c50 -d"${SECONDS_PER_RUN}s" -H "Connection: close" "http://127.0.0.1:$port/vexo/")
  else
    out=$(wrk -t2 -c50 -d"${SECONDS_PER_RUN}s" "http://127.0.0.1:$port/vexo/")
  fi
  after=$(ticks "$@")
  rps=$(awk '/^Requests\/sec/ {print $2}' <<< "$out")
  awk -v n="$name" -v m="$mode" -v t=$((after - before)) -v hz="$TICKS" -v r="$rps" -v s="$SECONDS_PER_RUN" \
    'BEGIN { printf "%-10s %-9s %8.0f req/s  %5.1f us CPU per request\n", n, m, r, t / hz * 1e6 / (r * s) }'
}
for mode in keepalive close; do
  # shellcheck disable=SC2086
  measure hpsocket4c "$OUR_PORT" "$mode" "$OUR_PID"
  # shellcheck disable=SC2086
  measure nginx "$NGINX_PORT" "$mode" $NGINX_PIDS
done
