#!/usr/bin/env python3
"""Programmable loopback HTTP/1.1 server for the network tests.

Usage:
  testhttpd.py [--host 127.0.0.1] [--port 0] [--alt-host 127.0.0.2]
               [--file /url/path=LOCAL_FILE ...] [--pattern /url/path=SIZE[:SEED] ...]
               [--allow-mount] [--verbose]

Listens on --host (and, with --alt-host, on a second loopback address with its
own port; both share files, rules and the log) and prints one line
  READY HTTPD_PORT=p HTTPD_URL=http://127.0.0.1:p [HTTPD_ALT_PORT=q HTTPD_ALT_URL=http://127.0.0.2:q]
on standard output once it accepts connections. Threaded, HTTP/1.1 keep-alive,
single byte ranges ("bytes=a-b", "bytes=a-", "bytes=-n").

Control requests (on either address; never logged):
  POST /_ctl/file?path=/a.bin[&size=N&seed=S][&lastmod=EPOCH]
      Serves /a.bin: the request body, or without a body N bytes of the pattern
      byte[i] = (i + 7*(i>>8) + 13*(i>>16) + S) & 0xFF. Last-Modified defaults
      to 1700000000 (Tue, 14 Nov 2023 22:13:20 GMT).
  POST /_ctl/rule?path=/a.bin&ACTION...[&from=N][&count=K]
      Applies to the requests of that path (the query is ignored) whose number
      n (1-based, per path, since the last reset) is >= from (default 1), at
      most count times (default: always). The first matching rule wins.
      Actions, combinable:
        status=NNN      answer NNN with a short text body
        norange=1       ignore Range: answer 200 with the whole file
        lastmod=EPOCH   another Last-Modified; lastmod=none: no Last-Modified
        nodate=1        no Date header
        total=N         claim total N in Content-Range
        nolength=1      no Content-Length; the body ends when the connection closes
        chunked=1       Transfer-Encoding: chunked
        drop=N          close the connection after N body bytes
        short=N         close the connection N bytes before the body's end
        length=N        claim Content-Length N (any size, 4 GiB and more too),
                        send the real body and close
        garbage=1       answer with bytes that are not HTTP (no status line)
                        and close
        delay=MS        wait before the response
        rate=BPS        send the body at BPS bytes per second
        redirect=URL    302 to URL
        setcookie=NAME  answer with "Set-Cookie: NAME=1; Path=/"
        linger=MS       after the whole response, keep the connection MS ms
                        without reading from it, then close it (a kept-alive
                        connection that the server ends just as the client
                        sends its next request on it)
  POST /_ctl/reset        forget files, rules, counters and the log; unmount
                          what /_ctl/mount mounted
  POST /_ctl/close?ms=N   stop listening on the main address for N ms (new
                          connections are refused), then listen again
  POST /_ctl/mount?dir=UNIXDIR&size=SIZE[&remount=1]
      Only with --allow-mount (the server then runs as root): mounts a tmpfs
      of SIZE (as mount's size= option, e.g. 900k) at UNIXDIR, made if
      missing, or changes the size of the one mounted there. Answers 200, or
      500 with mount's message (not root, no mount in this container).
  POST /_ctl/umount?dir=UNIXDIR   unmounts it again
  GET  /_ctl/log[?path=/a.bin]
      One line per request, tab-separated, "-" for a missing header:
        seq listener conn method target range host user-agent status body-bytes
        cookie
      listener is "main" or "alt"; conn numbers the TCP connections.
"""

import argparse
import email.utils
import http.server
import os
import signal
import socket
import socketserver
import subprocess
import sys
import threading
import time
import urllib.parse

DEFAULT_LASTMOD = 1700000000
CHUNK = 65536


