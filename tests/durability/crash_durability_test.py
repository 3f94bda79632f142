#!/usr/bin/env python3
"""OrchardSvc killed while it publishes, 20 times, at random moments: ended
with TerminateProcess by another Windows program, or its Wine process sent
SIGKILL. It publishes directories of 50 files (three of them above 64 MiB,
so that their hash records are kept) added once with command 2.

After each kill, with no server running: the database as the next start
finds it passes PRAGMA integrity_check, keeps every row it had before, holds
no file twice and only rows with the right ids; every hash record in its
place is whole; every line of "PublishList.Log" is whole, each vxhd line is
followed by its FTP line, no file has two pairs and only stored files have
any. After each restart the stored files are shared again at start, and the
files without a row are published with no command from a user. At the end
every file is published, "LastPublish.txt" and "LastPublishFtp.txt" read
back, and the server stops cleanly.

A planted record with a torn body and a wrong fid for one large file is not
taken. ORCHARD_CRASH_SEED repeats a run's kill moments."""

import os
import random
import select
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "server", "hash", "tests"))
import file_ids_check  # noqa: E402
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
import stored_checks as sc  # noqa: E402
from orchard_server import PORT, PublishingServerTest, path_field, read_text, record_id, win  # noqa: E402

ARGS = None
ROUNDS = 20
FILES = 50
BIG = (64 << 20) + 1  # the smallest size whose hash record is kept
PUBLISHED = 8
DEADLINE = 900  # seconds for the whole test; every wait below is bounded too


def gbk(text):
    return text.encode("gbk").decode("gbk")


