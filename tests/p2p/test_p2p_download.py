"""Seedlift.dll fetches files from seeding peers, under Wine.

A small download client (seedlift_task_driver.exe) loads the library, logs in
to the P2P doubles and creates download tasks through the task exports with
an event callback and a write routine that writes to a file. The super node
double answers the tasks' peer queries with lists naming seeding peers
(tests/lib/p2p_seeders.py): honest ones, one that lies for some blocks, one
that drops a share of its packets, one that goes silent and a slow one.

    test_p2p_download.py --bin build/win/bin --wine wine
"""
import os
import shutil
import socket
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "lib"))
sys.path.insert(0, HERE)
import p2p_doubles  # noqa: E402
from orchard_proc import run_unittests  # noqa: E402
from p2p_doubles import free_port  # noqa: E402
from p2p_seeders import SeedingPeer  # noqa: E402
from seedlift_driver import SeedliftDriver, windows_path  # noqa: E402

BLOCK = 1024


class Driver(SeedliftDriver):
    """The download client: commands in, answers and events out, every line kept."""

    def __init__(self, wine, bin_dir, app_dir):
        super().__init__(wine, bin_dir, "seedlift_task_driver.exe", app_dir)


class Download(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="p2p_download_")
        ports = dict(cp_port=free_port(), cp_tcp_port=0, sp_port=free_port(), up_port=free_port(socket.SOCK_STREAM),
                     nat_port=free_port())
        with open(os.path.join(cls.dir, "P2PCfg.ini"), "w", newline="\r\n") as f:
            f.write("[Netcard]\ntcp_port=%d\n[OthersSet]\nServHost=127.0.0.1\nServPort=%d\nDebug=8\nForceTcp=1\n"
                    "LocalShareList=1\n[AdvanceSet]\nUserID=0\n" % (free_port(socket.SOCK_STREAM), ports["cp_port"]))
        cls.doubles = p2p_doubles.Doubles(log_path=os.path.join(cls.dir, "doubles.log"), echo=False, **ports).start()
        cls.driver = Driver(ARGS.wine, ARGS.bin, cls.dir)
        assert cls.driver.ask("init %d" % free_port(), "ok init") == "ok init 1 1"
        deadline = time.time() + 60
        while time.time() < deadline:
            if cls.driver.ask("id", "id ").split()[1] == "1":
                break
            time.sleep(0.5)
        else:
            raise AssertionError("the core never logged in")
        cls.user_id = int(cls.driver.ask("id", "id ").split()[2])
        cls.next_task = 1
        cls.failed = False

    @classmethod
    def tearDownClass(cls):
        cls.driver.close()
        cls.doubles.stop()
        if not cls.failed:
            shutil.rmtree(cls.dir, ignore_errors=True)
        else:
            print("kept %s for inspection" % cls.dir)

    def run(self, result=None):
        result = super().run(result)
        if result and (result.failures or result.errors):
            type(self).failed = True
            print(self.core_log()[-6000:])
        return result

    def core_log(self):
        path = os.path.join(self.dir, "log", "p2pbase.log")
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("gbk", errors="replace")

    # --- helpers

    def new_file(self, blocks, tail=0):
        n = type(self).next_task
        type(self).next_task += 1
        fid = bytes([0xA0 + n]) + os.urandom(15)
        data = os.urandom(blocks * BLOCK + tail)
        return n, fid, data

    def seeders(self, fid, data, kinds):
        peers = []
        for k, options in enumerate(kinds):
            p = SeedingPeer(fid, data, 7000 + 100 * self.next_task + k, **options).start()
            self.addCleanup(p.stop)
            peers.append(p)
        return peers

    def start_task(self, n, fid, data, peers):
        self.doubles.peer_lists[fid] = [p.entry() for p in peers]
        path = os.path.join(self.dir, "task%d.bin" % n)
        answer = self.driver.ask("task %d %s %d %s" % (n, fid.hex().upper(), len(data), windows_path(path)),
                                 "task %d " % n)
        self.assertEqual(answer, "task %d 1 1" % n)
        return path

    def wait_done(self, n, path, data, timeout=90):
        """Every block written, and the file's bytes those of the source (a
        lying peer's blocks are written until it is found out, then fetched again)."""
        self.driver.wait_line("done %d " % n, timeout)
        deadline = time.time() + 30
        while True:
            with open(path, "rb") as f:
                got = f.read()
            wrong = [b for b in range((len(data) + BLOCK - 1) // BLOCK)
                     if got[b * BLOCK:(b + 1) * BLOCK] != data[b * BLOCK:(b + 1) * BLOCK]]
            if (len(got), wrong) == (len(data), []) or time.time() > deadline:
                break
            time.sleep(0.5)
        self.assertEqual(len(got), len(data))
        self.assertEqual(wrong, [], "blocks that differ from the source")

    def peers(self, n):
        rows = {}
        for row in self.driver.ask_lines("peers %d" % n, "peer %d " % n, "peers %d " % n):
            _, _, user, state, percent, blocks, requests, resends, unknown, nat = row.split(" ", 9)
            rows[int(user)] = dict(state=int(state), percent=int(percent), blocks=int(blocks),
                                   requests=int(requests), resends=int(resends), unknown=int(unknown), nat=nat)
        return rows

    def info(self, n):
        fields = self.driver.ask("info %d" % n, "info %d " % n).split()[2:]
        names = ["result", "known", "connected", "full", "partial", "server", "failed", "state", "links"]
        return dict(zip(names, map(int, fields)))

    def events(self, n, kind):
        return [t.split() for _, t in self.driver.texts("event %d %d " % (n, kind))]

    # --- cases

    def test_three_seeders(self):
        """Full cone, restricted (call-me through the super node) and one that answers through it."""
        n, fid, data = self.new_file(300, tail=517)
        sp = ("127.0.0.1", self.doubles.ports["sp"])
        peers = self.seeders(fid, data, [dict(nat_type=0x11), dict(nat_type=0x13), dict(nat_type=0x14, answer_via=sp)])
        path = self.start_task(n, fid, data, peers)
        self.wait_done(n, path, data)
        query = self.doubles.wait_for("peer_query", 5, where=lambda e: e["fid"] == fid.hex().upper())
        self.assertEqual((query["user_id"], query["wanted"]), (self.user_id, 999))
        called = {e["target_id"] for e in self.doubles.of_kind("call_me_request")}
        self.assertEqual(called & {p.user_id for p in peers}, {peers[1].user_id, peers[2].user_id},
                         "call-me goes only to the peers behind a NAT")
        self.assertIsNotNone(self.doubles.wait_for("handshake_relay", 5,
                                                   where=lambda e: e["user_id"] == peers[2].user_id))
        served = [p.count("sent") for p in peers]
        self.assertEqual(sum(1 for s in served if s), 3, "blocks served by %s" % served)
        rows = self.peers(n)
        self.assertEqual(set(rows), {p.user_id for p in peers})
        self.assertEqual([rows[p.user_id]["nat"] for p in peers],
                         ["Public(FullCone)", "Public(PortRestricted)", "Public(Symmetric)"])
        self.assertGreaterEqual(sum(r["blocks"] for r in rows.values()), 301)
        info = self.info(n)
        self.assertEqual((info["result"], info["server"], info["links"], info["state"], info["failed"]),
                         (1, 3, 3, 2, 0))
        servers = self.driver.ask_lines("servers %d" % n, "server %d " % n, "servers %d " % n)
        self.assertEqual(len(servers), 1)
        _, _, kind, value, port, queries, lists, address, name = servers[0].split()
        self.assertEqual((kind, value, int(port), name), ("3", "1000", self.doubles.ports["sp"], "P2PSP"))
        self.assertGreaterEqual(int(lists), 1)
        self.assertGreater(int(self.driver.ask("status %d" % n, "status %d " % n).split()[2]), 0)
        self.assertEqual(self.events(n, 1)[0][4:], ["3", "3"], "event 1: new links and server sources")

    def test_lying_peer_is_dropped(self):
        """Three partial sources; one sends wrong bytes for the first half of the file."""
        blocks = 200
        n, fid, data = self.new_file(blocks)
        holes = [blocks - 1, blocks - 2, blocks - 3]
        maps = [[(0, h), (h + 1, blocks)] for h in holes]
        peers = self.seeders(fid, data, [dict(have=maps[0]), dict(have=maps[1]),
                                         dict(have=maps[2], kind="liar", lie=lambda b: b < blocks // 2)])
        liar = peers[2]
        path = self.start_task(n, fid, data, peers)
        self.wait_done(n, path, data)
        bad = self.events(n, 3)
        self.assertEqual([int(e[3]) for e in bad], [liar.user_id], "event 3 names the liar only")
        self.assertIn(liar.user_id, [int(e[3]) for e in self.events(n, 4)])
        self.assertNotIn(liar.user_id, self.peers(n))
        self.assertEqual(self.info(n)["failed"], 1)
        # Another query names it again: it gets no link, no contact and no request.
        verdict = time.time()
        lists = self.doubles.count("peer_query")
        self.assertEqual(self.driver.ask("search %d" % n, "search %d " % n), "search %d 1" % n)
        self.doubles.wait_for("peer_query", 10, count=lists + 1)
        time.sleep(2)
        self.assertEqual(liar.count("have_map", since=verdict) + liar.count("get_file_data", since=verdict), 0)
        self.assertNotIn(liar.user_id, self.peers(n))
        # The task's own map, now whole, goes to the partial sources that remain.
        self.assertEqual(self.driver.ask("finish %d" % n, "finish %d " % n), "finish %d 1" % n)
        for p in peers[:2]:
            got = p.wait_for("have_map", 10, where=lambda e: e["code"] == 53 and e["ranges"] == [(0, blocks)])
            self.assertIsNotNone(got, "seeder %d never got the finished map" % p.user_id)
        self.assertIn("shit : answer groups:2", self.core_log())

    def test_lossy_peer(self):
        """One seeder that drops a quarter of its packets: retransmission fetches them."""
        n, fid, data = self.new_file(120, tail=1)
        [lossy] = self.seeders(fid, data, [dict(kind="lossy", drop_share=0.25, seed=7)])
        path = self.start_task(n, fid, data, [lossy])
        self.wait_done(n, path, data, timeout=120)
        self.assertGreater(lossy.count("dropped"), 0)
        row = self.peers(n)[lossy.user_id]
        self.assertGreater(row["resends"], 0)
        self.assertGreaterEqual(row["blocks"], 121)
        asked = [b for e in lossy.of_kind("get_file_data") for b in e["blocks"]]
        self.assertEqual(set(asked), set(range(121)))

    def test_silent_peer(self):
        """A seeder that stops answering after a few blocks: the others finish, its link goes."""
        n, fid, data = self.new_file(150)
        peers = self.seeders(fid, data, [dict(), dict(kind="silent", serve=5)])
        silent = peers[1]
        path = self.start_task(n, fid, data, peers)
        self.wait_done(n, path, data)
        self.assertEqual(silent.count("sent"), 5)
        # Quiet for its retry period (30 to 35 s) while blocks are awaited: removed.
        self.driver.wait_line("event %d 4 %d" % (n, silent.user_id), 60)
        self.assertNotIn(silent.user_id, self.peers(n))
        self.assertEqual(self.info(n)["failed"], 1)

    def test_peer_introduced_by_the_super_node(self):
        """Task command 14: the super node names a peer the list did not."""
        n, fid, data = self.new_file(40)
        [late] = self.seeders(fid, data, [dict()])
        path = self.start_task(n, fid, data, [])
        self.doubles.wait_for("peer_query", 10, where=lambda e: e["fid"] == fid.hex().upper())
        self.doubles.introduce(fid, len(data), late.user_id, "127.0.0.1", late.port)
        self.wait_done(n, path, data)
        self.assertGreater(late.count("sent"), 0)

    def test_delete_while_blocks_are_in_flight(self):
        n, fid, data = self.new_file(400)
        [slow] = self.seeders(fid, data, [dict(kind="slow", delay=0.02)])
        self.start_task(n, fid, data, [slow])
        deadline = time.time() + 60
        while int(self.driver.ask("writes %d" % n, "writes %d " % n).split()[2]) < 20:
            self.assertLess(time.time(), deadline, "no blocks arrived")
            time.sleep(0.2)
        began = time.time()
        answer = self.driver.ask("delete %d" % n, "deleted %d " % n)
        self.assertLess(time.time() - began, 5, "delete_p2p_task took too long")
        self.assertEqual(answer.split()[2], "1")
        written = int(answer.split()[3])
        self.assertLess(written, 400, "the task finished before it was deleted")
        # The seeder still answers what it was asked before: those blocks arrive and are not written.
        sent = slow.count("sent")
        time.sleep(3)
        self.assertGreater(slow.count("sent"), sent, "no block was in flight at the delete")
        self.assertEqual(self.driver.texts("late %d " % n), [], "writes after delete_p2p_task returned")
        self.assertEqual(int(self.driver.ask("writes %d" % n, "writes %d " % n).split()[2]), written)
        # The handle is gone: its exports refuse it.
        self.assertEqual(self.driver.ask("search %d" % n, "search %d " % n), "search %d 0" % n)


if __name__ == "__main__":
    run_unittests()
