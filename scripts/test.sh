#!/bin/sh
# Installs what is needed, configures, builds and runs every test.
#   scripts/test.sh           the default build (warnings are errors), in build/
#   scripts/test.sh asan      address + undefined-behaviour sanitizers, in build-asan/
#   scripts/test.sh tsan      thread sanitizer, in build-tsan/
set -eu
cd "$(dirname "$0")/.."
MODE="${1:-default}"
case "$MODE" in
  default) DIR=build; FLAGS="" ;;
  asan) DIR=build-asan; FLAGS="-DREZ_ASAN=ON -DREZ_BENCH=OFF" ;;
  tsan) DIR=build-tsan; FLAGS="-DREZ_TSAN=ON -DREZ_BENCH=OFF" ;;
  *) echo "usage: scripts/test.sh [default|asan|tsan]" >&2; exit 2 ;;
esac
if [ "$(id -u)" -eq 0 ]; then
  scripts/setup.sh
fi
# shellcheck disable=SC2086
cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo $FLAGS
cmake --build "$DIR" -j"$(nproc)"
ctest --test-dir "$DIR" --output-on-failure -j"$(nproc)"
