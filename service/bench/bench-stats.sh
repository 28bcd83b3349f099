#!/usr/bin/env bash
# make bench-stats: ingest throughput and latency of zetora-stats into SQLite
# and into PostgreSQL side by side, then the page's response time with many
# runs stored. Not part of make test. RUNS=0 leaves out the ingest part,
# PAGE_RUNS=0 the page part.
#   bench-stats.sh <release host build dir>   (env: RUNS, CLIENTS, PAGE_RUNS,
#                                              SOAK_SECONDS, SOAK_RATE)
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
runs=${RUNS:-6000}
page_runs=${PAGE_RUNS:-1000000}
work=$(mktemp -d /tmp/zstats-bench.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
service="$build/zetora-stats"
loadgen="$build/zstats_loadgen"
config="$work/stats.ini"
printf '[limits]\nreports_per_second = 0\n' >"$config"
token=$("$service" token add bench --config "$config")

serve() {  # serve DB NAME: starts the service, sets $port (not in a subshell, so $pids keeps it)
  "$service" serve --db "$1" --listen 127.0.0.1:0 --config "$config" --print-ready >"$work/ready.$2" 2>>"$work/service.log" &
  pids+=($!)
  for _ in $(seq 1 100); do grep -q READY "$work/ready.$2" 2>/dev/null && break; sleep 0.05; done
  port=$(sed -n 's/^READY STATS_PORT=//p' "$work/ready.$2")
}

# SOAK_SECONDS=S: only a soak, new runs at SOAK_RATE reports/s into SQLite
# for S seconds, with the service's resident memory every 30 s.
soak=${SOAK_SECONDS:-0}
if [ "$soak" -gt 0 ]; then
  rate=${SOAK_RATE:-1000}
  echo "bench-stats: soak, $soak s of new runs at $rate reports/s into SQLite, the service's RSS every 30 s"
  serve "$work/soak.sqlite" soak
  service_pid=${pids[-1]}
  "$loadgen" --port "$port" --clients 8 --seconds "$soak" --rate "$rate" --tag SOAK >"$work/soak.out" &
  loadgen_pid=$!
  for ((t = 0; t <= soak; t += 30)); do
    echo "  ${t} s: $(awk '/^VmRSS/ {print $2 " " $3}' "/proc/$service_pid/status")"
    [ "$t" -lt "$soak" ] && sleep $((soak - t < 30 ? soak - t : 30))
  done
  wait "$loadgen_pid"
  sed 's/^RESULT /  /' "$work/soak.out"
  echo "  database: $(du -h "$work/soak.sqlite" | cut -f1)"
  echo "goal: memory flat over a 10-minute soak"
  exit 0
fi

if [ "$runs" -gt 0 ]; then
  bash "$here/../tests/pg_cluster.sh" >"$work/pg.out" 2>"$work/pg.err" &
  pids+=($!)
  for _ in $(seq 1 200); do grep -q READY "$work/pg.out" && break; sleep 0.1; done
  pg=$(sed -n 's/^READY ZSTATS_PG=//p' "$work/pg.out")

  # Connections the kernel dropped because the listen queue was full
  # (machine-wide, from nstat; "-" without it).
  overflows() { nstat -asz TcpExtListenOverflows 2>/dev/null | awk '$1 == "TcpExtListenOverflows" {print $2}'; }
  echo "bench-stats: $runs synthetic runs (4-5 reports each, 1 in 50 malformed), one connection per report"
  printf '%-12s %8s %12s %9s %9s %8s\n' "store" "clients" "reports/s" "p50 ms" "p99 ms" "dropped"
  n=0
  # With 8 and 32 clients, each posts its next report once the last is
  # answered, so the rate follows the latency. "64@R" is installers that
  # post on their own schedule: R reports/s offered from 64 clients for
  # SUSTAIN_SECONDS (10), latency counted from when each report was due.
  sustain=${SUSTAIN_SECONDS:-10}
  for backend in sqlite postgresql; do
    if [ "$backend" = sqlite ]; then db="$work/bench.sqlite"; offered=${SQLITE_RATE:-5000}; else db=$pg; offered=${PG_RATE:-3000}; fi
    [ -n "$db" ] || { echo "postgresql: server binaries missing, skipped"; continue; }
    for clients in ${CLIENTS:-8 32} "64@$offered"; do
      n=$((n + 1))
      serve "$db" "$n"
      before=$(overflows)
      if [ "${clients#64@}" != "$clients" ]; then
        line=$("$loadgen" --port "$port" --clients 64 --seconds "$sustain" --rate "$offered" --malformed-every 50 --tag "$(printf '%04d' $n)")
      else
        line=$("$loadgen" --port "$port" --runs "$runs" --clients "$clients" --malformed-every 50 --tag "$(printf '%04d' $n)")
      fi
      after=$(overflows)
      dropped=$([ -n "$before" ] && [ -n "$after" ] && echo $((after - before)) || echo -)
      kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null
      get() { echo "$line" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
      printf '%-12s %8s %12s %9s %9s %8s   (%s stored, %s refused as malformed)\n' "$backend" "$clients" "$(get per_second)" \
        "$(get p50_ms)" "$(get p99_ms)" "$dropped" "$(get stored)" "$(get rejected)"
    done
  done
  echo "(clients 64@R: R reports/s offered; the service keeps up when it stores them at that rate)"
  echo "goals: >= 5000 reports/s into SQLite, >= 3000/s into PostgreSQL, p99 < 50 ms below saturation"
fi
[ "$page_runs" -gt 0 ] || exit 0

echo "bench-stats: the page with $page_runs runs stored (SQLite; bodies imported with zetora-stats import)"
"$loadgen" --write-bodies "$work/bodies.txt" --runs "$page_runs" --final-only 1 --tag PAGE
start=$(date +%s.%N)
"$service" import "$work/bodies.txt" --db "$work/page.sqlite" 2>"$work/import.log" || { tail -3 "$work/import.log"; exit 1; }
echo "  import: $(tail -1 "$work/import.log" | sed 's/^zetora-stats: //') in $(python3 -c "print('%.1f' % ($(date +%s.%N) - $start))") s"
rm -f "$work/bodies.txt"
serve "$work/page.sqlite" page
median_ms() {  # median_ms PATH: the median of 5 requests
  for i in 1 2 3 4 5; do
    curl -s -o /dev/null -w '%{time_total}\n' -H "Authorization: Bearer $token" "http://127.0.0.1:$port$1"
  done | sort -n | sed -n 3p | awk '{printf "%.0f", $1 * 1000}'
}
echo "  summary (the page's aggregates, /api/summary.json), median of 5: $(median_ms /api/summary.json) ms"
echo "  the page (GET /: the aggregates and the channel list), median of 5: $(median_ms /) ms"
echo "goal: the page under 500 ms at 1,000,000 runs"
