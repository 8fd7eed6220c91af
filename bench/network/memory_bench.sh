#!/bin/bash
# Resident memory of a server on libhpsocket4c over many short connections:
# starts the benchmark server, opens/uses/closes TOTAL connections (one
# request and its answer each) and prints the server's VmRSS after the first
# FIRST and after all of them. Goal: growth within 10 MB.
#
#   bench/network/memory_bench.sh [BUILD_DIR] [TOTAL] [FIRST]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../../build}
TOTAL=${2:-100000}
FIRST=${3:-1000}
PORT=${PORT:-18070}

"$BUILD/bin/hpsocket4c_bench_server" --port "$PORT" > /dev/null 2>&1 &
SERVER_PID=$!
trap 'kill "$SERVER_PID" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
sleep 0.5
"$BUILD/bin/hpsocket4c_memory_client" --port "$PORT" --pid "$SERVER_PID" --total "$TOTAL" \
  --first "$FIRST" --threads 4
