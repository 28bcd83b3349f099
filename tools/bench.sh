#!/usr/bin/env bash
# make bench: the download call under Wine against the loopback test server,
# and against nginx (throttled and not), side by side in one run with aria2c
# (8 connections), curl (one) and a plain
# single-request WinINet download under Wine (the platform's own limit), on
# the same server and files. Prints ratios, bytes served per byte kept, peak
# memory, resume refetching and the size of the release installer.
#   tools/bench.sh <build dir>   (inside cmake/wine-session.sh)
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench="$build/${ZETORA_WIN_ARCH:-win32}/download_bench.exe"
baseline="$build/${ZETORA_WIN_ARCH:-win32}/wininet_baseline.exe"
work="$build/bench"
rm -rf "$work" && mkdir -p "$work"
MiB=$((1024 * 1024))

exec 3< <(python3 "$here/testhttpd.py" 2>"$work/server.log")
server_pid=$!
ngx_pid=
# The servers end with the script: a server left behind would keep the build
# lock (it inherits the lock's descriptor) and its port.
trap 'kill $server_pid $ngx_pid 2>/dev/null' EXIT
read -r ready <&3
for pair in ${ready#READY}; do export "${pair?}"; done
base="http://127.0.0.1:$HTTPD_PORT"
ctl() { curl -s -X POST "$base/_ctl/$1" >/dev/null; }
served() { curl -s "$base/_ctl/log?path=$1" | awk -F'\t' '{s += $10} END {print s + 0}'; }
now_ms() { date +%s%3N; }
winpath() { echo "Z:${1//\//\\}"; }

# Runs the bench program; prints its "result= ms= bytes=" line. While it runs,
# samples the Wine process's peak resident set and anonymous memory.
run_ours() {
  local url=$1 file=$2; shift 2
  local out="$work/ours.out"
  timeout 300 "$ZETORA_WINE" "$bench" "$url" "$(winpath "$file")" "$@" >"$out" 2>"$work/ours.err" &
  local launcher=$!
  peak_hwm=0 peak_anon=0
  while kill -0 "$launcher" 2>/dev/null; do
    for pid in $(pgrep -f 'download_bench.exe'); do
      local hwm anon
      hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
      anon=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
      [ -n "$hwm" ] && [ "$hwm" -gt "$peak_hwm" ] && peak_hwm=$hwm
      [ -n "$anon" ] && [ "$anon" -gt "$peak_anon" ] && peak_anon=$anon
    done
    sleep 0.05
  done
  wait "$launcher"
  echo "$peak_hwm $peak_anon" >"$work/peaks"
  tr -d '\r' <"$out"
}
# Runs a Windows program ($1) on a URL and a file without the memory sampler
# (it takes CPU of its own); prints its "result= ms=" line with "cpu=" added:
# the process's user plus system time in ms. The program's diagnostic output
# of every run is kept in $work/<program>.err.
run_timed() {
  local exe=$1 url=$2 file=$3 TIMEFORMAT='%3U %3S' user sys
  local log="$work/$(basename "$exe" .exe).err"
  echo "== $(date +%T.%3N) $url" >>"$log"
  { time timeout 300 "$ZETORA_WINE" "$exe" "$url" "$(winpath "$file")" >"$work/timed.out" \
      2>>"$log"; } 2>"$work/timed.cpu"
  read -r user sys <"$work/timed.cpu"
  echo "$(tr -d '\r' <"$work/timed.out") cpu=$(python3 -c "print(round(($user + $sys) * 1000))")"
}
# The peaks of the last run_ours, for a file of $1 MiB.
print_peaks() {
  read -r peak_hwm peak_anon <"$work/peaks"
  echo "  peak memory of the Wine process: VmHWM $((peak_hwm / 1024)) MiB, RssAnon $((peak_anon / 1024)) MiB (file $1 MiB)"
}
field() { sed -n "s/.*$1=\([0-9-]*\).*/\1/p"; }
ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
# Bytes the server sent for path since the count given, per byte of the file.
served_ratio() { ratio "$(( $(served "$1") - $2 ))" "$3"; }

ctl "file?path=/t64.bin&size=$((64 * MiB))"
ctl "rule?path=/t64.bin&rate=$((2 * MiB))"
ctl "file?path=/u256.bin&size=$((256 * MiB))"
ctl "file?path=/r64.bin&size=$((64 * MiB))"
ctl "rule?path=/r64.bin&rate=$((256 * 1024))"

echo "bench: throttled, 64 MiB, each connection limited to 2 MiB/s"
before=$(served /t64.bin)
line=$(run_ours "$base/t64.bin" "$work/t64.ours")
ours_ms=$(echo "$line" | field ms)
echo "  ours:   $line"
echo "  ours: bytes served / file size = $(served_ratio /t64.bin "$before" $((64 * MiB)))"
print_peaks 64
before=$(served /t64.bin)
start=$(now_ms)
# aria2c accepts no split size under 1 MiB (-k512K is refused); 1M is its floor.
aria2c -q -x8 -s8 -k1M --allow-overwrite=true --auto-file-renaming=false \
       -d "$work" -o t64.aria2 "$base/t64.bin"
aria_ms=$(( $(now_ms) - start ))
echo "  aria2c: ms=$aria_ms, bytes served / file size = $(served_ratio /t64.bin "$before" $((64 * MiB)))"
ideal_ms=$(( 64 * 1000 / 16 ))
echo "  ours / ideal ($ideal_ms ms) = $(ratio "$ours_ms" "$ideal_ms")"
echo "  ours / aria2c            = $(ratio "$ours_ms" "$aria_ms")"
cmp -s "$work/t64.ours" "$work/t64.aria2" && echo "  files identical" || echo "  FILES DIFFER"

echo "bench: throttled, 64 MiB from nginx, limit_rate 2m per connection"
# nginx (Debian package) as a process of its own on a free loopback port,
# serving a copy of the test server's file; its log gives the bytes sent.
ngx="$work/nginx"
mkdir -p "$ngx/www/limited" "$ngx/logs"
ctl "file?path=/n64.bin&size=$((64 * MiB))"
curl -s -o "$ngx/www/limited/n64.bin" "$base/n64.bin"
ngx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$ngx/nginx.conf" <<NGX
$( [ "$(id -u)" = 0 ] && echo "user root;" )
worker_processes 1;
pid $ngx/nginx.pid;
error_log $ngx/logs/error.log;
events { worker_connections 256; }
http {
  log_format bench '\$request_uri \$status \$body_bytes_sent';
  access_log $ngx/logs/access.log bench;
  client_body_temp_path $ngx/tmp_body; proxy_temp_path $ngx/tmp_proxy;
  fastcgi_temp_path $ngx/tmp_fcgi; uwsgi_temp_path $ngx/tmp_uwsgi; scgi_temp_path $ngx/tmp_scgi;
  server {
    listen 127.0.0.1:$ngx_port;
    root $ngx/www;
    location /limited/ { limit_rate 2m; }
  }
}
NGX
nginx -p "$ngx" -c "$ngx/nginx.conf" -g 'daemon off;' 2>"$ngx/logs/stderr" &
ngx_pid=$!
ngx_up=0
for _ in $(seq 1 50); do curl -s -o /dev/null "http://127.0.0.1:$ngx_port/" && ngx_up=1 && break; sleep 0.1; done
if [ "$ngx_up" = 0 ]; then
  echo "  nginx did not start: $(tail -n 1 "$ngx/logs/stderr")"
else
# Bytes nginx sent for the file named $1.
ngx_served() { awk -v f="$1" '$1 ~ f {s += $3} END {print s + 0}' "$ngx/logs/access.log"; }
nbase="http://127.0.0.1:$ngx_port/limited"
before=$(ngx_served n64.bin)
line=$(run_ours "$nbase/n64.bin" "$work/n64.ours")
ours_ms=$(echo "$line" | field ms)
echo "  ours:   $line"
echo "  ours: bytes served / file size = $(ratio "$(( $(ngx_served n64.bin) - before ))" $((64 * MiB)))"
before=$(ngx_served n64.bin)
start=$(now_ms)
aria2c -q -x8 -s8 -k1M --allow-overwrite=true --auto-file-renaming=false \
       -d "$work" -o n64.aria2 "$nbase/n64.bin"
aria_ms=$(( $(now_ms) - start ))
echo "  aria2c: ms=$aria_ms, bytes served / file size = $(ratio "$(( $(ngx_served n64.bin) - before ))" $((64 * MiB)))"
echo "  ours / ideal ($ideal_ms ms) = $(ratio "$ours_ms" "$ideal_ms")"
echo "  aria2c / ideal           = $(ratio "$aria_ms" "$ideal_ms")"
echo "  ours / aria2c            = $(ratio "$ours_ms" "$aria_ms")"
cmp -s "$work/n64.ours" "$ngx/www/limited/n64.bin" &&
  cmp -s "$work/n64.aria2" "$ngx/www/limited/n64.bin" &&
  echo "  files identical" || echo "  FILES DIFFER"
rm -f "$work/n64.ours" "$work/n64.aria2" "$ngx/www/limited/n64.bin"
fi

# Unthrottled 256 MiB from the server at $1 (label $2); $3 counts the bytes
# that server sent for u256.bin. Times on loopback vary from run to run by
# a factor of two for every client here, so ours and the single WinINet
# request run three times each, interleaved, and their medians are compared;
# so are the CPU times the two processes took. Those runs go without the
# memory sampler, which a fourth run of ours has to itself.
unthrottled() {
  local url=$1/u256.bin label=$2 count=$3 before line ours_ms base_ms curl_ms aria_ms start
  local ours_all="" base_all="" ours_cpu="" base_cpu="" i
  echo "bench: unthrottled loopback, 256 MiB from $label"
  # One fetch first, so that no timed run pays for the server's first
  # reading of the file.
  curl -s -o /dev/null "$url"
  for i in 1 2 3; do
    rm -f "$work/u256.ours" "$work/u256.ours.resume" "$work/u256.base"
    before=$($count)
    line=$(run_timed "$bench" "$url" "$work/u256.ours")
    ours_all="$ours_all $(echo "$line" | field ms)"
    ours_cpu="$ours_cpu $(echo "$line" | field cpu)"
    if [ "$i" = 1 ]; then
      echo "  ours:   $line"
      echo "  ours: bytes served / file size = $(ratio "$(( $($count) - before ))" $((256 * MiB)))"
    fi
    before=$($count)
    line=$(run_timed "$baseline" "$url" "$work/u256.base")
    base_all="$base_all $(echo "$line" | field ms)"
    base_cpu="$base_cpu $(echo "$line" | field cpu)"
    [ "$i" = 1 ] && echo "  single WinINet request: $line, bytes served / file size = $(ratio "$(( $($count) - before ))" $((256 * MiB)))"
  done
  ours_ms=$(median $ours_all)
  base_ms=$(median $base_all)
  echo "  ours ms:$ours_all (median $ours_ms); single WinINet request ms:$base_all (median $base_ms)"
  echo "  process CPU ms, user + system: ours$ours_cpu (median $(median $ours_cpu)); single WinINet request$base_cpu (median $(median $base_cpu))"
  rm -f "$work/u256.ours" "$work/u256.ours.resume"
  run_ours "$url" "$work/u256.ours" >/dev/null
  print_peaks 256
  start=$(now_ms)
  curl -s -o "$work/u256.curl" "$url"
  curl_ms=$(( $(now_ms) - start ))
  echo "  curl:   ms=$curl_ms"
  start=$(now_ms)
  aria2c -q -x8 -s8 -k1M --allow-overwrite=true --auto-file-renaming=false \
         -d "$work" -o u256.aria2 "$url"
  aria_ms=$(( $(now_ms) - start ))
  echo "  aria2c: ms=$aria_ms"
  echo "  ours throughput / single WinINet request's = $(ratio "$base_ms" "$ours_ms") (medians)"
  echo "  ours throughput / aria2c's                 = $(ratio "$aria_ms" "$ours_ms")"
  echo "  ours throughput / curl's                   = $(ratio "$curl_ms" "$ours_ms")"
  cmp -s "$work/u256.ours" "$work/u256.curl" && cmp -s "$work/u256.ours" "$work/u256.aria2" &&
    cmp -s "$work/u256.ours" "$work/u256.base" && echo "  files identical" || echo "  FILES DIFFER"
  rm -f "$work/u256.ours" "$work/u256.ours.resume" "$work/u256.curl" "$work/u256.aria2" "$work/u256.base"
}
# Bytes served per byte of a 5 MB file fetched unthrottled from $1 (label
# $2; $3 counts what that server sent for f5.bin): the waste of a small
# download, where a connection cut early would show most.
small_served() {
  local url=$1/f5.bin label=$2 count=$3 before line
  rm -f "$work/f5.ours" "$work/f5.ours.resume"
  before=$($count)
  line=$(run_timed "$bench" "$url" "$work/f5.ours")
  echo "bench: unthrottled 5 MB from $label: $line, bytes served / file size = $(ratio "$(( $($count) - before ))" 5000000)"
  rm -f "$work/f5.ours" "$work/f5.ours.resume"
}
ctl "file?path=/f5.bin&size=5000000"
f5_served() { served /f5.bin; }
small_served "$base" "the test server" f5_served
test_served() { served /u256.bin; }
unthrottled "$base" "the test server" test_served
if [ "$ngx_up" = 1 ]; then
  # nginx sends with sendfile from one process: it is not the limit when
  # eight connections share two cores, as the test server can be.
  curl -s -o "$ngx/www/f5.bin" "$base/f5.bin"
  nginx_f5_served() { ngx_served f5.bin; }
  small_served "http://127.0.0.1:$ngx_port" "nginx" nginx_f5_served
  rm -f "$ngx/www/f5.bin"
  curl -s -o "$ngx/www/u256.bin" "$base/u256.bin"
  nginx_served() { ngx_served u256.bin; }
  unthrottled "http://127.0.0.1:$ngx_port" "nginx" nginx_served
  rm -f "$ngx/www/u256.bin"
fi
kill "$ngx_pid" 2>/dev/null; wait "$ngx_pid" 2>/dev/null

echo "bench: resume, 64 MiB at 256 KiB/s per connection, interrupted at 50 %"
line=$(run_ours "$base/r64.bin?rnd=1" "$work/r64.ours" --resume --cancel-at 50)
echo "  first run:  $line"
missing=$(python3 - "$work/r64.ours.resume" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
n = struct.unpack_from("<I", data, 3120)[0]
print(sum(struct.unpack_from("<II", data, 3124 + 8 * i)[1] - struct.unpack_from("<II", data, 3124 + 8 * i)[0] + 1 for i in range(n)))
PY
)
ctl "reset"
ctl "file?path=/r64.bin&size=$((64 * MiB))"
line=$(run_ours "$base/r64.bin?rnd=2" "$work/r64.ours" --resume --restamp)
again=$(served /r64.bin)
echo "  second run: $line"
echo "  missing per the resume record: $missing bytes; fetched by the second run: $again bytes"
echo "  fetched again beyond what was missing: $((again - missing)) bytes ($(ratio "$((again - missing)) * 100" "$((64 * MiB))") % of the file)"

installer="$build/release-check/dist/ZetoraWebInstaller.exe"
echo "bench: release installer (32-bit, signed) $(stat -c %s "$installer") bytes (stripped, size-optimised; limit 921600)"
