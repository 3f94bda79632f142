#!/usr/bin/env python3
"""OrchardSvc.exe under Wine with sixteen local control-channel clients that
break the protocol (noise, spoiled checksums, frames that stop halfway, a
total of 256 MiB) while one client keeps polling command 81 as the user
interface does: its answers stay prompt, the server's memory stays where it
was, and a stop sent in the middle of it all is answered and ends the
program."""

import os
import random
import socket
import statistics
import struct
import threading
import time
import unittest

import orchard_channel as oc
import orchard_proc as op

ARGS = None
PORT = 9090
PROGRAM = "OrchardSvc.exe"
FILES = [PROGRAM, "vxaucommon.dll", "Seedlift.dll", "Tallyhub.dll", "Ferryline.dll"]
START_SECONDS = 60
POLL_SECONDS = 8.0
POLL_PAUSE = 0.01
MEDIAN_LIMIT = 0.050
SLOWEST_LIMIT = 0.500
MEMORY_LIMIT = 20 << 20
STOP_ANSWER_LIMIT = 2.0
STOP_END_LIMIT = 15.0


def write(work, name, text):
    with open(os.path.join(work, name), "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))


def resident_bytes(pid):
    """The resident set of a process from /proc, or None once it has gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        return None
    return None


def program_pid(proc):
    """The pid of the Windows program itself: wine execs into it, so it is
    the pid started, unless a loader stayed in between."""
    prefix = ("WINEPREFIX=" + os.environ.get("WINEPREFIX", "")).encode()
    others = [int(n) for n in os.listdir("/proc") if n.isdigit() and int(n) != proc.pid]
    for pid in [proc.pid] + others:
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                cmdline = f.read()
            with open("/proc/%d/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if PROGRAM.encode() in cmdline and (pid == proc.pid or prefix in environ):
            return pid
    return None


class BadClient(threading.Thread):
    """One client that breaks the protocol in its own way, reconnecting
    whenever the server closes it, until told to stop."""

    def __init__(self, kind, stop):
        super().__init__(daemon=True)
        self.kind, self.stop, self.connections = kind, stop, 0
        self.random = random.Random(kind + str(id(self)))

    def run(self):
        while not self.stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", PORT), timeout=2.0) as s:
                    self.connections += 1
                    getattr(self, self.kind)(s)
            except OSError:
                pass
            self.stop.wait(0.01)

    def wait_for_close(self, s, seconds=10.0):
        """Reads and drops whatever comes until the server closes s."""
        deadline = time.monotonic() + seconds
        s.settimeout(0.2)
        while not self.stop.is_set() and time.monotonic() < deadline:
            try:
                if not s.recv(65536):
                    return
            except socket.timeout:
                continue

    def noise(self, s):
        s.sendall(self.random.randbytes(self.random.randint(1, 8192)))
        self.wait_for_close(s)

    def spoiled(self, s):
        # Frames of plausible size whose checksums never match: dropped one
        # by one, the connection kept.
        for _ in range(200):
            if self.stop.is_set():
                return
            body = self.random.randbytes(self.random.randint(0, 1500))
            s.sendall(oc.encode_frame(body, checksum=oc.crc_update(body) ^ 0x5A5A))
            self.stop.wait(0.02)

    def half_frame(self, s):
        frame = oc.encode_frame(oc.command(34, b"\x00" * 520))
        s.sendall(frame[:self.random.choice([2, 6, 9, len(frame) // 2])])
        self.wait_for_close(s)

    def huge_total(self, s):
        s.sendall(struct.pack("<II", 256 << 20, 0) + b"\xAA" * 1024)
        self.wait_for_close(s)


class ChannelClientsTest(unittest.TestCase):
    def setUp(self):
        self.assertFalse(op.port_open(PORT), "port 9090 is taken before the test")
        self.work = op.make_work_dir(ARGS.bin, FILES, prefix="orchard_clients_")
        # Neither the FTP side nor the P2P core: the channel alone is under test.
        write(self.work, "od_svr_cfg.ini", "[service]\nservicetype=0\n")
        self.proc = op.WineProcess(ARGS.wine, self.work, PROGRAM)
        self.stop_clients = threading.Event()
        self.clients = []

    def tearDown(self):
        self.stop_clients.set()
        for c in self.clients:
            c.join(5)
        self.proc.kill()
        op.remove_work_dir(self.work)

    def test_bad_clients_hold_nobody(self):
        self.assertTrue(op.wait_for_port(PORT, START_SECONDS, self.proc), "OrchardSvc did not open its channel")
        pid = program_pid(self.proc)
        self.assertIsNotNone(pid, "the program's process was not found")
        polite = oc.ChannelClient(port=PORT, timeout=60.0)
        self.addCleanup(polite.close)
        for _ in range(20):  # first use of the server's paths, before its memory is taken
            self.assertEqual(polite.send(oc.command(81)), struct.pack("<H", 502))
        time.sleep(0.5)
        start_memory = resident_bytes(pid)

        kinds = ["noise", "spoiled", "half_frame", "huge_total"]
        self.clients = [BadClient(kinds[i % len(kinds)], self.stop_clients) for i in range(16)]
        for c in self.clients:
            c.start()
        memory = [start_memory]
        sampling = threading.Event()

        def sample():
            while not sampling.wait(0.1):
                rss = resident_bytes(pid)
                if rss is not None:
                    memory.append(rss)

        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()
        self.addCleanup(sampling.set)

        # Like the user interface, the polling client reconnects after a
        # failed exchange; every failure is noted.
        times, failures = [], []
        until = time.monotonic() + POLL_SECONDS
        while time.monotonic() < until:
            sent = time.monotonic()
            try:
                reply = polite.send(oc.command(81))
            except (oc.ChannelError, OSError) as e:
                failures.append(repr(e))
                polite.close()
                polite = oc.ChannelClient(port=PORT, timeout=60.0)
                self.addCleanup(polite.close)
                reply = None
            times.append(time.monotonic() - sent)
            if reply is not None:
                self.assertEqual(reply, struct.pack("<H", 502))
            time.sleep(POLL_PAUSE)

        # A stop in the middle of it all.
        sent = time.monotonic()
        with oc.ChannelClient(port=PORT, timeout=30.0) as stopper:
            answer = stopper.send(oc.command(129))
        answered = time.monotonic() - sent
        code = self.proc.wait(STOP_END_LIMIT)
        ended = time.monotonic() - sent
        sampling.set()
        sampler.join(5)

        median, slowest = statistics.median(times), max(times)
        grown = max(memory) - start_memory
        print("%d exchanges of command 81 (%d failed): median %.1f ms, slowest %.1f ms; bad clients connected "
              "%d times; memory %.1f MB at the start, at most %.1f MB more; the stop answered in %.2f s, the program "
              "ended %.1f s after it" % (len(times), len(failures), median * 1000, slowest * 1000,
                                         sum(c.connections for c in self.clients), start_memory / 1e6,
                                         grown / 1e6, answered, ended))
        self.assertEqual(failures, [], "exchanges of the polling client failed")
        self.assertLess(median, MEDIAN_LIMIT, "the median answer to command 81")
        self.assertLess(slowest, SLOWEST_LIMIT, "the slowest answer to command 81")
        self.assertLessEqual(grown, MEMORY_LIMIT, "the server's memory grew by %d bytes" % grown)
        self.assertEqual(answer, struct.pack("<H", 200))
        self.assertLess(answered, STOP_ANSWER_LIMIT, "the answer to command 129")
        self.assertEqual(code, 0, "OrchardSvc did not end within %d s of command 129" % STOP_END_LIMIT)
        self.assertTrue(all(c.connections > 0 for c in self.clients))


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
