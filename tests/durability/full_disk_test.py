#!/usr/bin/env python3
"""OrchardSvc on a disk that fills up: one small tmpfs holds its program
folder (the programs, "ZEDURE.db", the logs, "PublishList.Log") and its data
folder (ODStore with the hash records).

With room, a directory is published. Then the disk is filled to the last
byte: adding a directory (command 1) and publishing a new one (command 2)
answer 500, a directory's new files (command 17) are tried but never listed
as published, and what was stored stays listed. Once the room is back the
server goes on by itself: the new files are published, the directories can
be added. At the end the database passes PRAGMA integrity_check and holds
the first rows unchanged, the hash records are whole, and no entry of the
logs is torn.

The test needs its own mount namespace (it re-runs itself under
`unshare -m`, as root) and a wineserver of its own that sees its mounts: it
runs one on an overlay of the Wine prefix, so nothing it does reaches the
shared prefix. Without root it is skipped (exit code 77)."""

import os
import re
import shutil
import socket
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "server", "hash", "tests"))

import own_mounts  # noqa: E402

if __name__ == "__main__":
    own_mounts.reexec_unless_own("full-disk test", "mount a tmpfs")

import file_ids_check  # noqa: E402
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
import stored_checks as sc  # noqa: E402
from orchard_server import PORT, PublishingServerTest, path_field, record_id, win  # noqa: E402

ARGS = None
PUBLISHED, PUBLISHING = 8, 7
NOT_STORED = 500
BIG = (64 << 20) + 1
ROOM = 6 << 20  # beside the programs
ENTRY = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\] ")


