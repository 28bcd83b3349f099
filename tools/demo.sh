#!/usr/bin/env bash
# Runs the installer as a user would (Chinese locale: ANSI code page 936),
# under Wine (inside cmake/wine-session.sh),
# against loopback servers, then prints its diagnostic lines, a screenshot of
# its window and how the run ended.
#   tools/demo.sh <win32 build dir>
set -u
win_dir=$(cd "$1" && pwd)
exe="$win_dir/ZetoraWebInstaller.exe"
out_dir="$win_dir/demo"
mkdir -p "$out_dir"
log="$out_dir/installer.log"
shot="$out_dir/window.png"
config_port=$(sed -n 's/^ZETORA_CONFIG_PORT:STRING=//p' "$win_dir/CMakeCache.txt")
stat_port=$(sed -n 's/^ZETORA_STAT_PORT:STRING=//p' "$win_dir/CMakeCache.txt")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
stat_log="$out_dir/statistics.log"

# The statistics collector prints every report it receives.
python3 "$here/stat_collector.py" --port "$stat_port" --print --bind-retry 10 >"$stat_log" 2>&1 &
collector_pid=$!

# The configuration server answers slowly (and with 404), so the window stays
# up long enough to be seen and the run then goes on with the built-in item.
python3 - "$config_port" <<'PY' &
import http.server, sys, time
class Slow(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        time.sleep(3)
        self.send_error(404)
    def log_message(self, fmt, *args):
        sys.stderr.write("demo config server: %s %s\n" % (self.command, self.path))
http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Slow).serve_forever()
PY
server_pid=$!
trap 'kill $server_pid $collector_pid 2>/dev/null' EXIT
sleep 0.5

echo "demo: running $exe -tn demo (display $DISPLAY)"
start=$(date +%s.%N)
LC_ALL=zh_CN.UTF-8 wine "$exe" -tn demo 2>"$log" &
installer_pid=$!
sleep 2
import -window root "$shot" 2>/dev/null && echo "demo: screenshot of the window: $shot"
wait $installer_pid
rc=$?
elapsed=$(python3 -c "print('%.1f' % ($(date +%s.%N) - $start))")

echo "demo: diagnostic lines:"
sed 's/^/  | /' "$log"
echo "demo: $(grep -a 'InstallDriver end reason' "$log" | tail -1 | tr -d '\r')"
echo "demo: exit code $rc after ${elapsed}s"
sleep 0.5
echo "demo: the statistics collector on port $stat_port received:"
sed 's/^/  | /' "$stat_log"

# The skin viewer shows the installer's main dialog from the same skin
# package; its drawing is saved beside the run's screenshot.
viewer="$win_dir/skin_viewer.exe"
if [ -f "$viewer" ]; then
  LC_ALL=zh_CN.UTF-8 wine "$viewer" --shot "$(winepath -w "$out_dir/skin_main.bmp" 2>/dev/null)" --exit-after 2500 \
    2>"$out_dir/skin_viewer.log" &
  viewer_pid=$!
  sleep 1.5
  import -window root "$out_dir/skin_screen.png" 2>/dev/null
  wait $viewer_pid
  if convert "$out_dir/skin_main.bmp" "$out_dir/skin_main.png" 2>/dev/null; then
    echo "demo: the skin's main dialog: $out_dir/skin_main.png (screen: $out_dir/skin_screen.png)"
  else
    echo "demo: the skin viewer saved no screenshot (see $out_dir/skin_viewer.log)"
  fi
fi
