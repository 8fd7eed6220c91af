#!/bin/sh
# Installs what is needed, builds, and starts the REZ_UDO server with the real
# recognition engine on port 8888: the window when a display is open, the
# console mode otherwise. Extra arguments go to the program.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then
  scripts/setup.sh
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target rez-udo-server hpsocket4c ocr
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/rez-udo-server "$@"
fi
exec build/bin/rez-udo-server --headless --port 8888 "$@"
