#!/usr/bin/env python3
"""A loopback statistics collector for tests and the demo.

It answers POST /stat_report.fcgi like the statistics server: it reads the
multipart form (with the standard email package's parser), records what it
received and answers with a status of the caller's choosing, or accepts the
request and never answers.

Once it listens it prints one line on standard output:
    READY STAT_PORT=<port> [STAT_CLOSED_PORT=<port>]
STAT_CLOSED_PORT (with --closed-port) is a port held bound but not listening,
so connections to it are refused.

Control requests (for tests):
    GET /_log                   every received report as JSON
    GET /_control?status=500    answer later reports with 500 (or 200, 404, ...)
    GET /_control?status=hang   accept later reports and never answer
    GET /_control?status=close  close later report connections at once,
                                unread and unrecorded, like a server that is down
    GET /_control?reset=1       forget the reports received so far
                                (status and reset may be combined)

Usage:
    stat_collector.py [--port 0] [--status 200|hang] [--print] [--bind-retry S]
    stat_collector.py --port 18081 --print     # the demo: a fixed port, each
                                               # report printed legibly
"""

import argparse
import email.parser
import email.policy
import errno
import http.server
import json
import re
import socket
import sys
import threading
import time
import urllib.parse

REPORT_PATH = "/stat_report.fcgi"
HEADER_RE = re.compile(rb"^(Op=.*? Osvi=\d+) (.*)\r\n$", re.DOTALL)


def parse_form(content_type, body):
    """Parses a multipart/form-data body; returns (parts, defects)."""
    prefix = b"Content-Type: " + content_type.encode("latin-1") + b"\r\nMIME-Version: 1.0\r\n\r\n"
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(prefix + body)
    defects = [type(d).__name__ for d in message.defects]
    parts = []
    if not message.is_multipart():
        defects.append("NotMultipart")
        return parts, defects
    for part in message.iter_parts():
        payload = part.get_payload(decode=True) or b""
        parts.append({
            "name": part.get_param("name", header="content-disposition"),
            "filename": part.get_filename(),
            "content_type": part.get("Content-Type"),
            "hex": payload.hex(),
            "text": payload.decode("utf-8", "replace"),
        })
        defects.extend(type(d).__name__ for d in part.defects)
    return parts, defects


def split_body(body):
    """Splits a report body into its header line and its record line."""
    match = HEADER_RE.match(body)
    if not match:
        return None, body.decode("utf-8", "replace")
    return match.group(1).decode("utf-8", "replace"), match.group(2).decode("utf-8", "replace")


class Collector:
    def __init__(self, status, echo):
        self.lock = threading.Lock()
        self.reports = []
        self.status = status
        self.echo = echo

    def record(self, report):
        with self.lock:
            report["seq"] = len(self.reports) + 1
            self.reports.append(report)
        if self.echo:
            print_report(report)

    def snapshot(self):
        with self.lock:
            return list(self.reports)


def print_report(report):
    fields = report["fields"]
    size = fields.get("raw_file_size", "?")
    matches = "matches" if size == str(report["body_length"]) else "DIFFERS from %d" % report["body_length"]
    lines = ["#%d %s %s  answered %s  type=%s  raw_file_size=%s (%s)" % (
        report["seq"], report["method"], report["path"], report["answer"],
        fields.get("statistics_type", "?"), size, matches)]
    if report["header"] is not None:
        lines.append("    header  " + report["header"])
    pairs = [p for p in report["line"].split(" ") if p]
    # One-shot records carry "src"; the accumulated map of traces does not.
    label = "record" if any(p.startswith("src=") for p in pairs) else "traces"
    for i, pair in enumerate(pairs):
        lines.append("    %s  %s" % (label if i == 0 else " " * len(label), pair))
    if report["defects"]:
        lines.append("    parser defects: " + ", ".join(report["defects"]))
    print("\n".join(lines), flush=True)


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "StatCollector/1"

    def log_message(self, fmt, *args):
        pass

    def reply(self, status, body=b"", content_type="text/plain"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        collector = self.server.collector
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/_log":
            data = json.dumps({"reports": collector.snapshot()}).encode("utf-8")
            self.reply(200, data, "application/json")
        elif url.path == "/_control":
            query = urllib.parse.parse_qs(url.query)
            with collector.lock:
                if "reset" in query:
                    collector.reports = []
                if "status" in query:
                    collector.status = query["status"][0]
            self.reply(200, b"ok")
        else:
            self.reply(404)

    def do_POST(self):
        collector = self.server.collector
        with collector.lock:
            down = collector.status == "close"
        if down:
            # Like a server that is down: nothing is read, recorded or answered.
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        length = int(self.headers.get("Content-Length", "0"))
        raw = self.rfile.read(length) if length > 0 else b""
        if self.path != REPORT_PATH:
            self.reply(404)
            return
        with collector.lock:
            answer = collector.status
        parts, defects = parse_form(self.headers.get("Content-Type", ""), raw)
        fields = {p["name"]: p["text"] for p in parts if p["name"]}
        userfile = next((p for p in parts if p["name"] == "userfile"), None)
        body = bytes.fromhex(userfile["hex"]) if userfile else b""
        header, line = split_body(body)
        report = {
            "method": self.command,
            "path": self.path,
            "request_version": self.request_version,
            "headers": [[k, v] for k, v in self.headers.items()],
            "content_length": length,
            "raw_hex": raw.hex(),
            "part_names": [p["name"] for p in parts],
            "fields": fields,
            "fields_hex": {p["name"]: p["hex"] for p in parts if p["name"]},
            "filenames": {p["name"]: p["filename"] for p in parts if p["filename"]},
            "content_types": {p["name"]: p["content_type"] for p in parts if p["content_type"]},
            "defects": defects,
            "body_hex": body.hex(),
            "body_length": len(body),
            "header": header,
            "line": line,
            "answer": answer,
            "time": time.time(),
        }
        collector.record(report)
        sys.stderr.write("stat_collector: #%d %s answered %s\n" % (report["seq"], line[:80], answer))
        if answer == "hang":
            # Keep the connection open without a word until the client gives up.
            self.close_connection = True
            try:
                while self.rfile.read(1):
                    pass
            except OSError:
                pass
            return
        self.reply(int(answer), b"ok")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def bind(host, port, retry_seconds):
    deadline = time.monotonic() + retry_seconds
    while True:
        try:
            return Server((host, port), Handler)
        except OSError as error:
            if error.errno != errno.EADDRINUSE or time.monotonic() >= deadline:
                raise
            time.sleep(0.5)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0: an ephemeral port (the default)")
    parser.add_argument("--status", default="200", help="HTTP status of the answers, or 'hang'")
    parser.add_argument("--print", dest="echo", action="store_true",
                        help="print each received report legibly on standard output")
    parser.add_argument("--bind-retry", type=float, default=0.0,
                        help="seconds to keep trying while the port is in use")
    parser.add_argument("--closed-port", action="store_true",
                        help="also hold a bound, non-listening port (STAT_CLOSED_PORT)")
    args = parser.parse_args()

    server = bind(args.host, args.port, args.bind_retry)
    server.collector = Collector(args.status, args.echo)
    ready = "READY STAT_PORT=%d" % server.server_address[1]
    closed = None
    if args.closed_port:
        closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        closed.bind((args.host, 0))
        ready += " STAT_CLOSED_PORT=%d" % closed.getsockname()[1]
    print(ready, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
