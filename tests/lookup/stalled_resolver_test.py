#!/usr/bin/env python3
"""Lookups and reports under Wine with a resolver that stalls: OrchardSvc
runs in a mount namespace of its own whose /etc/resolv.conf names
127.0.0.1, where tests/lookup/dns_double.py counts the queries and holds
those for the server's host name ("P2SCfg.ini" names lookup.example.com)
unanswered, or answers them late. The files published have stored hash
records, so each one is looked up.

- Never answered: every file is published, hashed instead of looked up, each
  lookup ending within its deadline; every report fails at once; the name
  is asked for as often as one lookup asks (measured beside it with a probe
  name), once per minute at most, not once per file.
- Answered after twice the deadline: the first files are hashed, the rest
  are looked up and not read; one lookup's queries in all; every report
  gets through.
- A stop (command 129) while the lookup is stalled ends the publish thread
  within its first wait.

Root only (the mount namespace and port 53), skipped otherwise (exit code 77)."""

import glob
import os
import random
import shutil
import socket
import struct
import sys
import threading
import time

import own_mounts  # noqa: E402

if __name__ == "__main__":
    own_mounts.reexec_unless_own("stalled-resolver test", "give the server another resolv.conf")

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "server", "hash", "tests"))
sys.path.insert(0, os.path.join(ROOT, "tests", "durability"))
sys.path.insert(0, HERE)
import dns_double  # noqa: E402
import file_ids_check  # noqa: E402
import lookup_p2s_double  # noqa: E402
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
import stored_checks as sc  # noqa: E402
from lookup_report_test import md5_pieces, timed_entries  # noqa: E402
from orchard_server import PORT, PublishingServerTest, path_field, read_text, win, write  # noqa: E402

ARGS = None
NAME = "lookup.example.com"
PROBE = "probe.example.com"  # looked up by the test itself: what one lookup makes of queries
RESOLV_CONF = "nameserver 127.0.0.1\noptions timeout:4 attempts:2\n"
FILES = 20
SIZE = (64 << 20) + 1  # records of smaller files are not kept
PUBLISHED = 8
DEADLINE_S = 3.0  # a lookup's exchange
SLACK_S = 1.0
RETRY_S = 60      # a name without an address is asked for again after this
LATE_S = 2 * DEADLINE_S
STOP_BOUND_S = 10

_clips = []