def pattern_bytes(size, seed=0):
    rotations = [bytes((j + r) & 0xFF for j in range(256)) for r in range(256)]
    blocks = (size + 255) // 256
    data = b"".join(rotations[(7 * k + 13 * (k >> 8) + seed) & 0xFF] for k in range(blocks))
    return data[:size]


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.generation = 0
        self.reset()
        self.connections = 0

    def reset(self):
        with getattr(self, "lock", threading.Lock()):
            self.files = {}      # path -> (bytes, lastmod epoch)
            self.rules = []      # dicts
            self.counts = {}     # path -> requests seen
            self.log = []        # lines
            self.seq = 0
            # Requests still running from before a reset are not logged after it.
            self.generation += 1

    def next_connection(self):
        with self.lock:
            self.connections += 1
            return self.connections


STATE = State()
MOUNTS = set()  # directories /_ctl/mount mounted


def run_mount(args):
    try:
        done = subprocess.run(args, capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired) as error:
        return str(error)
    return "" if done.returncode == 0 else (done.stderr.strip() or "mount failed")


def unmount_all():
    for directory in list(MOUNTS):
        run_mount(["umount", "-l", directory])
        MOUNTS.discard(directory)


def close_for(server, ms):
    """Stops listening, waits ms and listens again on the same address;
    connections accepted before keep running."""
    server.shutdown()
    server.socket.close()
    time.sleep(ms / 1000.0)
    while True:
        try:
            again = Server(server.server_address, server.listener_name, server.verbose,
                           server.allow_mount)
            break
        except OSError:
            time.sleep(0.1)
    threading.Thread(target=again.serve_forever, daemon=True).start()


