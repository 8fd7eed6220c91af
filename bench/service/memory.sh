#!/bin/bash
# Resident memory of rez-udo-server over many short connections: the program
# with the `instant` test engine, TOTAL connections that each send one
# recognition request, read its answer and close; prints VmRSS after the
# first FIRST and after all. Goal: growth within 10 MB (10 240 KiB).
#
#   bench/service/memory.sh [BUILD_DIR] [TOTAL] [FIRST]
#
# Uses the network library's memory client (hpsocket4c_memory_client).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../../build}
TOTAL=${2:-200000}
FIRST=${3:-2000}
PORT=${PORT:-18170}
# The client may come from another build (a sanitizer build without bench/).
CLIENT=${CLIENT:-$BUILD/bin/hpsocket4c_memory_client}
source "$HERE/program_dir.sh"
trap 'stop_service > /dev/null || true' EXIT

start_service instant "$PORT"
"$CLIENT" --port "$PORT" --pid "$SERVICE_PID" --total "$TOTAL" \
  --first "$FIRST" --threads 4
stop_service
