#!/usr/bin/env python3
"""Lookups and reports end to end under Wine: OrchardSvc with its P2P core
logged in against the P2P doubles, and the lookup service and p2s command
server played by tests/lookup/lookup_p2s_double.py at the address of
"P2SCfg.ini".

A file over 64 MiB is hashed when first published; a copy of it (same
sampled pieces, so the same stored hash record) is published with the
lookup answering both ids and is not read: no hashing line, no statistics,
far less time; bytes after a whole answer are ignored. Every way a lookup can
fail (silence, 404, broken heads and lengths, an early close, a drip, ids of
the wrong length) makes the copy be hashed, with the failure in the log.
Reports carry the file's fields; every failure, a refusal too, is tried
again up to three attempts (a refusal ends one attempt's tries); a dripping report ends at its deadline, and a stop
during one ends within the stop's wait."""

import datetime
import hashlib
import os
import re
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "server", "hash", "tests"))
sys.path.insert(0, HERE)
import file_ids_check  # noqa: E402
import lookup_p2s_double  # noqa: E402
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
from orchard_server import PORT, PublishingServerTest, path_field, read_text, record_id, win  # noqa: E402

ARGS = None
PUBLISHED = 8
MIB = 1 << 20
BIG = 128 * MIB + 4097
SMALL_WRITE = 65536


def timed_entries(path):
    """(time, message) of each entry of one of the server's logs."""
    out = []
    for entry in read_text(path).split("\r\n[")[1:]:
        m = re.match(r"(\d+)-(\d+)-(\d+) (\d+):(\d+):(\d+):(\d+)\] ", entry)
        if m:
            y, mo, d, h, mi, s, ms = map(int, m.groups())
            out.append((datetime.datetime(y, mo, d, h, mi, s, ms * 1000), entry[m.end():]))
    return out


def md5_pieces(data):
    piece = file_ids_check.md5_piece_size(len(data))
    return b"".join(hashlib.md5(p).digest() for p in file_ids_check.pieces(data, piece))