def clips():
    """FILES sparse files over 64 MiB, distinct in their sampled pieces: the
    bytes written and their ids and MD5 piece digests (made once)."""
    if not _clips:
        piece = file_ids_check.md5_piece_size(SIZE)
        n = -(-SIZE // piece)
        for i in range(FILES):
            rng = random.Random(i)
            regions = [(0, rng.randbytes(4096)), ((n // 2) * piece, rng.randbytes(4096)), (SIZE - 1, rng.randbytes(1))]
            data = bytearray(SIZE)
            for off, chunk in regions:
                data[off:off + len(chunk)] = chunk
            _clips.append({"regions": regions, "ids": file_ids_check.ids(bytes(data)), "pieces": md5_pieces(bytes(data))})
    return _clips


def write_record(fid, sid, pieces):
    """The stored hash record of a file, as the server keeps it."""
    body = struct.pack("<Q", SIZE) + bytes.fromhex(fid) + pieces
    head = struct.pack("<iII", 1, sc.crc_register(body), len(body)) + b"\0" * 36
    path = os.path.join(sc.hash_record_dir(), sid[:3], sid)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(head + body)


class StalledResolver(PublishingServerTest):
    work_prefix = "orchard_resolver_"

    def p2s_port(self):
        self.double = lookup_p2s_double.LookupP2sDouble().start()
        self.addCleanup(self.double.stop)
        return self.double.port

    def setUp(self):
        self.mounts = own_mounts.OwnMounts(prefix="orchard_resolver_mounts_")
        resolv = os.path.join(self.mounts.scratch, "resolv.conf")
        with open(resolv, "w") as f:
            f.write(RESOLV_CONF)
        self.mounts.mount("--bind", resolv, "/etc/resolv.conf")
        self.dns = None
        super().setUp()
        write(self.work, "P2SCfg.ini", "[Serv]\nHost=%s\nPort=%d\n" % (NAME, self.double.port))
        shutil.copy2(os.path.join(self.args.bin, "faultpost.exe"), os.path.join(self.work, "faultpost.exe"))

    def tearDown(self):
        super().tearDown()
        if self.dns:
            self.dns.stop()
        self.mounts.close()

    # --- helpers

    def serve_dns(self, **late):
        self.dns = dns_double.DnsDouble({NAME, PROBE}, log_path=os.path.join(self.work, "dns.log"), **late).start()

    def probe(self):
        """Looks PROBE up once beside the server; joined, it holds the
        number of queries that one lookup made."""
        result = {}

        def look():
            try:
                socket.gethostbyname(PROBE)
            except OSError:
                pass
            result["queries"] = len(self.dns.queries(PROBE))

        t = threading.Thread(target=look, daemon=True)
        t.start()
        return t, result

    def queries_of_one_lookup(self, probe):
        thread, result = probe
        thread.join(60)
        self.assertIn("queries", result, "the probe's lookup did not end")
        self.assertGreaterEqual(result["queries"], 1)
        return result["queries"]

    def write_clips(self, name, count=FILES):
        """The files, each with its stored hash record; [(Wine path, ids)]."""
        d = os.path.join(self.tree, name)
        os.makedirs(d)
        out = []
        for i, clip in enumerate(clips()[:count]):
            path = os.path.join(d, "clip%02d.avi" % i)
            with open(path, "wb") as f:
                f.truncate(SIZE)
                for off, chunk in clip["regions"]:
                    f.seek(off)
                    f.write(chunk)
            write_record(clip["ids"]["fid"], clip["ids"]["sid"], clip["pieces"])
            out.append((win(path), clip["ids"]))
        return win(d), out

    def publish_all(self, directory, files, timeout):
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(oc.split_status(c.send(oc.command(2, path_field(directory))))[0], 200)
            states = lambda: {p: r["state"] for p, r in self.listing(c, directory).items()}
            done = op.wait_until(lambda: all(states().get(p) == PUBLISHED for p, _ in files), timeout, 0.5)
            self.assertTrue(done, "not all published in %d s: %s" % (timeout, sorted(states().values())))

    def lookup_times(self, files):
        """{fid: seconds from the stored record's load to the lookup's end} and
        {fid: the lookup's log line}."""
        entries = timed_entries(os.path.join(self.work, "od_server.Log"))
        took, lines = {}, {}
        for path, ids in files:
            loaded = [t for t, m in entries if m == "%s Load HashInfo success!\n" % path]
            ended = [(t, m) for t, m in entries if m.startswith("MapsSearch %s " % ids["fid"])]
            self.assertTrue(loaded and ended, path)
            took[ids["fid"]] = (ended[-1][0] - loaded[-1]).total_seconds()
            lines[ids["fid"]] = ended[-1][1]
        return took, lines

    def hashed(self):
        return sum(1 for m in self.main_log() if m.startswith("PUBTASK - Do Calc Final"))

    def report_log(self):
        return read_text(os.path.join(self.work, "p2s_speedup.dat"))

    def assertOnceForTheName(self, per_lookup, started, answered):
        asked = len(self.dns.queries(NAME))
        elapsed = time.monotonic() - started
        lookups = 1 if answered else 1 + int(elapsed // RETRY_S)
        print("the host name was asked for %d times in %.0f s; one lookup asks %d times" % (asked, elapsed, per_lookup))
        self.assertGreaterEqual(asked, 1, "the host name was never looked up")
        self.assertLessEqual(asked, per_lookup * lookups, "more lookups than one per name (and minute)")
        looked_up = [m for m in self.main_log() if m == "P2S - look up host " + NAME]
        self.assertLessEqual(len(looked_up), lookups)

    def assertEndsWell(self, proc):
        self.stop(proc)
        self.assertEqual(glob.glob(os.path.join(self.work, "vodedorozuv_*")), [], "a crash record was written")

    # --- the tests

    def test_a_resolver_that_never_answers(self):
        self.serve_dns()
        probe = self.probe()
        directory, files = self.write_clips("Never")
        started = time.monotonic()
        proc = self.start()
        self.publish_all(directory, files, 150)
        took, lines = self.lookup_times(files)
        for fid, line in lines.items():
            self.assertEqual(line, "MapsSearch %s Fail, error=-2\n" % fid)
        print("lookups took %.1f to %.1f s" % (min(took.values()), max(took.values())))
        self.assertLessEqual(max(took.values()), DEADLINE_S + SLACK_S, "a lookup outlived its deadline")
        self.assertEqual(self.hashed(), FILES, "every file is hashed instead")
        self.assertEqual(self.double.of_kind("lookup"), [])
        # Three attempts per report, each failing at once.
        self.assertTrue(op.wait_until(lambda: self.report_log().count(" Report Error -2 ") >= 3 * FILES, 60, 0.5),
                        "the reports did not all end: %d" % self.report_log().count(" Report Error -2 "))
        self.assertOnceForTheName(self.queries_of_one_lookup(probe), started, answered=False)
        self.assertEndsWell(proc)
        self.passed = True

    def test_a_resolver_that_answers_late(self):
        self.serve_dns(late_address="127.0.0.1", delay_s=LATE_S)
        probe = self.probe()
        directory, files = self.write_clips("Late")
        for _, ids in files:
            self.double.known[ids["fid"]] = (ids["qid"], ids["cid"], SIZE)
        started = time.monotonic()
        proc = self.start()
        self.publish_all(directory, files, 150)
        took, lines = self.lookup_times(files)
        failed = [fid for fid, line in lines.items() if line == "MapsSearch %s Fail, error=-2\n" % fid]
        print("lookups took %.1f to %.1f s; %d ended before the name had its address" % (
            min(took.values()), max(took.values()), len(failed)))
        self.assertLessEqual(max(took.values()), DEADLINE_S + SLACK_S, "a lookup outlived its deadline")
        self.assertGreaterEqual(len(failed), 1, "the first lookup waited for the late answer")
        self.assertLessEqual(len(failed), LATE_S / DEADLINE_S + 1)
        for fid, line in lines.items():
            if fid not in failed:
                self.assertTrue(line.startswith("MapsSearch %s success, " % fid), line)
        self.assertEqual(self.hashed(), len(failed), "a looked-up file was read")
        self.assertEqual(len(self.double.of_kind("lookup")), FILES - len(failed))
        for _, ids in files:
            self.assertTrue(op.wait_until(lambda: ids["fid"] + " Report ok " in self.report_log(), 60, 0.5),
                            "no report of %s got through" % ids["fid"])
        self.assertOnceForTheName(self.queries_of_one_lookup(probe), started, answered=True)
        self.assertEndsWell(proc)
        self.passed = True

    def test_stop_during_a_stalled_lookup(self):
        self.serve_dns()
        directory, files = self.write_clips("Stop", count=1)
        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(oc.split_status(c.send(oc.command(2, path_field(directory))))[0], 200)
        self.assertIsNotNone(self.dns.wait_for("query", 60, where=lambda e: e["name"] == NAME),
                             "the host name was never looked up")
        started = time.monotonic()
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(129)), struct.pack("<H", 200))
        code = proc.wait(60)
        took = time.monotonic() - started
        print("stopped in %.1f s" % took)
        self.assertEqual(code, 0)
        self.assertLess(took, STOP_BOUND_S)
        log = self.main_log()
        self.assertIn("MapsSearch %s Fail, error=-2\n" % files[0][1]["fid"], log)
        self.assertNotIn("PUBTASK - waiting for the publish thread to end", log)
        self.assertNotIn("PUBTASK - a thread did not end in time; it is left running", log)
        self.assertEqual(glob.glob(os.path.join(self.work, "vodedorozuv_*")), [], "a crash record was written")
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
