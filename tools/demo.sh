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

# The statistics service receives the reports into its SQLite default; an
# access token lets the demo's browser open the dashboard.
stats="$win_dir/../host/zetora-stats"
stats_db="$out_dir/stats.sqlite"
stats_config="$out_dir/stats.ini"
rm -f "$stats_db" "$stats_db-wal" "$stats_db-shm" "$stats_config"
stats_token=$("$stats" token add demo --config "$stats_config")
"$stats" serve --db "$stats_db" --listen "127.0.0.1:$stat_port" --config "$stats_config" >"$stat_log" 2>&1 &
collector_pid=$!

# The configuration server serves the demo channel's configuration, which the
# build encrypted with zetora-config; it answers after 3 s, so the window
# stays up long enough to be seen.
demo_config="$win_dir/../host/demo/config_demo.xml"
package="$win_dir/demo/signed/demo_package.exe"
python3 "$here/testhttpd.py" --port "$config_port" \
  --file "/oi/config/config_demo.xml=$demo_config" \
  --file "/union/getvxbrowser.php=$package" \
  --file "/oi/config/tnconfig_demo.xml=$here/demo/tnconfig_demo.xml" >"$out_dir/config-server.out" 2>&1 &
server_pid=$!
trap 'kill $server_pid $collector_pid 2>/dev/null' EXIT
for _ in $(seq 1 50); do grep -q READY "$out_dir/config-server.out" 2>/dev/null && break; sleep 0.1; done
curl -s -X POST "http://127.0.0.1:$config_port/_ctl/rule?path=/oi/config/config_demo.xml&delay=3000" >/dev/null
# The package comes slowly enough for its progress to be seen.
curl -s -X POST "http://127.0.0.1:$config_port/_ctl/rule?path=/union/getvxbrowser.php&rate=60000" >/dev/null
echo "demo: the configuration server serves $demo_config as /oi/config/config_demo.xml"
"$win_dir/../host/zetora-config" check "$demo_config" | sed 's/^/  | /'

echo "demo: the package (the demo package, signed by the build's test maker certificate) is served as /union/getvxbrowser.php"
# The test certificate authority is trusted in this build's own Wine prefix only.
"$ZETORA_WINE" "$win_dir/src/sys/zetora_trust_test_ca.exe" "$win_dir/test-pki/ca.der" >/dev/null 2>&1 \
  && echo "demo: the build's test certificate authority is trusted in $WINEPREFIX"
# A fresh install: no package from an earlier demo, no registration.
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Vexlo
"$ZETORA_WINE" reg delete 'HKLM\SOFTWARE\Vexlo\ZetoraBrowser' /f >/dev/null 2>&1
# The package logs to this file (Wine's Z: drive is the root folder).
export ZETORA_DEMO_PACKAGE_LOG="Z:${out_dir//\//\\}\\package.log"
rm -f "$out_dir/package.log"

echo "demo: running $exe -tn demo (display $DISPLAY)"
start=$(date +%s.%N)
LC_ALL=zh_CN.UTF-8 "$ZETORA_WINE" "$exe" -tn demo 2>"$log" &
installer_pid=$!
sleep 2
import -window root "$shot" 2>/dev/null && echo "demo: screenshot of the options window, waiting for the configuration: $shot"
sleep 7
import -window root "$out_dir/window-progress.png" 2>/dev/null \
  && echo "demo: screenshot of the progress window: $out_dir/window-progress.png"
wait $installer_pid
rc=$?
elapsed=$(python3 -c "print('%.1f' % ($(date +%s.%N) - $start))")

echo "demo: diagnostic lines:"
sed 's/^/  | /' "$log"
echo "demo: configuration: $(grep -a 'DownLoadUrlToFile=' "$log" | head -1 | cut -d' ' -f1-2 | tr -d '\r')"
echo "demo: $(grep -a 'InstallDriver end reason' "$log" | tail -1 | tr -d '\r')"
echo "demo: exit code $rc after ${elapsed}s"
echo "demo: what the package recorded (its command line, the progress it sent, its installation):"
sed 's/^/  | /' "$out_dir/package.log" 2>/dev/null | tr -d '\r'
echo "demo: the registration the package wrote:"
"$ZETORA_WINE" reg query 'HKLM\SOFTWARE\Vexlo\ZetoraBrowser' /v installDir 2>/dev/null | tr -d '\r' | grep installDir | sed 's/^ */  | /'
sleep 0.5
stats_summary() {
  curl -s -H "Authorization: Bearer $stats_token" "http://127.0.0.1:$stat_port/api/summary.json" | python3 -c '
import json, sys
s = json.load(sys.stdin)
print("  | runs %d, installed %d; funnel: %s" % (s["runs"], s["installed"],
      ", ".join("%s %d" % (f["step"], f["runs"]) for f in s["funnel"])))
print("  | end results: " + ", ".join("%s %d" % (e["name"], e["runs"]) for e in s["end_results"]))'
}
echo "demo: the statistics service on port $stat_port (database $stats_db) holds:"
stats_summary

