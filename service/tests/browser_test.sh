#!/usr/bin/env bash
# The dashboard in headless Chromium: without a login the page answers 401;
# after a login the funnel and the charts are there, and a channel named
# with HTML is shown as text, not run. Saves a screenshot of the page.
#   browser_test.sh <zetora-stats> <output folder>
set -u
service=$1
out=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$chromium" ]; then echo "browser_test: chromium not installed" >&2; exit 1; fi
rm -rf "$out" && mkdir -p "$out"
work=$(mktemp -d /tmp/zstats-browser.XXXXXX)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "browser_test: FAIL: $*" >&2; exit 1; }

config="$work/stats.ini"
token=$("$service" token add browser-test --config "$config") || fail "token add"
echo 'long enough password' | "$service" user add alice --config "$config" 2>/dev/null || fail "user add"
"$service" serve --db "$work/stats.sqlite" --listen 127.0.0.1:0 --config "$config" --print-ready \
  >"$work/ready" 2>"$out/service.log" &
pid=$!
for _ in $(seq 1 100); do grep -q READY "$work/ready" 2>/dev/null && break; sleep 0.05; done
port=$(sed -n 's/^READY STATS_PORT=//p' "$work/ready")
[ -n "$port" ] || fail "the service did not start"

# One installed run and one whose channel is an attack on the page.
HERE=$here python3 - "$port" <<'PY' || fail "posting reports"
import os, sys
sys.path.insert(0, os.environ["HERE"])
import stats_client as c
port = int(sys.argv[1])
xss = "<script>document.title='pwned'</script><img/src=x/id=zsxss/onerror=document.title='pwned'>"
traces = ("csgn=csad/csb1/ecfh1/wvt/success dstp=0:ds0:0,0;0:sts;4:cofm0:31457280;4:dse0:0,4000;;cks1 "
          "p_trc=2:10/3:120/4:121/5:122/8:130/9:131/10:140/11:150/12:151/13:4200/8:4300/9:4301/16:4310/17:9000/19:9100/999:9200 ")
for sid, channel in (("BROWSER-RUN-1", "demo"), ("BROWSER-RUN-2", xss)):
    for line in ("src=Start t_diff=0 ", traces,
                 "src=End t_diff=9200 Stat=999 Result=1 ExtReason=0 t_dlc=110 t_dlsxml=10 t_dls=4049 t_ins=4690 Cfgver=1.0 Stpver=2.0 "):
        assert c.post(port, c.body(sid, line, channel)) == 200
PY

status=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/")
[ "$status" = 401 ] || fail "the page without a login answered $status, not 401"
status=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/api/summary.json")
[ "$status" = 401 ] || fail "the API without a login answered $status, not 401"

flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking
       --disable-component-update --disable-sync --window-size=1280,2600)
# The login with the access token sets the session cookie and redirects to
# the page, which Chromium then shows with that cookie.
url="http://127.0.0.1:$port/login?token=$token"
timeout 60 "$chromium" "${flags[@]}" --user-data-dir="$work/profile-dom" --dump-dom "$url" \
  >"$out/dom.html" 2>"$out/chromium.log" || fail "chromium --dump-dom failed (see $out/chromium.log)"
grep -q 'id="chart-funnel"' "$out/dom.html" || fail "no funnel chart in the page (see $out/dom.html)"
for chart in chart-channels chart-os chart-days chart-speed end-reasons failure-traces; do
  grep -q "id=\"$chart\"" "$out/dom.html" || fail "no $chart in the page"
done
grep -q '<b id="runs">2</b>' "$out/dom.html" || fail "the page does not count the two runs"
# The channel name is text: its markup was not parsed into elements, and the
# script in it did not run.
grep -q 'id="zsxss"' "$out/dom.html" && fail "the channel name's markup became an element"
grep -q '<title>Installer statistics</title>' "$out/dom.html" || fail "the title changed: a script ran"
grep -q '&lt;script&gt;document.title' "$out/dom.html" || fail "the channel name is not shown as text"

timeout 60 "$chromium" "${flags[@]}" --user-data-dir="$work/profile-shot" --screenshot="$out/dashboard.png" "$url" \
  >>"$out/chromium.log" 2>&1 || fail "chromium --screenshot failed"
[ -s "$out/dashboard.png" ] || fail "no screenshot"
echo "browser_test: page checked; screenshot $out/dashboard.png"
