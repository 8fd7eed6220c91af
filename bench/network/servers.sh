# Starts the servers the network benchmarks compare, side by side: the
# library's benchmark server and nginx with its own config (worker_processes
# equal to the library's network threads); with INLINE_PORT set, also the
# benchmark server with --inline (answers on the network thread, no pool
# task), the reference that shows what the hand-off to the pool costs.
# Sourced; expects HERE, BUILD, THREADS, OUR_PORT and NGINX_PORT, and sets
# PREFIX, OUR_PID, INLINE_PID and NGINX_PIDS. All are stopped, and the
# temporary prefix removed, when the script exits.
PREFIX=$(mktemp -d /tmp/hpsocket4c-bench.XXXXXX)

stop_servers() {
  [ -n "${OUR_PID:-}" ] && kill "$OUR_PID" 2>/dev/null || true
  [ -n "${INLINE_PID:-}" ] && kill "$INLINE_PID" 2>/dev/null || true
  [ -f "$PREFIX/nginx.pid" ] && kill "$(cat "$PREFIX/nginx.pid")" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$PREFIX"
}
trap stop_servers EXIT

"$BUILD/bin/hpsocket4c_bench_server" --port "$OUR_PORT" --network-threads "$THREADS" \
  --pool-threads 0 > "$PREFIX/ours.log" 2>&1 &
OUR_PID=$!
INLINE_PID=
if [ -n "${INLINE_PORT:-}" ]; then
  "$BUILD/bin/hpsocket4c_bench_server" --port "$INLINE_PORT" --network-threads "$THREADS" \
    --pool-threads 0 --inline > "$PREFIX/inline.log" 2>&1 &
  INLINE_PID=$!
fi
sed -e "s|@PREFIX@|$PREFIX|g" -e "s|@PORT@|$NGINX_PORT|g" -e "s|@WORKERS@|$THREADS|g" \
  "$HERE/nginx.conf.in" > "$PREFIX/nginx.conf"
nginx -p "$PREFIX" -c "$PREFIX/nginx.conf" > "$PREFIX/nginx.out" 2>&1 &
sleep 1
kill -0 "$OUR_PID" 2>/dev/null || { echo "benchmark server did not start (port in use?)" >&2; exit 1; }
for port in "$OUR_PORT" "$NGINX_PORT" ${INLINE_PORT:-}; do
  curl -sf "http://127.0.0.1:$port/vexo/" > /dev/null || { echo "server on $port not answering" >&2; exit 1; }
done
NGINX_PIDS="$(cat "$PREFIX/nginx.pid") $(pgrep -P "$(cat "$PREFIX/nginx.pid")" | tr '\n' ' ')"