def parse_range(header, size):
    """(first, last) for one satisfiable range, "bad" for an unsatisfiable one,
    None when there is no usable single range."""
    if not header:
        return None
    header = header.strip()
    if not header.lower().startswith("bytes="):
        return None
    range_text = header[6:].strip()
    if "," in range_text or "-" not in range_text:
        return None
    first_text, last_text = (p.strip() for p in range_text.split("-", 1))
    try:
        if first_text == "":
            suffix = int(last_text)
            if suffix <= 0:
                return "bad"
            return (max(0, size - suffix), size - 1) if size else "bad"
        first = int(first_text)
        last = int(last_text) if last_text else size - 1
    except ValueError:
        return None
    if first >= size:
        return "bad"
    if last < first:
        return None
    return first, min(last, size - 1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "testhttpd/1.0"

    def setup(self):
        super().setup()
        self.conn_id = STATE.next_connection()

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("testhttpd: " + (fmt % args) + "\n")

    # --- control -------------------------------------------------------
    def control(self, parsed):
        query = dict(urllib.parse.parse_qsl(parsed.query, keep_blank_values=True))
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        what = parsed.path[len("/_ctl/"):]
        if what == "reset":
            STATE.reset()
            unmount_all()
            return self.reply_text(200, "ok\n")
        if what == "close":
            self.reply_text(200, "ok\n")
            self.close_connection = True
            threading.Thread(target=close_for, args=(self.server, int(query.get("ms", "1000"))),
                             daemon=True).start()
            return None
        if what in ("mount", "umount"):
            directory = query.get("dir")
            if not self.server.allow_mount or not directory:
                return self.reply_text(403, "mounting needs --allow-mount and dir\n")
            if what == "umount":
                error = run_mount(["umount", "-l", directory])
                MOUNTS.discard(directory)
            elif query.get("remount"):
                error = run_mount(["mount", "-o", "remount,size=" + query.get("size", ""),
                                   directory])
            else:
                os.makedirs(directory, exist_ok=True)
                error = run_mount(["mount", "-t", "tmpfs", "-o",
                                   "size=" + query.get("size", ""), "tmpfs", directory])
                if not error:
                    MOUNTS.add(directory)
            return self.reply_text(500 if error else 200, (error or "ok") + "\n")
        if what == "file":
            path = query.get("path")
            if not path:
                return self.reply_text(400, "path missing\n")
            if not body:
                body = pattern_bytes(int(query.get("size", "0")), int(query.get("seed", "0")))
            lastmod = int(query.get("lastmod", DEFAULT_LASTMOD))
            with STATE.lock:
                STATE.files[path] = (body, lastmod)
            return self.reply_text(200, "ok %d\n" % len(body))
        if what == "rule":
            path = query.pop("path", None)
            if not path:
                return self.reply_text(400, "path missing\n")
            rule = {"path": path, "from": int(query.pop("from", "1")),
                    "count": int(query.pop("count", "-1")), "used": 0, "actions": query}
            with STATE.lock:
                STATE.rules.append(rule)
            return self.reply_text(200, "ok\n")
        if what == "log":
            only = query.get("path") or None
            with STATE.lock:
                lines = ["\t".join([str(e["seq"])] + e["fields"] + [str(e["sent"]), e["cookie"]])
                         + "\n"
                         for e in STATE.log if only is None or e["path"] == only]
            return self.reply_text(200, "".join(lines))
        return self.reply_text(404, "unknown control\n")

    def reply_text(self, status, text, extra=None, logged=False):
        data = text.encode()
        if logged:
            self.begin_log(status)
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        for name, value in (extra or []):
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)
            if logged:
                self.count_sent(len(data))

    # --- serving -------------------------------------------------------
    def match_rule(self, path):
        with STATE.lock:
            n = STATE.counts.get(path, 0) + 1
            STATE.counts[path] = n
            for rule in STATE.rules:
                if rule["path"] != path or n < rule["from"]:
                    continue
                if rule["count"] >= 0 and rule["used"] >= rule["count"]:
                    continue
                rule["used"] += 1
                return dict(rule["actions"])
        return {}

    def begin_log(self, status):
        """Logs this request before its response goes out, so a client that
        has its answer always finds the line; the body count grows as the
        body is sent."""
        def header(name):
            value = self.headers.get(name)
            return "-" if value is None else " ".join(value.split())
        entry = {"fields": [self.server.listener_name, str(self.conn_id), self.command,
                            self.path.replace("\t", " "), header("Range"), header("Host"),
                            header("User-Agent"), str(status)],
                 "sent": 0, "path": self.log_path, "cookie": header("Cookie")}
        with STATE.lock:
            if self.log_generation == STATE.generation:
                STATE.seq += 1
                entry["seq"] = STATE.seq
                STATE.log.append(entry)
        self.log_entry = entry

    def count_sent(self, n):
        with STATE.lock:
            self.log_entry["sent"] += n

    def do_GET(self):
        parsed = urllib.parse.urlsplit(self.path)
        if parsed.path.startswith("/_ctl/"):
            self.control(parsed)
            return
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)  # keep the connection usable
        with STATE.lock:
            self.log_generation = STATE.generation
        self.log_path = parsed.path
        self.log_entry = None
        self.serve(parsed.path)

    do_POST = do_GET
    do_HEAD = do_GET

    def serve(self, path):
        actions = self.match_rule(path)
        if "delay" in actions:
            time.sleep(int(actions["delay"]) / 1000.0)
        if actions.get("garbage"):
            return self.send_garbage()
        if "redirect" in actions:
            return self.reply_text(302, "moved\n", [("Location", actions["redirect"])], True)
        if "status" in actions:
            status = int(actions["status"])
            return self.reply_text(status, "status %d\n" % status, logged=True)
        with STATE.lock:
            entry = STATE.files.get(path)
        if entry is None:
            return self.reply_text(404, "not found\n", logged=True)
        data, lastmod = entry
        size = len(data)
        rng = None if actions.get("norange") else parse_range(self.headers.get("Range"), size)
        if rng == "bad":
            return self.reply_text(416, "unsatisfiable\n",
                                   [("Content-Range", "bytes */%d" % size)], True)
        status = 200
        body = memoryview(data)
        headers = [("Accept-Ranges", "bytes"), ("Content-Type", "application/octet-stream")]
        if rng is not None:
            first, last = rng
            status = 206
            body = body[first:last + 1]
            total = actions.get("total", str(size))
            headers.append(("Content-Range", "bytes %d-%d/%s" % (first, last, total)))
        if actions.get("setcookie"):
            headers.append(("Set-Cookie", "%s=1; Path=/" % actions["setcookie"]))
        modified = actions.get("lastmod", str(lastmod))
        if modified != "none":
            headers.append(("Last-Modified", email.utils.formatdate(int(modified), usegmt=True)))
        chunked = bool(actions.get("chunked"))
        if chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        elif actions.get("nolength"):
            headers.append(("Connection", "close"))
            self.close_connection = True
        elif "length" in actions:
            headers.append(("Content-Length", actions["length"]))
            headers.append(("Connection", "close"))
            self.close_connection = True
        else:
            headers.append(("Content-Length", str(len(body))))
        self.begin_log(status)
        self.send_response_only(status)
        self.send_header("Server", self.version_string())
        if not actions.get("nodate"):
            self.send_header("Date", self.date_time_string())
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command == "HEAD":
            return
        self.send_body(body, actions, chunked)
        if "linger" in actions:
            self.wfile.flush()
            time.sleep(int(actions["linger"]) / 1000.0)
            self.close_connection = True

    def send_body(self, body, actions, chunked):
        drop = int(actions["drop"]) if "drop" in actions else None
        if "short" in actions:
            drop = max(0, len(body) - int(actions["short"]))
        rate = int(actions["rate"]) if "rate" in actions else 0
        step = CHUNK if rate <= 0 else max(1024, min(CHUNK, rate // 20))
        if drop is not None:
            body = body[:drop]
        sent = 0
        started = time.monotonic()
        try:
            while sent < len(body):
                piece = body[sent:sent + step]
                if chunked:
                    self.wfile.write(b"%x\r\n" % len(piece) + bytes(piece) + b"\r\n")
                else:
                    self.wfile.write(piece)
                sent += len(piece)
                self.count_sent(len(piece))
                if rate > 0:
                    ahead = sent / rate - (time.monotonic() - started)
                    if ahead > 0:
                        time.sleep(ahead)
            if drop is not None:
                self.wfile.flush()
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
                return
            if chunked:
                self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True


    def send_garbage(self):
        """Bytes without a status line, as a misconfigured port or a broken
        middlebox might send, then the end of the connection."""
        self.begin_log(0)
        data = b"\x7fELF\x01\x01 this is not HTTP\r\n" + bytes(range(256)) * 64
        try:
            self.wfile.write(data)
            self.wfile.flush()
            self.count_sent(len(data))
            self.connection.shutdown(socket.SHUT_RDWR)
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, listener_name, verbose, allow_mount=False):
        super().__init__(address, Handler)
        self.listener_name = listener_name
        self.verbose = verbose
        self.allow_mount = allow_mount


def main():
    parser = argparse.ArgumentParser(description="programmable loopback HTTP server")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--alt-host")
    parser.add_argument("--file", action="append", default=[], metavar="/PATH=LOCAL")
    parser.add_argument("--pattern", action="append", default=[], metavar="/PATH=SIZE[:SEED]")
    parser.add_argument("--allow-mount", action="store_true")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    for item in args.file:
        url_path, local = item.split("=", 1)
        with open(local, "rb") as f:
            STATE.files[url_path] = (f.read(), DEFAULT_LASTMOD)
    for item in args.pattern:
        url_path, pattern_text = item.split("=", 1)
        size, _, seed = pattern_text.partition(":")
        STATE.files[url_path] = (pattern_bytes(int(size), int(seed or 0)), DEFAULT_LASTMOD)

    servers = [Server((args.host, args.port), "main", args.verbose, args.allow_mount)]
    if args.alt_host:
        servers.append(Server((args.alt_host, 0), "alt", args.verbose, args.allow_mount))
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    # Ended by the test's runner: nothing mounted stays behind.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    main_port = servers[0].server_address[1]
    ready = ["READY", "HTTPD_PORT=%d" % main_port,
             "HTTPD_URL=http://%s:%d" % (args.host, main_port)]
    if len(servers) > 1:
        alt_port = servers[1].server_address[1]
        ready += ["HTTPD_ALT_PORT=%d" % alt_port,
                  "HTTPD_ALT_URL=http://%s:%d" % (args.alt_host, alt_port)]
    print(" ".join(ready), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        unmount_all()


if __name__ == "__main__":
    main()