class CrashDurability(PublishingServerTest):
    work_prefix = "orchard_crash_"

    def setUp(self):
        super().setUp()
        seed = int(os.environ.get("ORCHARD_CRASH_SEED", time.time_ns() % 1000000))
        print("ORCHARD_CRASH_SEED=%d" % seed, flush=True)
        self.rng = random.Random(seed)
        self.started = time.monotonic()
        self.batches = []   # (windows path of the directory, table name)
        self.expected = {}  # windows path -> (size, fid, sid)
        self.stored = {}    # windows path -> (size, fid, sid), as found after the last kill
        self.planted = None  # the torn record's name, until the server replaces it
        self.holders = []

    def tearDown(self):
        for h in self.holders:
            if h.poll() is None:
                h.kill()
                h.wait(timeout=30)
        super().tearDown()
        # This test's records are of random files no one publishes again.
        for name, path in sc.hash_records(sc.hash_record_dir()).items():
            if name in {sid for _, _, sid in self.expected.values()}:
                os.remove(path)

    # ---- the files

    def add_batch(self):
        n = len(self.batches)
        folder = os.path.join(self.tree, "Batch%d" % n)
        os.makedirs(folder)
        big = set(self.rng.sample(range(FILES), 3))
        for i in range(FILES):
            path = os.path.join(folder, "clip%02d_%d.avi" % (i, n))
            if i in big:
                # Sparse but distinct: random data in the pieces the sample id reads.
                size = BIG + self.rng.randrange(1 << 20)
                with open(path, "wb") as f:
                    f.truncate(size)
                    for at in (0, size // 2 - (1 << 20), size - (1 << 20)):
                        f.seek(at)
                        f.write(os.urandom(1 << 20))
                with open(path, "rb") as f:
                    data = f.read()
            else:
                data = os.urandom(self.rng.randrange(1000, 300000))
                with open(path, "wb") as f:
                    f.write(data)
            ids = file_ids_check.ids(data)
            self.expected[win(path)] = (len(data), ids["fid"], ids["sid"])
        self.batches.append((win(folder), "_" + record_id(win(folder)).hex().upper()))
        return win(folder)

    def plant_torn_record(self, path):
        """A record for a large file whose body was cut short, and whose fid is wrong."""
        size, fid, sid = self.expected[path]
        folder = os.path.join(sc.hash_record_dir(), sid[:3])
        os.makedirs(folder, exist_ok=True)
        piece = file_ids_check.md5_piece_size(size)
        pieces = (size + piece - 1) // piece
        body = size.to_bytes(8, "little") + bytes(16) + os.urandom(16 * pieces)
        header = (1).to_bytes(4, "little") + sc.crc_register(body).to_bytes(4, "little") + \
            len(body).to_bytes(4, "little") + bytes(36)
        with open(os.path.join(folder, sid), "wb") as f:
            f.write(header + body[:len(body) // 2])
        self.planted = sid

    # ---- the server

    def run_messages(self):
        """The main log's messages since the last start of the server."""
        messages = self.main_log()
        starts = [i for i, m in enumerate(messages) if m.startswith("OrchardService(Version:")]
        return messages[starts[-1]:] if starts else []

    def boot(self):
        proc = op.WineProcess(self.args.wine, self.work, "OrchardSvc.exe", env=self.env)
        self.procs.append(proc)
        self.assertTrue(op.wait_for_port(PORT, 60, proc), "OrchardSvc did not open its channel")
        return proc

    def wait_login_and_reshare(self):
        self.assertTrue(op.wait_until(lambda: "P2PSvr - Running..." in self.run_messages(), 60),
                        "the P2P core never logged in")
        lines = lambda: {m for m in self.run_messages() if m.startswith("LoadFile - file add - ")}
        want = {"LoadFile - file add - " + gbk(p) for p in self.stored}
        self.assertTrue(op.wait_until(lambda: want <= lines(), 60),
                        "stored files not shared again at start: %s" % sorted(want - lines())[:5])

    def count(self, start):
        return sum(1 for m in self.run_messages() if m.startswith(start))

    def hold_database(self, ms):
        """Another program holding the database's write lock for ms, once it holds it."""
        holder = subprocess.Popen([self.args.wine, "hold_database.exe", win(os.path.join(self.work, "ZEDURE.db")),
                                   str(ms), "write"], cwd=self.args.bin, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.holders.append(holder)
        ready, _, _ = select.select([holder.stdout], [], [], 30)
        self.assertEqual(holder.stdout.readline().strip() if ready else b"", b"held", "hold_database did not hold")
        return holder

    def published(self, c):
        n = 0
        for folder, _ in self.batches:
            n += sum(1 for r in self.listing(c, folder).values() if r["state"] == PUBLISHED)
        return n

    def kill(self, proc, how):
        if how == "terminate":
            done = subprocess.run([self.args.wine, os.path.join(self.args.bin, "terminate_program.exe"),
                                   win(os.path.join(self.work, "OrchardSvc.exe"))],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=60)
            if done.returncode == 1 and not proc.running():
                return  # it had ended on its own: caught below
            self.assertEqual(done.returncode, 0, "TerminateProcess found no OrchardSvc")
            # Wine ends the Unix process on its own terms: its status is not the Windows exit code.
            self.assertIsNotNone(proc.wait(30), "OrchardSvc did not end after TerminateProcess")
        else:
            os.kill(proc.pid, signal.SIGKILL)
            self.assertEqual(proc.wait(30), -signal.SIGKILL)

    # ---- the checks with no server running

    def check_stored(self, label):
        rows, problems = sc.snapshot_db(self.work, [t for _, t in self.batches])
        self.assertEqual(problems, [], label)
        now = {}
        for table_rows in rows.values():
            now.update(table_rows)
        for path, row in now.items():
            self.assertEqual(row, self.expected.get(path), "%s: a row with wrong ids for %s" % (label, path))
        lost = set(self.stored) - set(now)
        self.assertEqual(lost, set(), "%s: stored rows lost" % label)
        self.stored = now

        # The data directory lies in the Wine prefix, shared with other tests: only this test's records.
        sids = {sid for _, _, sid in self.expected.values()}
        records = {n: p for n, p in sc.hash_records(sc.hash_record_dir()).items() if n in sids}
        for name, path in records.items():
            problem = sc.hash_record_problem(path)
            if name == self.planted:
                if problem is None:
                    self.planted = None  # replaced by the server's own record
                continue
            self.assertIsNone(problem, "%s: torn hash record %s" % (label, path))

        pairs, problems = sc.link_log(self.work)
        self.assertEqual(problems, [], "%s: PublishList.Log" % label)
        linked = [directory + "\\" + sc.VXHD.match(v).group(3) for _, directory, v, _ in pairs]
        twice = {p for p in linked if linked.count(p) > 1}
        self.assertEqual(twice, set(), "%s: files with two link pairs" % label)
        for (_, _, vxhd, _), path in zip(pairs, linked):
            size, fid, _ = self.stored.get(path, (None, None, None))
            self.assertEqual(vxhd, "vxhd://%s|%s|%s" % (size, fid, path.rsplit("\\", 1)[1]),
                             "%s: a link pair for a file without its row" % label)

    # ---- the test

    def test_kills_while_publishing(self):
        first = self.add_batch()
        big = sorted(p for p, (size, _, _) in self.expected.items() if size >= BIG)
        self.plant_torn_record(big[0])
        kills = {"terminate": 0, "sigkill": 0}
        for rnd in range(ROUNDS):
            self.assertLess(time.monotonic() - self.started, DEADLINE, "out of time after %d rounds" % rnd)
            how = "terminate" if rnd % 2 == 0 else "sigkill"
            proc = self.boot()
            mode = "progress" if rnd == 0 else self.rng.choices(
                ["start-up", "progress", "waiting save", "refused save"], [2, 4, 3, 2])[0]
            holder = None
            if mode == "start-up":
                # During start-up: the configuration, the database load, the loader.
                time.sleep(self.rng.uniform(0, 1.5))
            else:
                self.wait_login_and_reshare()
                with oc.ChannelClient(port=PORT) as c:
                    if rnd == 0:
                        self.assertEqual(oc.split_status(c.send(oc.command(2, path_field(first))))[0], 200)
                    elif self.published(c) == len(self.expected):
                        # All published: the next directory keeps the server busy.
                        folder = self.add_batch()
                        self.assertEqual(oc.split_status(c.send(oc.command(2, path_field(folder))))[0], 200)
                    if mode == "waiting save":
                        # Another program holds the database: the next save waits for it, and
                        # the kill comes between the file's share and its row.
                        shares = self.count("PUBTASK - AddShare - ")
                        holder = self.hold_database(self.rng.randint(800, 1800))
                        op.wait_until(lambda: self.count("PUBTASK - AddShare - ") > shares, 5, 0.01)
                    else:
                        if mode == "refused save":
                            # Held longer than the server waits: a save fails and is retried.
                            failed = self.count("PUBTASK - SaveFile failed")
                            holder = self.hold_database(3000)
                            op.wait_until(lambda: self.count("PUBTASK - SaveFile failed") > failed, 6, 0.05)
                            self.assertEqual(holder.wait(timeout=10), 0)
                        goal = min(self.published(c) + self.rng.randint(0, 3), len(self.expected))
                        op.wait_until(lambda: self.published(c) >= goal, 30, 0.05)
                        time.sleep(self.rng.uniform(0, 0.3))
            self.assertTrue(proc.running(), "OrchardSvc ended before its kill in round %d" % rnd)
            self.kill(proc, how)
            kills[how] += 1
            if holder:
                holder.wait(timeout=10)
            self.check_stored("after kill %d (%s, %s)" % (rnd + 1, how, mode))
            print("round %d: %s, %s, %d of %d stored" % (rnd + 1, how, mode, len(self.stored), len(self.expected)),
                  flush=True)
        self.assertEqual(kills, {"terminate": ROUNDS // 2, "sigkill": ROUNDS - ROUNDS // 2})

        # The last start: everything left is published without a command.
        proc = self.boot()
        self.wait_login_and_reshare()
        with oc.ChannelClient(port=PORT) as c:
            self.assertTrue(op.wait_until(lambda: self.published(c) == len(self.expected), 240, 0.5),
                            "not every file was published after the restarts")
            listed = []
            for folder, _ in self.batches:
                listed += list(self.listing(c, folder))
            self.assertEqual(len(listed), len(set(listed)), "a file listed twice")
        self.assertTrue(op.wait_until(lambda: any(m.startswith("DoOutput end") for m in self.run_messages()), 60),
                        "the automatic-publish thread wrote no link files")
        fids = {fid for _, fid, _ in self.expected.values()}
        shared = lambda: fids <= {f for e in self.doubles.events if e["kind"] == "share_batch" for f in e["fids"]}
        self.assertTrue(op.wait_until(shared, 120), "the super node never got every file id")
        self.assertIn("%s Load HashInfo fail!\n" % gbk(big[0]), self.main_log())
        self.stop(proc)

        self.check_stored("after the last stop")
        self.assertEqual(self.stored, self.expected)
        self.assertIsNone(self.planted, "the planted torn record was not replaced by a whole one")
        pairs, _ = sc.link_log(self.work)
        vxhd_links, problems = sc.last_publish_links(os.path.join(self.work, "LastPublish.txt"), sc.VXHD.pattern)
        self.assertEqual(problems, [], "LastPublish.txt")
        ftp_links, problems = sc.last_publish_links(os.path.join(self.work, "LastPublishFtp.txt"), sc.FTP.pattern)
        self.assertEqual(problems, [], "LastPublishFtp.txt")
        # What the link log held when the files were written: every pair once.
        written = {v for _, _, v, _ in pairs}
        self.assertLessEqual(set(vxhd_links), written)
        self.assertLessEqual(set(ftp_links), {f for _, _, _, f in pairs})
        self.assertGreaterEqual(len(written), len(self.expected) - ROUNDS,
                                "more link pairs missing than kills that could have cut them off")
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
