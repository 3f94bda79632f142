"""Checks of the lookup and p2s double itself over loopback: what it records,
how it answers lookups (known ids, ids learnt from statistics, unknown fids),
the broken answers it can give, and its p2s replies."""
import os
import socket
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "lib"))
sys.path.insert(0, HERE)
import lookup_p2s_double as d  # noqa: E402
import p2s_wire as w  # noqa: E402

FID = "00112233445566778899AABBCCDDEEFF"
QID, CID = "A" * 40, "C" * 40


def exchange(port, request, read_for=1.0):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(request)
        data, deadline = b"", time.time() + read_for
        try:
            while time.time() < deadline:
                s.settimeout(max(0.01, deadline - time.time()))
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        except socket.timeout:
            pass
        return data


def lookup_request(fid=FID):
    return b"GET /summary_query?key=fid&fid=%s HTTP/1.1\r\nContent-Length: 0\r\nConnection: Keep-Alive\r\n\r\n" % fid.encode()


class Double(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.tally = os.path.join(self.tmp, "tally.txt")
        self.d = d.LookupP2sDouble(tally_path=self.tally).start()

    def tearDown(self):
        self.d.stop()

    def test_lookup_answers(self):
        self.assertTrue(exchange(self.d.port, lookup_request()).startswith(b"HTTP/1.1 404 Not Found\r\n"))
        self.d.known[FID] = (QID, CID, 7)
        body = ("fid=%s|qid=%s|cid=%s|size=7|\r\n" % (FID, QID, CID)).encode()
        self.assertEqual(exchange(self.d.port, lookup_request()),
                         b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        self.assertEqual(self.d.of_kind("lookup")[0]["head"], lookup_request())
        other = "FF" * 16
        with open(self.tally, "w") as f:
            f.write("report product=OD_MAPS 1538=u64:99 1539=md5:%s 1540=bytes:%s 1541=bytes:%s\n"
                    % (other, CID.encode().hex().upper(), QID.encode().hex().upper()))
        self.assertIn(b"qid=%s|cid=%s|size=99|" % (QID.encode(), CID.encode()),
                      exchange(self.d.port, lookup_request(other)))

    def test_broken_answers(self):
        self.d.known[FID] = (QID, CID, 7)
        rows = [("no-length", lambda r: b"Content-Length" not in r and r.startswith(b"HTTP/1.1 200")),
                ("long-head", lambda r: r.index(b"\r\n\r\n") > 3000),
                ("zero-length", lambda r: b"Content-Length: 0\r\n\r\n" in r),
                ("over-limit", lambda r: b"Content-Length: 5242881\r\n" in r),
                ("early-close", lambda r: len(r.split(b"\r\n\r\n", 1)[1]) < int(r.split(b"Content-Length: ")[1].split(b"\r")[0])),
                ("trailing", lambda r: r.endswith(b"|\r\nTRAILING")),
                ("404", lambda r: r.startswith(b"HTTP/1.1 404")),
                ("never", lambda r: r == b"")]
        for mode, check in rows:
            with self.subTest(mode):
                self.d.lookup_mode = mode
                self.assertTrue(check(exchange(self.d.port, lookup_request(), 0.5)))
        self.d.lookup_mode, self.d.drip_s = "drip", 0.2
        start = time.time()
        self.assertEqual(exchange(self.d.port, lookup_request(), 0.9), b"HTTP/")
        self.assertLess(time.time() - start, 3)

    def test_commit_replies(self):
        info = {"F": bytes.fromhex(FID), "Z": 5, "C": [{"I": "ftp://h/a", "S": 200}]}
        request = w.commit_packet(info)
        head = b"POST /commit?cmd=finfo HTTP/1.1\r\nContent-Length: %d\r\nConnection: Keep-Alive\r\n\r\n" % len(request)
        for status in (1, 2, 6, 9):
            with self.subTest(status=status):
                self.d.p2s_status = status
                reply = exchange(self.d.port, head + request)
                body = w.read_packet(reply.split(b"\r\n\r\n", 1)[1])
                self.assertEqual(body[0], status)
        event = self.d.of_kind("commit")[0]
        self.assertEqual(event["info"]["F"], info["F"])
        self.assertEqual(event["info"]["C"][0]["I"], "ftp://h/a")
        self.d.p2s_mode = "broken-check"
        reply = exchange(self.d.port, head + request)
        with self.assertRaises(ValueError):
            w.read_packet(reply.split(b"\r\n\r\n", 1)[1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
