#!/usr/bin/env bash
# Runs zetora-stats for a test on a fresh SQLite database of its own, with one
# access token, and once it serves prints "READY STAT_PORT=<port>
# STATS_TOKEN=<token>" (the line cmake/with-server.sh reads). SIGTERM ends it.
#   stats_service.sh ZETORA-STATS PORT
set -u
service=$1
port=$2
if [ ! -x "$service" ]; then
  echo "stats_service: no $service: build the host configuration first (make build)" >&2
  exit 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/zstats-test.XXXXXX")
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 0' TERM INT
token=$("$service" token add tests --config "$work/stats.ini") || exit 2
# The port may still be held by the server of the test before this one.
for _ in $(seq 1 15); do
  "$service" serve --db "$work/stats.sqlite" --listen "127.0.0.1:$port" --config "$work/stats.ini" \
    --print-ready >"$work/ready" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null && ! grep -q '^READY' "$work/ready"; do sleep 0.1; done
  if grep -q '^READY' "$work/ready"; then
    echo "READY STAT_PORT=$port STATS_TOKEN=$token"
    wait "$pid"
    exit $?
  fi
  wait "$pid" 2>/dev/null
  pid=
  sleep 1
done
echo "stats_service: cannot serve on port $port" >&2
exit 2
