#!/usr/bin/env python3
"""Seedlift serves peers the way the internet's do, end to end under Wine:
OrchardSvc with its P2P core (default 256 KiB cache blocks) against the P2P
doubles. Ranges that reach past the end of a file are cut at its end and
byte-exact; a 300,000-byte verify is answered; 300 peers at once: 160 are
served, every later connection is closed at once, the server neither spins
nor floods its log, and once they leave a new peer is served; peers that
send malformed frames over and over never lock a polite peer out; under a
100 KB/s upload limit peers asking whole pieces are served at the limit and
no 1000 ms of the limiter's grants passes it."""

import os
import select
import socket
import struct
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import orchard_proc as op  # noqa: E402
import p2p_peers as pp  # noqa: E402
import p2p_wire as w  # noqa: E402
from p2p_serving_test import ServingServer  # noqa: E402

ARGS = None
USER_LIMIT = 160
CROWD = 300
CROWD_SECONDS = 30
# Bounds of what "at once" and "no spin, no flood" mean, with room for a loaded machine.
CLOSED_WITHIN_S = 2.0
CPU_PER_SECOND = 0.3
LOG_GROWTH_BYTES = 1 << 20
LIMIT_KB = 100


def processor_seconds(pid):
    """User plus system time of a process, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wineserver_pid():
    """The pid of the wineserver of this test's Wine prefix: under Wine the
    work of a program's socket calls is done there."""
    prefix = os.environ.get("WINEPREFIX", "").encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                if b"wineserver" not in f.read():
                    continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if b"WINEPREFIX=" + prefix in f.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


