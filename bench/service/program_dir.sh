# Shared by the service benchmarks (sourced): makes a temporary program
# directory with rez-udo-server, libhpsocket4c.so and the test engine $1 as
# libocr.so, and starts the program there in console mode on $2.
# Sets PROGRAM_DIR and SERVICE_PID; stop_service ends it (SIGTERM) and
# prints its exit status.
start_service() {
  local engine=$1 port=$2
  PROGRAM_DIR=$(mktemp -d /tmp/rez-service-bench.XXXXXX)
  cp "$BUILD/bin/rez-udo-server" "$BUILD/bin/libhpsocket4c.so" "$PROGRAM_DIR/"
  cp "$BUILD/test_engines/$engine/libocr.so" "$PROGRAM_DIR/"
  "$PROGRAM_DIR/rez-udo-server" --headless --port "$port" > "$PROGRAM_DIR/out.log" \
    2> "$PROGRAM_DIR/err.log" &
  SERVICE_PID=$!
  for _ in $(seq 1 100); do
    grep -q "启动成功" "$PROGRAM_DIR/out.log" 2>/dev/null && return 0
    grep -q "启动失败" "$PROGRAM_DIR/out.log" 2>/dev/null && break
    sleep 0.1
  done
  echo "rez-udo-server did not start on $port:" >&2
  cat "$PROGRAM_DIR/out.log" "$PROGRAM_DIR/err.log" >&2
  return 1
}

stop_service() {
  [ -n "${SERVICE_PID:-}" ] || return 0
  kill -TERM "$SERVICE_PID" 2>/dev/null || true
  local status=0
  wait "$SERVICE_PID" || status=$?
  SERVICE_PID=
  echo "rez-udo-server exit status: $status"
  [ -s "$PROGRAM_DIR/err.log" ] && { echo "its standard error:"; head -50 "$PROGRAM_DIR/err.log"; }
  rm -rf "$PROGRAM_DIR"
  return "$status"
}

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
