#!/usr/bin/env python3
"""A service killed with SIGKILL during a burst of ingest loses no report that
it answered with 200: every acknowledged record is in the database afterwards,
and the database is intact."""
import os
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stats_client  # noqa: E402

CLIENTS = 12
KILL_AFTER_ACKS = 1500


def main():
    service = sys.argv[1]
    work = tempfile.mkdtemp(prefix="zstats-kill-")
    db = os.path.join(work, "stats.sqlite")
    config = os.path.join(work, "stats.ini")
    with open(config, "w") as f:
        f.write("[limits]\nreports_per_second = 0\n")
    proc = subprocess.Popen([service, "serve", "--db", db, "--listen", "127.0.0.1:0", "--config", config,
                             "--print-ready"], stdout=subprocess.PIPE, text=True)
    ready = proc.stdout.readline()
    assert ready.startswith("READY STATS_PORT="), ready
    port = int(ready.split("=")[1])

    acked = []
    lock = threading.Lock()
    stop = threading.Event()

    def client(n):
        i = 0
        while not stop.is_set():
            sid = "KILL-%02d-%06d" % (n, i)
            status = stats_client.post(port, stats_client.body(sid, "src=Start t_diff=0 "), timeout=5)
            if status == 200:
                with lock:
                    acked.append(sid)
            elif status is None and proc.poll() is not None:
                return
            i += 1

    threads = [threading.Thread(target=client, args=(n,)) for n in range(CLIENTS)]
    for t in threads:
        t.start()
    deadline = time.time() + 60
    while len(acked) < KILL_AFTER_ACKS and time.time() < deadline:
        time.sleep(0.01)
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    stop.set()
    for t in threads:
        t.join()
    print("kill_test: %d reports answered 200 before SIGKILL" % len(acked))
    assert len(acked) >= KILL_AFTER_ACKS, "the burst was too slow"

    conn = sqlite3.connect(db)
    assert conn.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
    stored = {row[0] for row in conn.execute("SELECT sid FROM records WHERE src = 'Start'")}
    runs = {row[0] for row in conn.execute("SELECT sid FROM runs")}
    conn.close()
    lost = [s for s in acked if s not in stored or s not in runs]
    print("kill_test: %d stored, %d acknowledged ones lost" % (len(stored), len(lost)))
    if lost:
        print("kill_test: lost, for example: %s" % lost[:5])
        return 1
    # The service starts again on the database it left.
    again = subprocess.Popen([service, "serve", "--db", db, "--listen", "127.0.0.1:0", "--config", config,
                              "--print-ready"], stdout=subprocess.PIPE, text=True)
    ready = again.stdout.readline()
    port = int(ready.split("=")[1])
    status = stats_client.post(port, stats_client.body("KILL-AFTER", "src=Start t_diff=0 "))
    again.terminate()
    again.wait()
    assert status == 200, status
    print("kill_test: the restarted service stores reports")
    return 0


if __name__ == "__main__":
    sys.exit(main())
