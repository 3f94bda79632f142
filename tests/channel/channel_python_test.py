#!/usr/bin/env python3
"""The channel's Python implementation against the real programs under Wine:
the Python client against the real server (channel_echo_server.exe), the real
client (channel_send.exe) against the Python server double, and orchardctl."""

import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import orchard_channel as oc
import orchard_proc as op

ARGS = None
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SERVER_PORT = 19201


def wine(*argv):
    return [ARGS.wine, os.path.join(ARGS.bin, argv[0])] + list(argv[1:])


def wait_for_port(port, proc, seconds=30):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if proc.poll() is not None:
            raise RuntimeError("server ended early with %s" % proc.returncode)
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("server did not listen on %d" % port)


def pattern(n):
    return bytes(i % 251 for i in range(n))


class RealServer(unittest.TestCase):
    """Python client -> channel_echo_server.exe."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.proc = subprocess.Popen(wine("channel_echo_server.exe", str(SERVER_PORT)),
                                    cwd=cls.work.name, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                    stdin=subprocess.DEVNULL)
        wait_for_port(SERVER_PORT, cls.proc)

    @classmethod
    def tearDownClass(cls):
        if cls.proc.poll() is None:
            cls.proc.kill()
            cls.proc.wait()
        cls.proc.stdout.close()
        cls.work.cleanup()

    def test_round_trips(self):
        rows = [
            ("empty", b"", b""),
            ("echo", b"Ehello", b"Ehello"),
            ("longer than the mask", b"N" + struct.pack("<I", 5000), pattern(5000)),
            ("one MiB", b"N" + struct.pack("<I", 1 << 20), pattern(1 << 20)),
        ]
        with oc.ChannelClient("127.0.0.1", SERVER_PORT) as c:
            for name, request, reply in rows:
                with self.subTest(name):
                    self.assertEqual(c.send(request), reply)

    def test_empty_reply_frame_bytes(self):
        with oc.ChannelClient("127.0.0.1", SERVER_PORT) as c:
            c.send_raw(bytes.fromhex("04000000feffffff"))
            total, checksum, body, ok = c.recv_frame()
            self.assertEqual((total, checksum, body, ok), (4, 0xFFFFFFFE, b"", True))

    def test_checksum_mismatch_gets_no_reply_and_keeps_connection(self):
        with oc.ChannelClient("127.0.0.1", SERVER_PORT) as c:
            good = oc.crc_update(b"Ebad")
            c.send_raw(oc.encode_frame(b"Ebad", checksum=good ^ 1))
            with self.assertRaises(socket.timeout):
                c.recv_frame(timeout=1.0)
            self.assertEqual(c.send(b"Eafter"), b"Eafter")

    def test_bad_totals_close_the_connection(self):
        for total in (0, 3, oc.MAX_TOTAL + 1, 0xFFFFFFFF):
            with self.subTest(total=total), oc.ChannelClient("127.0.0.1", SERVER_PORT) as c:
                c.send_raw(struct.pack("<I", total) + b"\xaa" * 12)
                self.assertTrue(c.closed_by_peer(timeout=5.0))
        with oc.ChannelClient("127.0.0.1", SERVER_PORT) as c:
            self.assertEqual(c.send(b"Estill"), b"Estill")

    def test_orchardctl_send(self):
        # Command 69 is 45 00: the echo server answers with the request itself.
        out = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "orchardctl.py"), "--port",
                              str(SERVER_PORT), "send", "69", "0102ff"], capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout.split("\n")[:2], ["status 69", "data 0102ff"])

    def test_zz_orchardctl_stop_ends_the_server(self):
        out = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "orchardctl.py"), "--port",
                              str(SERVER_PORT), "stop"], capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout.strip(), "status 200")
        self.assertEqual(self.proc.wait(timeout=20), 0)
        with open(os.path.join(self.work.name, "tcpserver.log"), "rb") as f:
            log = f.read()
        self.assertIn(b"CTcpServerSession::InitializeSession initial OK", log)
        self.assertTrue(log.rstrip().endswith(b"CTcpServerSession::SchedulerInternal_server over"))


class RealClient(unittest.TestCase):
    """channel_send.exe -> Python server double."""

    def run_client(self, port, hexbody, count=1):
        with tempfile.TemporaryDirectory() as work:
            out = subprocess.run(wine("channel_send.exe", str(port), hexbody, str(count)), cwd=work,
                                 capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
        self.assertEqual(out.returncode, 0, out.stderr)
        return [line.strip() for line in out.stdout.splitlines() if line.strip()]

    def test_replies(self):
        rows = [
            ("echo", lambda body, ok: oc.encode_frame(body), "result 0 reply 0a0b0c"),
            ("empty reply", lambda body, ok: oc.encode_frame(b""), "result 0 reply "),
            ("spoiled checksum", lambda body, ok: oc.encode_frame(b"xy", checksum=1), "result 32 reply "),
            ("total without room for the checksum", lambda body, ok: struct.pack("<II", 2, 0), "result 2 reply "),
        ]
        for name, respond, expected in rows:
            with self.subTest(name), oc.ChannelServerDouble(respond) as double:
                lines = self.run_client(double.port, "0a0b0c")
                self.assertEqual(lines, ["connect 0", expected.strip()])
                # The client's frame checks on the double's own terms.
                self.assertEqual(double.requests, [(b"\x0a\x0b\x0c", True)])

    def test_one_connection_for_many_requests(self):
        with oc.ChannelServerDouble(lambda body, ok: oc.encode_frame(body[::-1])) as double:
            lines = self.run_client(double.port, "010203", count=3)
            self.assertEqual(lines, ["connect 0"] + ["result 0 reply 030201"] * 3)
            self.assertEqual(double.connections, 1)


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