def program_pid(work, name):
    """The pid of the Wine process running `name` in the folder `work`."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read()
            if name.encode() in cmdline and os.readlink("/proc/%s/cwd" % entry) == work:
                return int(entry)
        except OSError:
            continue
    return None


class Conn:
    """One connection of the crowd: it sends Check_Have and waits for its answer or its end."""

    def __init__(self, port, fid, user_id):
        self.fid, self.user_id = fid, user_id
        self.writer, self.reader = w.StreamWriter(), w.StreamReader()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setblocking(False)
        self.sock.connect_ex(("127.0.0.1", port))
        self.opened = None  # when the connection was established
        self.answered = None  # when its first Check_Have answer came
        self.closed = None  # when the core closed it
        self.last_check_have = 0.0

    def fileno(self):
        return self.sock.fileno()

    def check_have(self, now):
        self.last_check_have = now
        try:
            self.sock.send(self.writer.pack(w.P_CHECK_HAVE, w.check_have(self.user_id, self.fid)))
        except OSError:
            self.closed = self.closed or now

    def on_writable(self, now):
        if self.opened is not None:
            return
        if self.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0:
            self.closed = now  # refused before it was established
            return
        self.opened = now
        self.check_have(now)

    def on_readable(self, now):
        try:
            data = self.sock.recv(65536)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        if not data:
            self.closed = self.closed or now
            return
        for command, _ in self.reader.feed(data):
            if command == w.P_CHECK_HAVE_ANSWER and self.answered is None:
                self.answered = now

    def close(self):
        self.sock.close()


class Crowd:
    """Many connections driven from one thread: the served ones keep their
    Check_Have alive, a closed one connects again after a pause."""

    def __init__(self, port, fid, count, first_user_id):
        self.port, self.fid = port, fid
        self.next_user_id = first_user_id
        self.conns = []
        self.ended = []  # connections the core closed
        self.count = count
        self.created = 0

    def connect(self):
        c = Conn(self.port, self.fid, self.next_user_id)
        self.next_user_id += 1
        self.created += 1
        self.conns.append(c)

    def run(self, seconds, keepalive_s=3.0, reconnect_s=None, connect_every_s=0.01):
        """Drives the crowd for `seconds`: connects until `count` are open (one
        every connect_every_s), and with reconnect_s replaces a closed
        connection that long after its end."""
        deadline = time.monotonic() + seconds
        next_connect = time.monotonic()
        # Reconnections due; the connections closed before come back first, at
        # the pace of the first connections (a burst would only overflow the
        # listening socket's backlog of 10).
        ended = self.created - len(self.conns)
        waiting = [] if reconnect_s is None else [next_connect + i * connect_every_s for i in range(ended)]
        while time.monotonic() < deadline:
            now = time.monotonic()
            if self.created < self.count and now >= next_connect:
                self.connect()
                next_connect = now + connect_every_s
            for due in [t for t in waiting if t <= now]:
                waiting.remove(due)
                self.connect()
            live = [c for c in self.conns if c.closed is None]
            connecting = [c for c in live if c.opened is None]
            readable, writable, _ = select.select(live, connecting, [], 0.02)
            now = time.monotonic()
            for c in writable:
                c.on_writable(now)
            for c in readable:
                c.on_readable(now)
            for c in live:
                if c.answered is not None and c.closed is None and now - c.last_check_have >= keepalive_s:
                    c.check_have(now)
            for c in [c for c in self.conns if c.closed is not None]:
                self.conns.remove(c)
                self.ended.append(c)
                c.close()
                if reconnect_s is not None:
                    waiting.append(now + reconnect_s)

    def served(self):
        return [c for c in self.conns if c.answered is not None and c.closed is None]

    def close(self):
        for c in self.conns:
            c.close()
        self.conns = []


def collect(peer, request_id, ranges, expect_bytes, timeout=20.0):
    """Asks for the ranges in one Req_data; the block frames (block, data) until
    expect_bytes arrived, and any back-off."""
    peer.send(w.P_REQ_DATA, w.req_data(request_id, ranges))
    frames, back_offs, got = [], [], 0
    deadline = time.monotonic() + timeout
    while got < expect_bytes:
        item = peer.frame({w.P_BLOCK_DATA, w.P_BACK_OFF}, max(deadline - time.monotonic(), 0.01))
        if item is None:
            break
        if item[0] == w.P_BACK_OFF:
            back_offs.append(w.parse_back_off(item[1]))
            continue
        block, data = w.parse_block_frame(item[1])
        frames.append((block, data))
        got += len(data)
    return frames, back_offs


def joined(frames):
    return b"".join(data for _, data in sorted(frames))


class Edges(ServingServer):
    work_prefix = "orchard_edges_"
    cache_block_kb = 256  # the default: a TCP piece is 256 KiB

    def log_bytes(self):
        folder = os.path.join(self.work, "log")
        return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder)) if os.path.isdir(folder) else 0

    def test_edges(self):
        data = {"ten.avi": pp.random_bytes(10000, 11), "hundred.mkv": pp.random_bytes(100000, 12),
                "million.mp4": pp.random_bytes(1000000, 13), "pieces.wmv": pp.random_bytes(6 * 2 ** 20, 14)}
        for name, content in data.items():
            self.make(name, content)
        proc = self.start()
        fid = self.publish(data)
        # OrchardSvc's processor time, with what its calls cost in the wineserver.
        pids = [program_pid(self.work, "OrchardSvc.exe"), wineserver_pid()]
        self.assertNotIn(None, pids, "no process of OrchardSvc.exe or of its wineserver found")
        cpu_seconds = lambda: sum(processor_seconds(p) for p in pids)

        with self.subTest("ranges reaching past the end of a file are cut there"):
            rows = [
                # file, ranges, the blocks the frames start at, and their lengths
                ("ten.avi", [(0, 20)], [0, 4, 8], [4096, 4096, 1808]),
                ("hundred.mkv", [(90, 120)], [90, 94], [4096, 3744]),
                ("million.mp4", [(900, 1100)], None, None),
                ("million.mp4", [(700, 1150)], None, None),  # two pieces: the second starts inside
                ("million.mp4", [(10, 12), (970, 2000)], None, None),
            ]
            for number, (name, ranges, blocks, lengths) in enumerate(rows, 1):
                content = data[name]
                expected = b"".join(content[f * 1024:(l + 1) * 1024] for f, l in ranges)
                with pp.TcpPeer(self.tcp_port, user_id=5000 + number) as peer:
                    self.assertEqual(peer.check_have(fid[name])["result"], 0)
                    frames, back_offs = collect(peer, number, ranges, len(expected))
                    got = b"".join(data for _, data in frames)
                    self.assertEqual(len(got), len(expected), (name, ranges, back_offs))
                    self.assertEqual(b"".join(content[b * 1024:b * 1024 + len(d)] for b, d in frames), got,
                                     (name, ranges))
                    if blocks is not None:
                        self.assertEqual([b for b, _ in frames], blocks, (name, ranges))
                        self.assertEqual([len(d) for _, d in frames], lengths, (name, ranges))
            # A range that starts past the end is refused: the peer is told to back off.
            with pp.TcpPeer(self.tcp_port, user_id=5100) as peer:
                self.assertEqual(peer.check_have(fid["hundred.mkv"])["result"], 0)
                frames, back_offs = collect(peer, 7, [(98, 120)], 1, timeout=10)
                self.assertEqual((frames, [v for v, _ in back_offs]), ([], [7]))

        with self.subTest("a verify of 300,000 bytes is answered with its digests"):
            with pp.TcpPeer(self.tcp_port, user_id=5200) as peer:
                self.assertEqual(peer.check_have(fid["million.mp4"])["result"], 0)
                request, got = peer.verify(4096, 300000, crc_unit=2048)
                self.assertIsNotNone(got, "no answer to the verify")
                expected = w.verify_expected(w.verify_request(fid["million.mp4"], 4096, 300000, crc_unit=2048),
                                             data["million.mp4"][4096:304096])
                self.assertEqual(got, (w.P_VERIFY_ANSWER, expected))

        time.sleep(1.5)  # the peers above are gone from the online users
        with self.subTest("300 peers: 160 served, the rest closed at once, no spin, no flood"):
            crowd = Crowd(self.tcp_port, fid["hundred.mkv"], CROWD, 100000)
            try:
                cpu_start, log_start, started = cpu_seconds(), self.log_bytes(), time.monotonic()
                crowd.run(8)  # everyone connects and hears back
                first = list(crowd.ended), crowd.served(), [c for c in crowd.conns if c.answered is None]
                crowd.run(CROWD_SECONDS, reconnect_s=2.0)  # the refused come back again and again
                cpu = (cpu_seconds() - cpu_start) / (time.monotonic() - started)
                growth = self.log_bytes() - log_start
                print("crowd: %.3f s of processor time a second, log grew %d bytes" % (cpu, growth))
                self.assertLess(cpu, CPU_PER_SECOND, "OrchardSvc used %.2f s of processor time a second" % cpu)
                self.assertLess(growth, LOG_GROWTH_BYTES, "the P2P log grew by %d bytes" % growth)
                ended, served, pending = first
                self.assertEqual(len(served), USER_LIMIT,
                                 "%d served, %d closed, %d waiting" % (len(served), len(ended), len(pending)))
                self.assertEqual(pending, [], "connections neither served nor closed")
                later = crowd.ended[len(ended):]
                self.assertGreater(len(later), CROWD - USER_LIMIT, "the refused peers did not come back")
                self.assertEqual(len(crowd.served()), USER_LIMIT, "the served peers did not stay")
                self.assertTrue(all(c.answered is None for c in crowd.ended), "a served peer was closed")
                slow = [round(c.closed - c.opened, 2) for c in crowd.ended if c.opened is None or
                        c.closed - c.opened > CLOSED_WITHIN_S]
                self.assertEqual(slow, [], "refused connections not closed at once")
            finally:
                crowd.close()
            # Once they left, a new peer is served at once.
            time.sleep(0.5)
            with pp.TcpPeer(self.tcp_port, user_id=5300, timeout=5) as peer:
                self.assertEqual(peer.check_have(fid["hundred.mkv"], timeout=5)["result"], 0)
                self.assertEqual(peer.download(0, len(data["hundred.mkv"]), piece_blocks=256),
                                 data["hundred.mkv"])

        with self.subTest("50 peers cycling malformed frames never lock out a polite one"):
            stop = threading.Event()
            cycles = [0]

            def malformed(seed):
                while not stop.is_set():
                    try:
                        with socket.create_connection(("127.0.0.1", self.tcp_port), timeout=5) as s:
                            # An opening whose check value is wrong: the core closes it at once.
                            s.sendall(struct.pack("<I", seed) + bytes(range(seed % 200, seed % 200 + 40)))
                            s.settimeout(5)
                            while s.recv(4096):
                                pass
                        cycles[0] += 1
                    except OSError:
                        time.sleep(0.05)

            threads = [threading.Thread(target=malformed, args=(i,), daemon=True) for i in range(50)]
            for t in threads:
                t.start()
            tries, failures = 0, []
            deadline = time.monotonic() + CROWD_SECONDS
            try:
                while time.monotonic() < deadline:
                    tries += 1
                    try:
                        with pp.TcpPeer(self.tcp_port, user_id=6000, timeout=5) as peer:
                            answer = peer.check_have(fid["hundred.mkv"], timeout=5)
                            got = peer.download(0, len(data["hundred.mkv"]), piece_blocks=256, timeout=10)
                            if answer["result"] != 0 or got != data["hundred.mkv"]:
                                failures.append((tries, "answer %d" % answer["result"]))
                    except (OSError, pp.PeerError) as e:
                        failures.append((tries, str(e)))
            finally:
                stop.set()
                for t in threads:
                    t.join(10)
            self.assertGreater(cycles[0], 10 * CROWD_SECONDS, "the malformed peers hardly ran")
            self.assertGreater(tries, 5)
            self.assertEqual(failures, [], "of %d tries" % tries)

        with self.subTest("a 100 KB/s limit serves TCP peers asking whole pieces"):
            limit = LIMIT_KB * 1024
            content = data["pieces.wmv"]
            self.assertEqual(self.command(115, struct.pack("<H", 8))[0], 200)  # the limiter's trace lines
            log_start = len(self.p2p_log())
            self.assertEqual(self.command(114, struct.pack("<I", LIMIT_KB))[0], 200)
            spans = [(i * 2 ** 20, 3 * 2 ** 18) for i in range(3)]  # three whole pieces each, 22 s at the limit
            results = {}

            def fetch(index, offset, length):
                try:
                    with pp.TcpPeer(self.tcp_port, user_id=7000 + index) as peer:
                        if peer.check_have(fid["pieces.wmv"])["result"] != 0:
                            results[index] = "refused"
                            return
                        got = peer.download(offset, length, piece_blocks=256, window=2, timeout=60)
                        results[index] = (got == content[offset:offset + length], time.monotonic(), peer.back_offs)
                except (OSError, pp.PeerError) as e:
                    results[index] = str(e)

            started = time.monotonic()
            threads = [threading.Thread(target=fetch, args=(i,) + span) for i, span in enumerate(spans)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(90)
            self.assertEqual(self.command(114, struct.pack("<I", 0))[0], 200)
            self.assertEqual(self.command(115, struct.pack("<H", 9))[0], 200)
            self.assertEqual(sorted(results), [0, 1, 2], results)
            for index, r in results.items():
                self.assertIsInstance(r, tuple, "peer %d: %s" % (index, r))
                self.assertTrue(r[0], "peer %d got other bytes" % index)
            ended = max(r[1] for r in results.values())
            rate = sum(length for _, length in spans) / (ended - started)
            print("limit: the peers were served %.0f bytes a second" % rate)
            self.assertGreaterEqual(rate, 90 * 1024, "the peers were served %.0f bytes a second together" % rate)
            granted = self.limiter_grants(log_start)
            self.assertGreater(len(granted), 10, "no trace of the limiter's grants")
            self.assertLessEqual(pp.window_peak(granted), limit)

        self.stop(proc)
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
