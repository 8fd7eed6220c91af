#!/bin/bash
# Good and broken requests at once against rez-udo-server with the `hex` test
# engine (see robustness_client.cc); then a clean stop. Run it on the normal
# build for the figures and on the address-sanitizer build
# (-DREZ_ASAN=ON) to see that nothing leaks: its leak check runs at the
# program's exit and makes the exit status non-zero.
#
#   bench/service/robustness.sh [BUILD_DIR] [SECONDS] [THREADS]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../../build}
SECONDS_TO_RUN=${2:-30}
THREADS=${3:-8}
PORT=${PORT:-18160}
# The client may come from another build (a sanitizer build without bench/).
CLIENT=${CLIENT:-$BUILD/bin/service_robustness_client}
source "$HERE/program_dir.sh"
trap 'stop_service > /dev/null || true' EXIT

start_service hex "$PORT"
status=0
"$CLIENT" --port "$PORT" --pid "$SERVICE_PID" \
  --seconds "$SECONDS_TO_RUN" --threads "$THREADS" || status=$?
stop_service || status=$?
exit "$status"
