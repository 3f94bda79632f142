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
import sqlite3
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "server", "hash", "tests"))
import file_ids_check  # noqa: E402
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
from orchard_server import PORT, PublishingServerTest, path_field, record_id, win  # noqa: E402

ARGS = None
PUBLISHED = 8


class AutoPublish(PublishingServerTest):
    work_prefix = "orchard_autopub_"

    def setUp(self):
        super().setUp()
        self.outside = tempfile.mkdtemp(prefix=self.work_prefix + "src_")

    def tearDown(self):
        super().tearDown()
        shutil.rmtree(self.outside, ignore_errors=True)

    def links(self):
        return [e.split(",", 1)[1] for e in op.log_messages(os.path.join(self.work, "PublishList.Log")) or []]

    def files_of(self, path):
        with oc.ChannelClient(port=PORT) as c:
            return self.listing(c, path)

    def copy_in(self, name, data):
        """Written outside the watched tree, then copied in, as a user copies a file."""
        source = os.path.join(self.outside, os.path.basename(name))
        with open(source, "wb") as f:
            f.write(data)
        target = os.path.join(self.tree, *name.split("/"))
        shutil.copyfile(source, target)
        return win(target)

    def published(self, path, data, seconds=60):
        """True once command 34 lists the file published with the size and file id of data."""
        fid = file_ids_check.ids(data)["fid"]
        directory = path.rsplit("\\", 1)[0]
        done = lambda: (lambda r: r is not None and (r["state"], r["size"], r["fid"]) == (PUBLISHED, len(data), fid))(
            self.files_of(directory).get(path))
        return op.wait_until(done, seconds, 0.2)

    def vxhd_line(self, path, data):
        directory, name = path.rsplit("\\", 1)
        return "%s,vxhd://%d|%s|%s" % (directory, len(data), file_ids_check.ids(data)["fid"], name)

    def test_watch_publish_cancel_and_restart(self):
        watched = win(self.tree)
        first = os.urandom(40000)
        with open(os.path.join(self.tree, "first.avi"), "wb") as f:
            f.write(first)
        proc = self.start(logins=1)
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(5, path_field(watched))), b"", "command 5 answers nothing")

        with self.subTest("the directory is published when the watch starts"):
            self.assertTrue(self.published(watched + "\\first.avi", first))
            self.assertEqual(sum(m.startswith("AutoPublish Start, ThreadID=(") for m in self.main_log()), 2,
                             "the automatic-publish thread and the watcher")
        time.sleep(0.5)

        files = {}
        with self.subTest("a file copied in is published"):
            files["b.mkv"] = os.urandom(70001)
            b = self.copy_in("b.mkv", files["b.mkv"])
            self.assertTrue(self.published(b, files["b.mkv"]))
            self.assertIn("AutoPub - added - " + b, self.main_log())
            self.assertIn(self.vxhd_line(b, files["b.mkv"]), self.links())
            self.assertIn("%s,ftp://bob:pw@ftp.test:2121/%s/b.mkv" % (watched, record_id(watched).hex().upper()), self.links())

        with self.subTest("a changed file is published again"):
            files["first.avi"] = first + os.urandom(999)
            path = self.copy_in("first.avi", files["first.avi"])
            self.assertTrue(self.published(path, files["first.avi"]))
            self.assertIn("AutoPub - modified - " + path, self.main_log())
            self.assertIn(self.vxhd_line(path, files["first.avi"]), self.links())

        with self.subTest("an empty file is published once it has grown"):
            z = self.copy_in("z.wmv", b"")
            self.assertTrue(op.wait_until(lambda: any(m.startswith("AutoPub - 1(") and m.endswith(z)
                                                      for m in self.main_log()), 20))
            time.sleep(1)
            self.assertNotIn("PUBTASK - ADDTask " + z, self.main_log(), "an empty file is not queued")
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
            self.assertIn("AutoPub - added - " + watched + "\\season3", self.main_log())

        with self.subTest("a removed file is cancelled"):
            b = watched + "\\b.mkv"
            os.remove(os.path.join(self.tree, "b.mkv"))
            lines = ["AutoPub - removed - " + b, "cancel published file " + b, "delete from p2p", "delete from database"]
            self.assertTrue(op.wait_until(lambda: lines[0] in self.main_log(), 20), "the removal was not seen")
            self.assertTrue(op.wait_until(lambda: "delete from database" in self.main_log()[self.main_log().index(lines[0]):], 10))
            rest = self.main_log()[self.main_log().index(lines[0]):]
            self.assertEqual([m for m in rest if m in lines][:4], lines)

        with self.subTest("a rename is only logged"):
            old, new = watched + "\\z.wmv", watched + "\\renamed.wmv"
            os.rename(os.path.join(self.tree, "z.wmv"), os.path.join(self.tree, "renamed.wmv"))
            self.assertTrue(op.wait_until(lambda: any(m.startswith("AutoPub - 5(") and m.endswith(new)
                                                      for m in self.main_log()), 20))
            self.assertTrue(any(m.startswith("AutoPub - 4(") and m.endswith(old) for m in self.main_log()))
            time.sleep(1)
            messages = self.main_log()
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
                                                     for m in self.main_log()))

        with self.subTest("command 5 with an empty path stops the watch"):
            with oc.ChannelClient(port=PORT) as c:
                self.assertEqual(c.send(oc.command(5, path_field(""))), b"")
            late = self.copy_in("late.avi", os.urandom(2000))
            time.sleep(3)
            self.assertFalse(any(m.endswith(late) for m in self.main_log()), "a stopped watch sees nothing")
            os.remove(os.path.join(self.tree, "late.avi"))

        self.stop(proc)
        messages = self.main_log()
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
                                                   % record_id(watched).hex().upper())}
        finally:
            con.close()
        with self.subTest("stored rows"):
            self.assertNotIn(watched + "\\b.mkv", rows, "the removed file's row is deleted")
            self.assertEqual(rows.get(watched + "\\first.avi"), len(files["first.avi"]))
            self.assertEqual(rows.get(watched + "\\season2\\e.mp4"), len(files["season2/e.mp4"]))

        # After a restart the loader shares the stored files again, then starts the watch on the kept directory.
        proc = self.start(logins=2)
        with self.subTest("the loader starts the watch after a restart"):
            self.assertTrue(op.wait_until(lambda: sum(m.startswith("AutoPublish Start, ThreadID=(")
                                                      for m in self.main_log()) >= 4, 60))
            messages = self.main_log()
            restart = len(messages) - 1 - messages[::-1].index("P2PSvr - Running...")
            self.assertIn("Load directory - " + watched, messages[restart:])
            loaded = messages.index("Load directory - " + watched, restart)
            self.assertTrue(any(m.startswith("AutoPublish Start, ThreadID=(") for m in messages[loaded + 1:]),
                            "the watch starts once the loader is done")
            time.sleep(0.5)
            again = os.urandom(4321)
            path = self.copy_in("again.flv", again)
            self.assertTrue(self.published(path, again))
        self.stop(proc)
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
