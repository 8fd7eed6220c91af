#!/bin/bash
# Throughput of libhpsocket4c against nginx on loopback, in the same run:
# wrk with 50 keep-alive connections, then wrk with a new connection per
# request ("Connection: close"), RUNS times each, servers alternating. Prints
# every run and the medians of requests/s and p99 latency, with the ratios.
#
#   bench/network/run_bench.sh [BUILD_DIR] [RUNS] [SECONDS]
#
# Needs wrk and nginx (scripts/setup.sh installs both) and a build of the
# target hpsocket4c_bench_server. Run as root (nginx runs from a temp prefix).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../../build}
RUNS=${2:-3}
SECONDS_PER_RUN=${3:-10}
THREADS=$(nproc)
OUR_PORT=${OUR_PORT:-18080}
NGINX_PORT=${NGINX_PORT:-18090}
WRK_THREADS=${WRK_THREADS:-2}
source "$HERE/servers.sh"
echo "machine: $(nproc) cores; network threads / nginx workers: $THREADS; wrk threads: $WRK_THREADS; ${SECONDS_PER_RUN}s per run"

# wrk output -> "requests_per_second p99_in_ms"
measure() {
  local port=$1; shift
  local out
  out=$(wrk -t"$WRK_THREADS" -c50 -d"${SECONDS_PER_RUN}s" --latency "$@" "http://127.0.0.1:$port/vexo/?code=QUJD&length=4")
  local rps p99 errors
  rps=$(awk '/^Requests\/sec/ {print $2}' <<< "$out")
  p99=$(awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub(/us/,"",v); v=v/1000} else if (v ~ /ms$/) {sub(/ms/,"",v)} else if (v ~ /s$/) {sub(/s/,"",v); v=v*1000}; print v}' <<< "$out")
  errors=$(grep -E "Socket errors|Non-2xx" <<< "$out" | tr -s ' ' | tr '\n' ';' || true)
  echo "$rps $p99 ${errors:-}"
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

for mode in keepalive close; do
  args=()
  [ "$mode" = close ] && args=(-H "Connection: close")
  ours_rps=(); ours_p99=(); nginx_rps=(); nginx_p99=()
  for run in $(seq 1 "$RUNS"); do
    read -r r p e <<< "$(measure "$OUR_PORT" "${args[@]}")"
    ours_rps+=("$r"); ours_p99+=("$p")
    echo "$mode run $run hpsocket4c: $r req/s, p99 $p ms ${e:-}"
    read -r r p e <<< "$(measure "$NGINX_PORT" "${args[@]}")"
    nginx_rps+=("$r"); nginx_p99+=("$p")
    echo "$mode run $run nginx:      $r req/s, p99 $p ms ${e:-}"
  done
  o_r=$(printf '%s\n' "${ours_rps[@]}" | median); o_p=$(printf '%s\n' "${ours_p99[@]}" | median)
  n_r=$(printf '%s\n' "${nginx_rps[@]}" | median); n_p=$(printf '%s\n' "${nginx_p99[@]}" | median)
  awk -v m="$mode" -v or="$o_r" -v op="$o_p" -v nr="$n_r" -v np="$n_p" 'BEGIN {
    printf "%s median: hpsocket4c %.0f req/s p99 %.2f ms | nginx %.0f req/s p99 %.2f ms | req/s ratio %.2f, p99 ratio %.2f\n",
      m, or, op, nr, np, or / nr, op / np }'
done