class FullDisk(PublishingServerTest):
    work_prefix = "orchard_fulldisk_"

    def setUp(self):
        self.mounts = own_mounts.OwnMounts(prefix="orchard_fulldisk_mounts_")
        self.scratch = self.mounts.scratch
        self.mounts.own_prefix()
        super().setUp()
        self.move_onto_tmpfs()

    def tearDown(self):
        super().tearDown()
        self.mounts.close()

    def move_onto_tmpfs(self):
        """One small tmpfs for the program folder and the data folder."""
        used = sum(os.path.getsize(os.path.join(self.work, n)) for n in os.listdir(self.work))
        self.disk = os.path.join(self.scratch, "disk")
        os.makedirs(self.disk)
        self.mounts.mount("-t", "tmpfs", "-o", "size=%d" % (used + ROOM), "tmpfs", self.disk)
        program = os.path.join(self.disk, "program")
        shutil.copytree(self.work, program)
        shutil.rmtree(self.work)
        self.work = program
        self.env["TALLYHUB_REPORT_FILE"] = win(os.path.join(program, "tally.txt"))
        store = os.path.join(self.disk, "ODStore")
        os.makedirs(store)
        self.data = os.path.dirname(sc.hash_record_dir())
        os.makedirs(self.data, exist_ok=True)
        self.mounts.mount("--bind", store, self.data)

    def fill(self):
        """Takes every byte left on the tmpfs."""
        fd = os.open(os.path.join(self.disk, "filler"), os.O_WRONLY | os.O_CREAT, 0o600)
        try:
            for chunk in (1 << 20, 1 << 16, 1 << 12, 1 << 8, 1):
                block = b"\0" * chunk
                while True:
                    try:
                        if os.write(fd, block) < chunk:
                            break
                    except OSError:
                        break
        finally:
            os.close(fd)
        self.assertEqual(os.statvfs(self.disk).f_bavail, 0)

    def free(self):
        os.remove(os.path.join(self.disk, "filler"))

    # ---- the files

    def make(self, rel, size):
        path = os.path.join(self.tree, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            if size >= BIG:
                f.truncate(size)
                for at in (0, size // 2, size - 4096):
                    f.seek(at)
                    f.write(os.urandom(4096))
            else:
                f.write(os.urandom(size))
        with open(path, "rb") as f:
            ids = file_ids_check.ids(f.read())
        self.expected[win(path)] = (size, ids["fid"], ids["sid"])
        return win(path)

    def states(self, c, folder):
        return {p: r["state"] for p, r in self.listing(c, folder).items()}

    def dirs(self, c):
        st, payload = oc.split_status(c.send(oc.command(33)))
        self.assertEqual(st, 200)
        (n,) = struct.unpack_from("<I", payload, 0)
        return {payload[4 + i * 540 + 16:4 + i * 540 + 536].decode("utf-16-le").split("\0", 1)[0] for i in range(n)}

    def status(self, c, code, path):
        return oc.split_status(c.send(oc.command(code, path_field(path))))[0]

    # ---- the test

    def test_full_disk(self):
        self.expected = {}
        first = [self.make("A/a%d.avi" % i, 2000 + 3000 * i) for i in range(6)] + [self.make("A/big.mkv", BIG + 7)]
        folder_a, folder_b, folder_c = (win(os.path.join(self.tree, n)) for n in "ABC")
        os.makedirs(os.path.join(self.tree, "B"))
        later = [self.make("A/later.avi", 4321), self.make("A/later_big.mkv", BIG + 99)]
        for p in later:  # kept aside until the disk is full
            os.rename(p[2:].replace("\\", "/"), p[2:].replace("\\", "/") + ".hold")
        c_files = [self.make("C/c%d.wmv" % i, 1500 + i) for i in range(3)]
        table_a = "_" + record_id(folder_a).hex().upper()

        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(self.status(c, 2, folder_a), 200)
            self.assertTrue(op.wait_until(lambda: all(self.states(c, folder_a).get(p) == PUBLISHED for p in first),
                                          120), "the first files were not published")
        before, problems = sc.snapshot_db(self.work, [table_a])
        self.assertEqual(problems, [])
        self.assertEqual(before[table_a], {p: self.expected[p] for p in first})
        big_sid = self.expected[first[-1]][2]
        self.assertIsNone(sc.hash_record_problem(sc.hash_records(sc.hash_record_dir())[big_sid]))

        for p in later:
            os.rename(p[2:].replace("\\", "/") + ".hold", p[2:].replace("\\", "/"))
        self.fill()
        with oc.ChannelClient(port=PORT) as c:
            with self.subTest("full: directories are not added"):
                self.assertEqual(self.status(c, 1, folder_b), NOT_STORED)
                self.assertEqual(self.status(c, 2, folder_c), NOT_STORED)
                self.assertEqual(self.dirs(c), {folder_a})
            with self.subTest("full: new files are tried, never published"):
                self.assertEqual(c.send(oc.command(17, path_field(folder_a))), b"")
                seen = set()
                deadline = time.monotonic() + 8
                while time.monotonic() < deadline:
                    states = self.states(c, folder_a)
                    for p in later:
                        self.assertNotEqual(states[p], PUBLISHED, "listed as published without its row")
                        seen.add((p, states[p]))
                    for p in first:
                        self.assertEqual(states[p], PUBLISHED)
                    time.sleep(0.05)
                self.assertIn((later[1], PUBLISHING), seen, "the large new file was never tried")
        self.assertTrue(proc.running(), "OrchardSvc ended on the full disk")
        self.free()

        with oc.ChannelClient(port=PORT) as c:
            with self.subTest("room again: the server goes on"):
                self.assertTrue(op.wait_until(lambda: all(self.states(c, folder_a)[p] == PUBLISHED for p in later),
                                              120, 0.5), "the new files were not published once there was room")
                self.assertEqual(self.status(c, 1, folder_b), 200)
                self.assertEqual(self.status(c, 2, folder_c), 200)
                self.assertTrue(op.wait_until(
                    lambda: all(self.states(c, folder_c).get(p) == PUBLISHED for p in c_files), 120, 0.5))
        self.stop(proc)

        table_c = "_" + record_id(folder_c).hex().upper()
        after, problems = sc.snapshot_db(self.work, [table_a, table_c])
        self.assertEqual(problems, [])
        self.assertEqual(after[table_a], {p: self.expected[p] for p in first + later})
        self.assertEqual(after[table_c], {p: self.expected[p] for p in c_files})
        records = sc.hash_records(sc.hash_record_dir())
        for p in (first[-1], later[1]):
            self.assertIsNone(sc.hash_record_problem(records[self.expected[p][2]]), p)
        pairs, problems = sc.link_log(self.work)
        self.assertEqual(problems, [])
        self.assertEqual(sorted(d + "\\" + sc.VXHD.match(v).group(3) for _, d, v, _ in pairs),
                         sorted(first + later + c_files), "each stored file's link pair once")
        # An entry cut short where the disk ran out would end in the middle of
        # its text: here, of a path (each is whole) or of its time.
        tree = win(self.tree)
        whole = {"", "A", "B", "C"} | {p[len(tree) + 1:] for p in self.expected} | \
            {p[len(tree) + 1:] + ".hold" for p in later}
        for name in ("od_server.Log", "PublishList.Log"):
            with open(os.path.join(self.work, name), "rb") as f:
                chunks = [x for x in f.read().decode("gbk", errors="replace").split("\r\n") if x]
            torn = [x for x in chunks if not ENTRY.match(x)]
            for x in chunks:
                for at in (m.end() for m in re.finditer(re.escape(tree), x)):
                    rest = re.match(r"(?:\\([^:,\s\\]+(?:\\[^:,\s\\]+)*))?", x[at:]).group(1) or ""
                    if rest not in whole:
                        torn.append(x)
            self.assertEqual(torn, [], "torn entries in %s" % name)
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
