#!/bin/bash
# CPU time each server spends per request (user + system, all its threads or
# processes) and its requests/s, measured around wrk runs in both modes, the
# servers alternating, ROUNDS times; prints every run and the medians. On a
# shared, noisy machine CPU per request moves far less than requests/s do.
#
# Three servers: the library's benchmark server as the system answers (from
# a pool task), the same server answering on the network thread (--inline:
# what the library's own path costs, without the hand-off to the pool), and
# nginx.
#
#   bench/network/cpu_per_request.sh [BUILD_DIR] [SECONDS] [ROUNDS]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../../build}
SECONDS_PER_RUN=${2:-8}
ROUNDS=${3:-3}
THREADS=$(nproc)
TICKS=$(getconf CLK_TCK)
OUR_PORT=${OUR_PORT:-18280}
NGINX_PORT=${NGINX_PORT:-18290}
INLINE_PORT=${INLINE_PORT:-18285}
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
# One wrk run: prints "requests_per_second microseconds_of_CPU_per_request".
measure() {  # port mode pids...
  local port=$1 mode=$2; shift 2
  local before after out rps
  before=$(ticks "$@")
  if [ "$mode" = close ]; then
    out=$(wrk -t2 -c50 -d"${SECONDS_PER_RUN}s" -H "Connection: close" "http://127.0.0.1:$port/vexo/")
  else
    out=$(wrk -t2 -c50 -d"${SECONDS_PER_RUN}s" "http://127.0.0.1:$port/vexo/")
  fi
  after=$(ticks "$@")
  rps=$(awk '/^Requests\/sec/ {print $2}' <<< "$out")
  awk -v t=$((after - before)) -v hz="$TICKS" -v r="$rps" -v s="$SECONDS_PER_RUN" \
    'BEGIN { printf "%.0f %.1f\n", r, t / hz * 1e6 / (r * s) }'
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

for mode in keepalive close; do
  declare -A rps=() cpu=()
  for round in $(seq 1 "$ROUNDS"); do
    for server in pool inline nginx; do
      case $server in
        pool) read -r r c <<< "$(measure "$OUR_PORT" "$mode" "$OUR_PID")" ;;
        inline) read -r r c <<< "$(measure "$INLINE_PORT" "$mode" "$INLINE_PID")" ;;
        # shellcheck disable=SC2086
        nginx) read -r r c <<< "$(measure "$NGINX_PORT" "$mode" $NGINX_PIDS)" ;;
      esac
      rps[$server]+="$r "; cpu[$server]+="$c "
      printf "%-9s round %d %-7s %8.0f req/s  %5.1f us CPU per request\n" "$mode" "$round" "$server" "$r" "$c"
    done
  done
  declare -A mr=() mc=()
  for server in pool inline nginx; do
    mr[$server]=$(tr ' ' '\n' <<< "${rps[$server]}" | grep . | median)
    mc[$server]=$(tr ' ' '\n' <<< "${cpu[$server]}" | grep . | median)
  done
  awk -v m="$mode" -v pr="${mr[pool]}" -v pc="${mc[pool]}" -v ir="${mr[inline]}" \
    -v ic="${mc[inline]}" -v nr="${mr[nginx]}" -v nc="${mc[nginx]}" 'BEGIN {
    printf "%s median: pool task %.0f req/s %.1f us | network thread %.0f req/s %.1f us | nginx %.0f req/s %.1f us\n",
      m, pr, pc, ir, ic, nr, nc
    printf "%s ratios to nginx: pool task %.2f req/s, %.2f CPU | network thread %.2f req/s, %.2f CPU\n",
      m, pr / nr, pc / nc, ir / nr, ic / nc }'
done
