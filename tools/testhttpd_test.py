"""Checks the test server itself: ranges, rules, the log and keep-alive."""

import http.client
import os
import socket
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import testhttpd  # noqa: E402


class TestServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "testhttpd.py"),
                                     "--alt-host", "127.0.0.2"],
                                    stdout=subprocess.PIPE, text=True)
        line = cls.proc.stdout.readline().split()
        assert line[0] == "READY", line
        cls.env = dict(pair.split("=", 1) for pair in line[1:])
        cls.port = int(cls.env["HTTPD_PORT"])

    @classmethod
    def tearDownClass(cls):
        cls.proc.terminate()
        cls.proc.wait()

    def setUp(self):
        self.conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        self.ctl("POST", "/_ctl/reset")
        self.data = testhttpd.pattern_bytes(100000, 5)
        self.ctl("POST", "/_ctl/file?path=/f.bin&size=100000&seed=5")

    def tearDown(self):
        self.conn.close()

    def ctl(self, method, target, body=None):
        self.conn.request(method, target, body=body)
        response = self.conn.getresponse()
        data = response.read()
        self.assertEqual(response.status, 200, data)
        return data.decode()

    def get(self, target, headers=None):
        self.conn.request("GET", target, headers=headers or {})
        response = self.conn.getresponse()
        return response, response.read()

    def test_pattern_formula(self):
        i = 70000
        self.assertEqual(self.data[i], (i + 7 * (i >> 8) + 13 * (i >> 16) + 5) & 0xFF)

    def test_ranges(self):
        response, body = self.get("/f.bin")
        self.assertEqual((response.status, body), (200, self.data))
        self.assertEqual(response.getheader("Last-Modified"), "Tue, 14 Nov 2023 22:13:20 GMT")
        response, body = self.get("/f.bin", {"Range": "bytes=10-19"})
        self.assertEqual(response.status, 206)
        self.assertEqual(response.getheader("Content-Range"), "bytes 10-19/100000")
        self.assertEqual(body, self.data[10:20])
        response, body = self.get("/f.bin", {"Range": "bytes=99990-"})
        self.assertEqual(body, self.data[99990:])
        response, body = self.get("/f.bin", {"Range": "bytes=-5"})
        self.assertEqual(body, self.data[-5:])
        response, body = self.get("/f.bin", {"Range": "bytes=99999-200000"})
        self.assertEqual(response.getheader("Content-Range"), "bytes 99999-99999/100000")
        response, _ = self.get("/f.bin", {"Range": "bytes=100000-"})
        self.assertEqual(response.status, 416)

    def test_rules_apply_by_request_number(self):
        self.ctl("POST", "/_ctl/rule?path=/f.bin&status=503&count=1")
        self.ctl("POST", "/_ctl/rule?path=/f.bin&norange=1&lastmod=none&from=3")
        self.assertEqual(self.get("/f.bin")[0].status, 503)
        self.assertEqual(self.get("/f.bin", {"Range": "bytes=0-9"})[0].status, 206)
        response, body = self.get("/f.bin?x=1", {"Range": "bytes=0-9"})
        self.assertEqual((response.status, len(body)), (200, 100000))
        self.assertIsNone(response.getheader("Last-Modified"))

    def test_chunked_and_total(self):
        self.ctl("POST", "/_ctl/rule?path=/f.bin&chunked=1&total=5")
        response, body = self.get("/f.bin", {"Range": "bytes=0-99"})
        self.assertEqual(response.getheader("Content-Range"), "bytes 0-99/5")
        self.assertEqual(body, self.data[:100])

    def test_drop_closes_early(self):
        self.ctl("POST", "/_ctl/rule?path=/f.bin&drop=1000")
        self.conn.request("GET", "/f.bin")
        response = self.conn.getresponse()
        with self.assertRaises(http.client.IncompleteRead):
            response.read()

    def test_short_length_and_garbage(self):
        self.ctl("POST", "/_ctl/rule?path=/f.bin&short=1&count=1")
        self.conn.request("GET", "/f.bin", headers={"Range": "bytes=10-19"})
        response = self.conn.getresponse()
        with self.assertRaises(http.client.IncompleteRead) as cut:
            response.read()
        self.assertEqual(cut.exception.partial, self.data[10:19])  # one byte short
        self.conn.close()
        self.ctl("POST", "/_ctl/rule?path=/f.bin&length=5000000000&count=1")
        self.conn.request("GET", "/f.bin")
        response = self.conn.getresponse()
        self.assertEqual(response.getheader("Content-Length"), "5000000000")
        self.conn.close()
        self.ctl("POST", "/_ctl/rule?path=/f.bin&garbage=1&count=1")
        raw = socket.create_connection(("127.0.0.1", self.port), timeout=10)
        raw.sendall(b"GET /f.bin HTTP/1.1\r\nHost: x\r\n\r\n")
        reply = b""
        while True:
            piece = raw.recv(65536)
            if not piece:
                break
            reply += piece
        raw.close()
        self.assertFalse(reply.startswith(b"HTTP/"))
        self.assertGreater(len(reply), 1000)

    def test_log_and_keep_alive(self):
        self.get("/f.bin", {"Range": "bytes=0-0", "User-Agent": "probe"})
        self.get("/missing")
        lines = [l.split("\t") for l in self.ctl("GET", "/_ctl/log").splitlines()]
        self.assertEqual(len(lines), 2, lines)
        self.assertEqual(lines[0][3:10], ["GET", "/f.bin", "bytes=0-0", "127.0.0.1:%d" % self.port,
                                          "probe", "206", "1"])
        self.assertEqual(lines[1][8], "404")
        self.assertEqual(lines[0][2], lines[1][2])  # one connection for both
        only = self.ctl("GET", "/_ctl/log?path=/missing").splitlines()
        self.assertEqual(len(only), 1)

    def test_alt_listener_shares_files(self):
        alt = http.client.HTTPConnection("127.0.0.2", int(self.env["HTTPD_ALT_PORT"]), timeout=10)
        alt.request("GET", "/f.bin", headers={"Range": "bytes=5-6"})
        self.assertEqual(alt.getresponse().read(), self.data[5:7])
        alt.close()
        line = self.ctl("GET", "/_ctl/log").split("\t")
        self.assertEqual(line[1], "alt")

    def test_close_refuses_connections_for_a_while(self):
        self.ctl("POST", "/_ctl/close?ms=1500")
        time.sleep(0.7)  # the listener stops within one poll interval
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", self.port), timeout=2).close()
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=2).close()
                break
            except ConnectionRefusedError:
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.1)
        self.conn.close()
        response, body = self.get("/f.bin")
        self.assertEqual((response.status, body), (200, self.data))

    def test_mount_needs_the_option(self):
        self.conn.request("POST", "/_ctl/mount?dir=/tmp/x&size=64k")
        self.assertEqual(self.conn.getresponse().status, 403)


if __name__ == "__main__":
    unittest.main()
