#!/usr/bin/env bash
# Starts a throw-away PostgreSQL cluster in a temporary folder for a test
# (through cmake/with-server.sh): prints "READY ZSTATS_PG=<connection URI>"
# and stops the cluster when ended. Without the server binaries it prints
# "READY ZSTATS_PG=" and the tests skip PostgreSQL with a message.
set -u
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "pg_cluster: PostgreSQL server binaries not found" >&2
  echo "READY ZSTATS_PG="
  exec sleep infinity >/dev/null 2>&1
fi
dir=$(mktemp -d /tmp/zstats-pg.XXXXXX)
chmod 755 "$dir"
# The server refuses to run as root; it then runs as nobody.
as=()
if [ "$(id -u)" = 0 ]; then as=(runuser -u nobody --); chown nobody "$dir"; fi
sleeper=
stop() {
  [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null
  "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1
  rm -rf "$dir"
  exit 0
}
trap stop TERM INT EXIT
"${as[@]}" "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 \
  || { cat "$dir/initdb.log" >&2; exit 1; }
# A socket in the folder only: no port of the machine is taken.
"${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
  -o "-c listen_addresses= -k $dir -c fsync=${ZSTATS_PG_FSYNC:-on} -c max_connections=60" start >/dev/null \
  || { cat "$dir/server.log" >&2; exit 1; }
echo "READY ZSTATS_PG=postgresql:///postgres?host=$dir&user=postgres"
# Nothing of the cluster keeps the caller's output open once it is stopped.
sleep infinity >/dev/null 2>&1 &
sleeper=$!
wait $sleeper