# A second run finds the browser that the first one installed, up to date:
# it starts the browser instead of downloading anything (end reason 3).
curl -s -X POST "http://127.0.0.1:$config_port/_ctl/reset" >/dev/null
python3 - "$config_port" "$demo_config" <<'PY'
import sys, urllib.request
body = open(sys.argv[2], "rb").read()
urllib.request.urlopen(urllib.request.Request(
    "http://127.0.0.1:%s/_ctl/file?path=/oi/config/config_demo.xml" % sys.argv[1], data=body)).read()
PY
echo "demo: second run, silent ($exe /S -tn demo):"
LC_ALL=zh_CN.UTF-8 "$ZETORA_WINE" "$exe" /S -tn demo 2>"$out_dir/installer-second.log"
grep -a "Installed product\|ClassifyInstall\|InstallDriver end reason" "$out_dir/installer-second.log" \
  | tr -d '\r' | sed 's/^/  | /'
echo "demo: requests the server had in the second run (configuration only, no package):"
curl -s "http://127.0.0.1:$config_port/_ctl/log" | cut -f4,5,9 | sed 's/^/  | /'

# The operators' dashboard with both runs, as headless Chromium shows it.
echo "demo: the statistics service after the second run:"
stats_summary
echo "demo: dashboard: http://127.0.0.1:$stat_port/ (log in with http://127.0.0.1:$stat_port/login?token=$stats_token)"
if command -v chromium >/dev/null; then
  profile=$(mktemp -d)
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$profile" --window-size=1280,2600 \
    --screenshot="$out_dir/dashboard.png" "http://127.0.0.1:$stat_port/login?token=$stats_token" >/dev/null 2>&1
  rm -rf "$profile"
  [ -s "$out_dir/dashboard.png" ] && echo "demo: screenshot of the dashboard: $out_dir/dashboard.png"
fi

# Every screen state, from the screens' own test program: the real UI
# thread and skin driven by the driver's and the package's messages.
screens_test="$win_dir/src/screens/tests_win/screens_win_test.exe"
if [ -f "$screens_test" ]; then
  (cd "$(dirname "$screens_test")" && rm -f screen_*.bmp &&
   LC_ALL=zh_CN.UTF-8 "$ZETORA_WINE" "$screens_test" \
     --gtest_filter='ScreensTest.Mode*:ScreensTest.Cancel*:ScreensTest.EndNotices*:ScreensTest.Quick*:ScreensTest.Keyboard*' \
     >"$out_dir/screens_test.log" 2>&1)
  echo "demo: the screens (saved by the screens' test program, $(grep -c '^\[       OK' "$out_dir/screens_test.log") states passed their checks):"
  for bmp in "$(dirname "$screens_test")"/screen_*.bmp; do
    [ -f "$bmp" ] || continue
    png="$out_dir/$(basename "${bmp%.bmp}").png"
    convert "$bmp" "$png" 2>/dev/null && echo "  | $png"
  done
fi

# The skin viewer shows the installer's main dialog from the same skin
# package; its drawing is saved beside the run's screenshot.
viewer="$win_dir/skin_viewer.exe"
if [ -f "$viewer" ]; then
  LC_ALL=zh_CN.UTF-8 "$ZETORA_WINE" "$viewer" --shot "Z:${out_dir//\//\\}\\skin_main.bmp" --exit-after 2500 \
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
  # The same dialog at 200 %, in a copy of the prefix with LogPixels 192.
  if bash "$here/../cmake/wine-dpi-shot.sh" 192 "$viewer" "$out_dir/skin_main_200.bmp" \
       >"$out_dir/skin_viewer_200.log" 2>&1 &&
     convert "$out_dir/skin_main_200.bmp" "$out_dir/skin_main_200.png" 2>/dev/null; then
    echo "demo: the main dialog at 200 %: $out_dir/skin_main_200.png"
  fi
fi

# The release build as an operator makes it (make release), here with the
# example settings of the tests: 32-bit, no test seams, signed, listed.
release_dist="$(dirname "$win_dir")/release-check/dist"
if [ -f "$release_dist/SHA256SUMS" ]; then
  echo "demo: the release installer ($release_dist), as make release writes it:"
  for exe in "$release_dist"/*.exe; do
    echo "  | $(basename "$exe"): $(stat -c %s "$exe") bytes, $(osslsigncode verify -in "$exe" \
      -CAfile "$(dirname "$release_dist")/pki/ca.pem" 2>/dev/null | grep -m1 -o 'Signature verification: ok' || echo 'not signed')"
  done
  sed 's/^/  | /' "$release_dist/SHA256SUMS"
fi
