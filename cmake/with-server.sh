#!/usr/bin/env bash
# Runs a test program beside a loopback server of its own.
#   with-server.sh SERVER-COMMAND... -- TEST-COMMAND...
# The server listens on ports it chooses itself (port 0) and, once it accepts
# connections, prints one line "READY NAME=VALUE ..." on standard output. Each
# NAME=VALUE is exported to the test (Wine passes the environment on to the
# Windows process). The server is ended when the test ends; the test's exit
# code is the result. The server's own output goes to standard error.
set -u
server=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do server+=("$1"); shift; done
if [ $# -eq 0 ]; then echo "with-server: missing -- TEST-COMMAND" >&2; exit 2; fi
shift

fifo_dir=$(mktemp -d)
mkfifo "$fifo_dir/out"
"${server[@]}" >"$fifo_dir/out" &
server_pid=$!
cleanup() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  rm -rf "$fifo_dir"
}
trap cleanup EXIT

exec 3<"$fifo_dir/out"
ready=
while IFS= read -r -t 20 line <&3; do
  case "$line" in
    READY*) ready=$line; break ;;
    *) echo "$line" >&2 ;;
  esac
done
if [ -z "$ready" ]; then echo "with-server: server did not report READY" >&2; exit 2; fi
for pair in ${ready#READY}; do export "${pair?}"; done
# Keep draining the server's output so it never blocks on a full pipe.
cat <&3 >&2 &
"$@"