class BigFile:
    """A sparse file over 64 MiB: random bytes in its first, middle and last
    MD5 pieces (the ones its stored record is found by) and in one other
    piece, zeros elsewhere. A copy may change the other piece only: it then
    finds the same stored record, so only hashing could tell them apart."""

    def __init__(self):
        piece = file_ids_check.md5_piece_size(BIG)
        n = -(-BIG // piece)
        self.other = (n // 4) * piece
        self.regions = [(0, os.urandom(SMALL_WRITE)), ((n // 2) * piece, os.urandom(SMALL_WRITE)),
                        (BIG - SMALL_WRITE, os.urandom(SMALL_WRITE)), (self.other, os.urandom(SMALL_WRITE))]
        data = bytearray(BIG)
        for off, chunk in self.regions:
            data[off:off + len(chunk)] = chunk
        self.ids = file_ids_check.ids(bytes(data))
        self.pieces = md5_pieces(bytes(data))

    def write(self, path, changed=False):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.truncate(BIG)
            for off, chunk in self.regions:
                f.seek(off)
                f.write(os.urandom(len(chunk)) if changed and off == self.other else chunk)
        return win(path)


class LookupReport(PublishingServerTest):
    work_prefix = "orchard_lookup_"

    def p2s_port(self):
        self.double = lookup_p2s_double.LookupP2sDouble().start()
        self.addCleanup(self.double.stop)
        return self.double.port

    # --- helpers

    def report_log(self):
        return read_text(os.path.join(self.work, "p2s_speedup.dat"))

    def tally_count(self, fid):
        return read_text(os.path.join(self.work, "tally.txt")).count("1539=md5:" + fid)

    def hashing_lines(self):
        return sum(1 for m in self.main_log() if m.startswith("PUBTASK - Do Calc Final"))

    def publish(self, directory, timeout=120):
        """Command 2 on a directory holding one file; its (state, fid) once published."""
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(oc.split_status(c.send(oc.command(2, path_field(directory))))[0], 200)
            done = lambda: [(r["state"], r["fid"]) for r in self.listing(c, directory).values()
                            if r["state"] == PUBLISHED]
            self.assertTrue(op.wait_until(done, timeout), "%s was not published" % directory)
            return done()[0]

    def publish_duration(self, path):
        """Seconds from the task's start to its share, by the log's own times."""
        entries = timed_entries(os.path.join(self.work, "od_server.Log"))
        start = [t for t, m in entries if m == "Do Publish Task - " + path]
        end = [t for t, m in entries if m.startswith("PUBTASK - AddShare - %s:" % path)]
        self.assertTrue(start and end, path)
        return (end[-1] - start[-1]).total_seconds()

    def small(self, name, size=3000):
        path = os.path.join(self.tree, name, name + ".avi")
        os.makedirs(os.path.dirname(path))
        data = os.urandom(size)
        with open(path, "wb") as f:
            f.write(data)
        return win(os.path.dirname(path)), win(path), data

    def commits(self, fid):
        return self.double.of_kind("commit", lambda e: e.get("fid") == fid)

    # --- the test

    def test_lookups_and_reports(self):
        big = BigFile()
        fid = big.ids["fid"]
        proc = self.start()

        with self.subTest("first publish: no stored record, so hashed and reported"):
            a_dir = os.path.join(self.tree, "A")
            a = big.write(os.path.join(a_dir, "movie.avi"))
            state, got = self.publish(win(a_dir))
            self.assertEqual(got, fid)
            self.assertEqual(self.double.of_kind("lookup"), [], "nothing to look up without a stored record")
            self.assertEqual(self.hashing_lines(), 1)
            self.assertEqual(self.tally_count(fid), 1)
            event = self.double.wait_for("commit", 30, where=lambda e: e.get("fid") == fid)
            self.assertIsNotNone(event, "no report of the file")
            self.assertEqual(event["head"], b"POST /commit?cmd=finfo HTTP/1.1\r\nContent-Length: %d\r\n"
                             b"Connection: Keep-Alive\r\n\r\n" % len(event["body"]))
            info = event["info"]
            link = "ftp://bob:pw@ftp.test:2121/%s/movie.avi" % record_id(win(a_dir)).hex().upper()
            self.assertEqual({k: info.get(k) for k in ("F", "Z", "H")},
                             {"F": bytes.fromhex(fid), "Z": BIG, "H": big.pieces})
            self.assertNotIn("T", info)
            self.assertEqual(info.get("C"), [{"U": hashlib.md5(link.upper().encode()).digest(), "I": link, "R": "",
                                              "L": "", "N": "", "J": 0, "K": 0, "S": 200, "B": 0}])
            self.assertTrue(op.wait_until(lambda: fid + " Report ok " in self.report_log(), 30), self.report_log())
            hashed_seconds = self.publish_duration(a)

        with self.subTest("a copy with both ids from the lookup is not read"):
            self.double.known[fid] = (big.ids["qid"], big.ids["cid"], BIG)
            b_dir = os.path.join(self.tree, "B")
            b = big.write(os.path.join(b_dir, "copy.avi"), changed=True)
            state, got = self.publish(win(b_dir))
            self.assertEqual(got, fid, "the stored record's fid")
            lookups = self.double.of_kind("lookup")
            self.assertEqual(len(lookups), 1)
            self.assertEqual(lookups[0]["head"], b"GET /summary_query?key=fid&fid=" + fid.encode() +
                             b" HTTP/1.1\r\nContent-Length: 0\r\nConnection: Keep-Alive\r\n\r\n")
            self.assertIn("MapsSearch %s success, QID=%s, CID=%s, SIZE=%d, error=0\n" % (
                fid, big.ids["qid"], big.ids["cid"], BIG), self.main_log())
            self.assertEqual(self.hashing_lines(), 1, "hashed again")
            self.assertEqual(self.tally_count(fid), 1, "statistics sent again")
            looked_up_seconds = self.publish_duration(b)
            print("publish with hashing %.3f s, with the lookup %.3f s" % (hashed_seconds, looked_up_seconds))
            self.assertLess(looked_up_seconds, hashed_seconds / 2, (looked_up_seconds, hashed_seconds))
            self.assertIsNotNone(self.double.wait_for("commit", 30, count=2, where=lambda e: e.get("fid") == fid))

        # Each way a lookup fails: the copy is hashed, and the log says how it
        # failed. Bytes after the announced body are not part of the answer.
        cid39 = big.ids["cid"][:39]
        rows = [  # name, lookup mode, answer of the double, the log line's text after the fid, hashed
            ("silent", "never", None, "Fail, error=-9\n", True),
            ("404 with a body", "404", None, "found nothing, status=404, error=0\n", True),
            ("no Content-Length", "no-length", None, "Fail, error=-11\n", True),
            ("head over its limit", "long-head", None, "Fail, error=-11\n", True),
            ("Content-Length 0", "zero-length", None, "Fail, error=-11\n", True),
            ("Content-Length above the limit", "over-limit", None, "Fail, error=-11\n", True),
            ("closed early", "early-close", None, "Fail, error=-9\n", True),
            ("dripping", "drip", None, "Fail, error=-9\n", True),
            ("cid of 39 digits", "answer", (big.ids["qid"], cid39, BIG),
             "success, QID=%s, CID=%s, SIZE=%d, error=0\n" % (big.ids["qid"], cid39, BIG), True),
            ("trailing bytes after a whole answer", "trailing", None,
             "success, QID=%s, CID=%s, SIZE=%d, error=0\n" % (big.ids["qid"], big.ids["cid"], BIG), False),
        ]
        for i, (name, mode, known, logged, hashes) in enumerate(rows):
            with self.subTest("lookup " + name):
                self.double.lookup_mode = mode
                self.double.known[fid] = known or (big.ids["qid"], big.ids["cid"], BIG)
                hashed, tallied = self.hashing_lines(), self.tally_count(fid)
                before = len(self.double.of_kind("lookup"))
                d = os.path.join(self.tree, "L%d" % i)
                big.write(os.path.join(d, "copy%d.avi" % i), changed=True)
                state, got = self.publish(win(d))
                self.assertEqual(got, fid)
                self.assertEqual(len(self.double.of_kind("lookup")), before + 1)
                searches = [m for m in self.main_log() if m.startswith("MapsSearch %s " % fid)]
                self.assertEqual(searches[-1], "MapsSearch %s %s" % (fid, logged))
                self.assertEqual(self.hashing_lines(), hashed + (1 if hashes else 0), "hashed or not")
                self.assertEqual(self.tally_count(fid), tallied + (1 if hashes else 0))
        self.double.lookup_mode = "answer"

        # Report statuses: a refusal ends one request loop at once, and the
        # report is tried again up to its three attempts like any failure.
        rows = [  # name, p2s mode, status, commits expected, report-log line, its count
            ("accepted", "answer", 1, 1, " Report ok ", 1),
            ("refused (2)", "answer", 2, 3, " Report Error -700 ", 3),
            ("refused (6)", "answer", 6, 3, " Report Error -101 ", 3),
            ("unexpected status", "answer", 9, 9, " Report Error -5 ", 3),
            ("broken check value", "broken-check", 1, 9, " Report Error -5 ", 3),
        ]
        for name, mode, status, commits, line, count in rows:
            with self.subTest("report " + name):
                self.double.p2s_mode, self.double.p2s_status = mode, status
                directory, path, data = self.small("R" + name.split()[0] + str(status))
                state, small_fid = self.publish(directory)
                self.assertEqual(small_fid, file_ids_check.ids(data)["fid"])
                self.assertTrue(op.wait_until(lambda: self.report_log().count(small_fid + line) == count, 60),
                                self.report_log())
                time.sleep(1.0)  # nothing more comes
                self.assertEqual(self.report_log().count(small_fid + line), count)
                sent = self.commits(small_fid)
                self.assertEqual(len(sent), commits)
                info = sent[0]["info"]
                self.assertEqual((info["F"].hex().upper(), info["Z"], info["H"]), (small_fid, len(data), md5_pieces(data)))
        self.double.p2s_mode, self.double.p2s_status = "answer", 1

        with self.subTest("a dripping report ends at its deadline"):
            self.double.p2s_mode = "drip"
            directory, path, data = self.small("Drip")
            state, drip_fid = self.publish(directory)
            first = self.double.wait_for("commit", 30, where=lambda e: e.get("fid") == drip_fid)
            self.assertIsNotNone(first)
            time.sleep(3)
            self.double.p2s_mode = "answer"  # the next attempt is answered
            self.assertTrue(op.wait_until(lambda: drip_fid + " Report Error -9 " in self.report_log(), 30))
            ended = time.time()
            self.assertGreater(ended - first["time"], 8.5)
            self.assertLess(ended - first["time"], 14)
            self.assertTrue(op.wait_until(lambda: drip_fid + " Report ok " in self.report_log(), 30))

        with self.subTest("a stop during a dripping report ends within the stop's wait"):
            self.double.p2s_mode = "drip"
            directory, path, data = self.small("Stop")
            state, stop_fid = self.publish(directory)
            self.assertIsNotNone(self.double.wait_for("commit", 30, where=lambda e: e.get("fid") == stop_fid))
            time.sleep(1)
            started = time.time()
            with oc.ChannelClient(port=PORT) as c:
                self.assertEqual(c.send(oc.command(129)), struct.pack("<H", 200))
            self.assertEqual(proc.wait(60), 0, "OrchardSvc did not end after command 129")
            self.assertLess(time.time() - started, 10)
            log = self.main_log()
            self.assertNotIn("PUBTASK - waiting for the report thread to end", log)
            self.assertNotIn("PUBTASK - a thread did not end in time; it is left running", log)
            self.assertIn(stop_fid + " Report Error -9 ", self.report_log())
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
