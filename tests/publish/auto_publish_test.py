#!/usr/bin/env python3
"""Automatic publishing end to end under Wine: OrchardSvc with its P2P core
logged in against the P2P doubles and its FTP side on the Ferryline stand-in.
Command 5 names a directory; files copied into it from outside are published
(state 8 through command 34, their links in "PublishList.Log"), and so are
files of a new or moved-in sub-directory; a changed file is published again, a
removed one is cancelled (its row deleted), a rename is only logged, an empty
file is published once it has grown, a burst of files is published whole; command 5 with an empty path stops the watch; the stop
sequence stops the watcher first; after a restart the loader starts the watch
on the kept directory again."""

import configparser
import os
import shutil
import socket
import sqlite3
import struct
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "p2p"))
sys.path.insert(0, os.path.join(ROOT, "server", "hash", "tests"))
import file_ids_check  # noqa: E402
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
import orchard_records as rec  # noqa: E402
import p2p_doubles  # noqa: E402
from p2p_doubles import free_port  # noqa: E402

ARGS = None
PORT = 9090
PUBLISHED = 8


def write(folder, name, text):
    with open(os.path.join(folder, name), "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))


class AutoPublish(unittest.TestCase):
    def setUp(self):
        self.assertFalse(op.port_open(PORT), "port 9090 is taken before the test")
        names = [n for n in os.listdir(ARGS.bin) if n == "OrchardSvc.exe" or n.lower().endswith(".dll")]
        self.work = op.make_work_dir(ARGS.bin, names, prefix="orchard_autopub_")
        self.tree = tempfile.mkdtemp(prefix="orchard_autotree_")
        self.outside = tempfile.mkdtemp(prefix="orchard_autosrc_")
        ports = dict(cp_port=free_port(socket.SOCK_DGRAM), cp_tcp_port=0, sp_port=free_port(socket.SOCK_DGRAM),
                     up_port=free_port(socket.SOCK_STREAM), nat_port=free_port(socket.SOCK_DGRAM))
        write(self.work, "od_svr_cfg.ini", "[service]\nservicetype=3\n[p2p]\nport=%d\nloglevel=9\n"
              % free_port(socket.SOCK_DGRAM))
        write(self.work, "P2PCfg.ini", "[Netcard]\ntcp_port=%d\n[OthersSet]\nServHost=127.0.0.1\nServPort=%d\n"
              "Debug=8\n[AdvanceSet]\nUserID=0\n" % (free_port(socket.SOCK_STREAM), ports["cp_port"]))
        write(self.work, "P2SCfg.ini", "[Serv]\nHost=127.0.0.1\nPort=%d\n" % free_port(socket.SOCK_STREAM))
        write(self.work, "Ferryline.ini", "[ftp]\nhost=ftp.test\n")
        write(self.work, "od_svr_ftp.exe", "")
        self.env = dict(os.environ, TALLYHUB_REPORT_FILE=rec.win(os.path.join(self.work, "tally.txt")))
        self.doubles = p2p_doubles.Doubles(log_path=os.path.join(self.work, "doubles.log"), echo=False,
                                           **ports).start()
        self.proc = None
        self.passed = False

    def tearDown(self):
        if self.proc:
            self.proc.kill()
        self.doubles.stop()
        if self.passed:
            op.remove_work_dir(self.work)
        else:
            print("kept %s" % self.work)
        shutil.rmtree(self.tree, ignore_errors=True)
        shutil.rmtree(self.outside, ignore_errors=True)

    def log(self):
        return op.log_messages(os.path.join(self.work, "od_server.Log")) or []

    def links(self):
        return [e.split(",", 1)[1] for e in op.log_messages(os.path.join(self.work, "PublishList.Log")) or []]

    def start(self, logins):
        self.proc = op.WineProcess(ARGS.wine, self.work, "OrchardSvc.exe", env=self.env)
        self.assertTrue(op.wait_for_port(PORT, 60, self.proc), "OrchardSvc did not open its channel")
        self.assertIsNotNone(self.doubles.wait_for("login", 60, count=logins), "the P2P core never logged in")
        self.assertTrue(op.wait_until(lambda: self.log().count("P2PSvr - Running...") >= logins, 30),
                        "the login poll did not start publishing")

    def stop(self):
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(129)), struct.pack("<H", 200))
        self.assertEqual(self.proc.wait(60), 0, "OrchardSvc did not end after command 129")
        self.proc = None

    def listing(self, path):
        with oc.ChannelClient(port=PORT) as c:
            status, payload = oc.split_status(c.send(oc.command(34, rec.path_field(path))))
        self.assertEqual(status, 200)
        return rec.parse_file_list(payload) if payload else {}

    def copy_in(self, name, data):
        """Written outside the watched tree, then copied in, as a user copies a file."""
        source = os.path.join(self.outside, os.path.basename(name))
        with open(source, "wb") as f:
            f.write(data)
        target = os.path.join(self.tree, *name.split("/"))
        shutil.copyfile(source, target)
        return rec.win(target)

    def published(self, path, data, seconds=60):
        """True once command 34 lists the file published with the size and file id of data."""
        fid = file_ids_check.ids(data)["fid"]
        directory = path.rsplit("\\", 1)[0]
        done = lambda: (lambda r: r is not None and (r["state"], r["size"], r["fid"]) == (PUBLISHED, len(data), fid))(
            self.listing(directory).get(path))
        return op.wait_until(done, seconds, 0.2)

    def vxhd_line(self, path, data):
        directory, name = path.rsplit("\\", 1)
        return "%s,vxhd://%d|%s|%s" % (directory, len(data), file_ids_check.ids(data)["fid"], name)

    def test_watch_publish_cancel_and_restart(self):
        watched = rec.win(self.tree)
        first = os.urandom(40000)
        with open(os.path.join(self.tree, "first.avi"), "wb") as f:
            f.write(first)
        self.start(logins=1)
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(5, rec.path_field(watched))), b"", "command 5 answers nothing")

        with self.subTest("the directory is published when the watch starts"):
            self.assertTrue(self.published(watched + "\\first.avi", first))
            self.assertEqual(sum(m.startswith("AutoPublish Start, ThreadID=(") for m in self.log()), 2,
                             "the automatic-publish thread and the watcher")
        time.sleep(0.5)

        files = {}
        with self.subTest("a file copied in is published"):
            files["b.mkv"] = os.urandom(70001)
            b = self.copy_in("b.mkv", files["b.mkv"])
            self.assertTrue(self.published(b, files["b.mkv"]))
            self.assertIn("AutoPub - added - " + b, self.log())
            self.assertIn(self.vxhd_line(b, files["b.mkv"]), self.links())
            self.assertIn("%s,ftp://ftp.test/%s/b.mkv" % (watched, rec.record_id(watched).hex().upper()), self.links())

        with self.subTest("a changed file is published again"):
            files["first.avi"] = first + os.urandom(999)
            path = self.copy_in("first.avi", files["first.avi"])
            self.assertTrue(self.published(path, files["first.avi"]))
            self.assertIn("AutoPub - modified - " + path, self.log())
            self.assertIn(self.vxhd_line(path, files["first.avi"]), self.links())

        with self.subTest("an empty file is published once it has grown"):
            z = self.copy_in("z.wmv", b"")
            self.assertTrue(op.wait_until(lambda: any(m.startswith("AutoPub - 1(") and m.endswith(z)
                                                      for m in self.log()), 20))
            time.sleep(1)
            self.assertNotIn("PUBTASK - ADDTask " + z, self.log(), "an empty file is not queued")
            files["z.wmv"] = os.urandom(5000)
            with open(os.path.join(self.tree, "z.wmv"), "ab") as f:
                f.write(files["z.wmv"])
            self.assertTrue(self.published(z, files["z.wmv"]))

        with self.subTest("a file in a new sub-directory"):
            os.mkdir(os.path.join(self.tree, "season2"))
            files["season2/e.mp4"] = os.urandom(3000)
            e = self.copy_in("season2/e.mp4", files["season2/e.mp4"])
            self.assertTrue(self.published(e, files["season2/e.mp4"]))

        with self.subTest("a directory moved in with its files"):
            os.mkdir(os.path.join(self.outside, "season3"))
            files["season3/f.mkv"] = os.urandom(6000)
            with open(os.path.join(self.outside, "season3", "f.mkv"), "wb") as f:
                f.write(files["season3/f.mkv"])
            os.rename(os.path.join(self.outside, "season3"), os.path.join(self.tree, "season3"))
            self.assertTrue(self.published(watched + "\\season3\\f.mkv", files["season3/f.mkv"]))
            self.assertIn("AutoPub - added - " + watched + "\\season3", self.log())

        with self.subTest("a removed file is cancelled"):
            b = watched + "\\b.mkv"
            os.remove(os.path.join(self.tree, "b.mkv"))
            lines = ["AutoPub - removed - " + b, "cancel published file " + b, "delete from p2p", "delete from database"]
            self.assertTrue(op.wait_until(lambda: lines[0] in self.log(), 20), "the removal was not seen")
            self.assertTrue(op.wait_until(lambda: "delete from database" in self.log()[self.log().index(lines[0]):], 10))
            rest = self.log()[self.log().index(lines[0]):]
            self.assertEqual([m for m in rest if m in lines][:4], lines)

        with self.subTest("a rename is only logged"):
            old, new = watched + "\\z.wmv", watched + "\\renamed.wmv"
            os.rename(os.path.join(self.tree, "z.wmv"), os.path.join(self.tree, "renamed.wmv"))
            self.assertTrue(op.wait_until(lambda: any(m.startswith("AutoPub - 5(") and m.endswith(new)
                                                      for m in self.log()), 20))
            self.assertTrue(any(m.startswith("AutoPub - 4(") and m.endswith(old) for m in self.log()))
            time.sleep(1)
            messages = self.log()
            self.assertNotIn("cancel published file " + old, messages)
            self.assertNotIn("AutoPub - added - " + new, messages)
            self.assertNotIn("PUBTASK - ADDTask " + new, messages)

        with self.subTest("a burst of files is published whole"):
            burst = {"burst_of_files_with_longer_names_%02d.avi" % i: os.urandom(1000 + i) for i in range(40)}
            for name, data in burst.items():
                self.copy_in(name, data)
            for name, data in burst.items():
                self.assertTrue(self.published(watched + "\\" + name, data, 120), name)
            files.update(burst)
            print("rescans after overflow: %d" % sum(m.startswith("AutoPub - changes overflowed, rescan")
                                                     for m in self.log()))

        with self.subTest("command 5 with an empty path stops the watch"):
            with oc.ChannelClient(port=PORT) as c:
                self.assertEqual(c.send(oc.command(5, rec.path_field(""))), b"")
            late = self.copy_in("late.avi", os.urandom(2000))
            time.sleep(3)
            self.assertFalse(any(m.endswith(late) for m in self.log()), "a stopped watch sees nothing")
            os.remove(os.path.join(self.tree, "late.avi"))

        self.stop()
        messages = self.log()
        with self.subTest("the watcher stops first"):
            at = messages.index("Stop Server")
            self.assertTrue(messages[at + 1].startswith("Monitor "))
            self.assertEqual(messages[at + 2:at + 4], ["UnInit - DirWatcher", "UnInit - Database"])
        parser = configparser.ConfigParser(interpolation=None)
        parser.read(os.path.join(self.work, "od_svr_cfg.ini"), encoding="gbk")
        self.assertEqual(parser["auto"]["dir"], watched, "an empty path keeps the setting")
        con = sqlite3.connect(os.path.join(self.work, "ZEDURE.db"))
        try:
            rows = {r[0]: r[1] for r in con.execute("SELECT FileName, FileSize FROM _%s"
                                                   % rec.record_id(watched).hex().upper())}
        finally:
            con.close()
        with self.subTest("stored rows"):
            self.assertNotIn(watched + "\\b.mkv", rows, "the removed file's row is deleted")
            self.assertEqual(rows.get(watched + "\\first.avi"), len(files["first.avi"]))
            self.assertEqual(rows.get(watched + "\\season2\\e.mp4"), len(files["season2/e.mp4"]))

        # After a restart the loader shares the stored files again, then starts the watch on the kept directory.
        self.start(logins=2)
        with self.subTest("the loader starts the watch after a restart"):
            self.assertTrue(op.wait_until(lambda: sum(m.startswith("AutoPublish Start, ThreadID=(")
                                                      for m in self.log()) >= 4, 60))
            messages = self.log()
            restart = len(messages) - 1 - messages[::-1].index("P2PSvr - Running...")
            self.assertIn("Load directory - " + watched, messages[restart:])
            loaded = messages.index("Load directory - " + watched, restart)
            self.assertTrue(any(m.startswith("AutoPublish Start, ThreadID=(") for m in messages[loaded + 1:]),
                            "the watch starts once the loader is done")
            time.sleep(0.5)
            again = os.urandom(4321)
            path = self.copy_in("again.flv", again)
            self.assertTrue(self.published(path, again))
        self.stop()
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
