#!/usr/bin/env python3
"""Publishing end to end under Wine: OrchardSvc with its P2P core logged in
against the P2P doubles, the FTP side on the Ferryline stand-in, and a lookup
and report server that cannot be reached. A directory of small generated files
added with command 2 is hashed, logged in "PublishList.Log", shared (the super
node double receives the file ids), stored and listed as published; the
statistics reach the Tallyhub stand-in; command 49 exports the links by kind,
naming, time range, keyword and sort. A file cancelled while it is hashed is
not published, a changed file is published again, and after a restart the
automatic-publish thread writes "LastPublish.txt" and "LastPublishFtp.txt"."""

import os
import sqlite3
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "server", "hash", "tests"))
import file_ids_check  # noqa: E402
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
from orchard_server import PORT, PublishingServerTest, path_field, read_text, record_id, win  # noqa: E402

ARGS = None
PUBLISHED, NOT_PUBLISHED, PUBLISHING = 8, 1, 7


def export_request(path, kind=1, naming=0, sort=0, start=0, end=0, keyword=""):
    return struct.pack("<IIIQQ", kind, naming, sort, start, end) + path_field(keyword) + path_field(path)


def log_entries(path):
    return op.log_messages(path) or []


class Publishing(PublishingServerTest):
    work_prefix = "orchard_publishing_"

    def make(self, rel, data):
        p = os.path.join(self.tree, *rel.split("/"))
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        return p

    def export(self, c, path, **options):
        reply = c.send(oc.command(49, export_request(path, **options)))
        st, payload = oc.split_status(reply)
        if st != 200 or not payload:
            return st, None
        (units,) = struct.unpack_from("<I", payload, 0)
        self.assertEqual(len(payload), 4 + 2 * units)
        text = payload[4:].decode("utf-16-le")
        self.assertTrue(text.endswith("\r\n"))
        return st, text[:-2].split("\r\n")

    def test_publish_export_cancel_change_and_restart(self):
        contents = {"a.avi": os.urandom(5000), "b.mkv": os.urandom(70000), "c,d.mp4": os.urandom(123457),
                    "sub/e.wmv": os.urandom(300001)}
        for rel, data in contents.items():
            self.make("Show/" + rel, data)
        self.make("Show/notes.txt", b"not published")
        self.make("Show/empty.avi", b"")
        show = win(os.path.join(self.tree, "Show"))
        files = {win(os.path.join(self.tree, "Show", *rel.split("/"))): data for rel, data in contents.items()}
        expected = {path: file_ids_check.ids(data) for path, data in files.items()}
        ftp_dir = record_id(show).hex().upper()

        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(oc.split_status(c.send(oc.command(2, path_field(show))))[0], 200)
            done = lambda: all(r["state"] == PUBLISHED for r in list(self.listing(c, show).values())
                               + list(self.listing(c, show + "\\sub").values()) if r["name"] in files)
            self.assertTrue(op.wait_until(done, 120), "not every file was published")
            records = {**self.listing(c, show), **self.listing(c, show + "\\sub")}

            with self.subTest("states and ids"):
                for path, ids in expected.items():
                    r = records[path]
                    self.assertEqual((r["state"], r["size"], r["fid"], r["sid"]),
                                     (PUBLISHED, len(files[path]), ids["fid"], ids["sid"]), path)
                self.assertNotEqual(records.get(show + "\\empty.avi", {}).get("state"), PUBLISHED)

            with self.subTest("export: link kinds and naming"):
                st, lines = self.export(c, show)
                self.assertEqual(st, 200)
                vxhd = {"vxhd://%d|%s|%s" % (len(files[p]), expected[p]["fid"], p.rsplit("\\", 1)[1]) for p in files}
                self.assertEqual(set(lines), vxhd)
                st, lines = self.export(c, show, naming=1)
                self.assertEqual(set(lines), {"vxhd://%d|%s|%s_%s" % (len(files[p]), expected[p]["fid"],
                                                                     p.rsplit("\\", 2)[1], p.rsplit("\\", 1)[1])
                                              for p in files})
                st, lines = self.export(c, show, kind=0)
                ftp = {"ftp://bob:pw@ftp.test:2121/%s/%s" % (ftp_dir, p[len(show) + 1:].replace("\\", "/"))
                       for p in files}
                self.assertEqual(set(lines), ftp, "publishable files on disk, published or not")
                st, lines = self.export(c, show + "\\sub\\e.wmv")
                self.assertEqual(lines, ["vxhd://300001|%s|e.wmv" % expected[show + "\\sub\\e.wmv"]["fid"]])
                self.assertEqual(self.export(c, show + "\\missing"), (404, None))

            with self.subTest("export: keyword, time range and sort"):
                pub = sorted(r["pubTime"] for p, r in records.items() if p in files)
                rows = [  # options, names expected in the reply
                    (dict(keyword="c,d"), {"c,d.mp4"}),
                    (dict(keyword="C,D"), set()),
                    (dict(kind=0, keyword="sub"), {"e.wmv"}),
                    (dict(start=pub[0], end=pub[-1]), {"a.avi", "b.mkv", "c,d.mp4", "e.wmv"}),
                    (dict(start=pub[0], end=pub[-1], keyword="absent"), {"a.avi", "b.mkv", "c,d.mp4", "e.wmv"}),
                    (dict(start=pub[-1] + 1, end=pub[-1] + 10), set()),
                    (dict(start=pub[0], end=pub[0], keyword="a.avi"), {"a.avi"}),
                ]
                for options, names in rows:
                    st, lines = self.export(c, show, **options)
                    got = {line.rsplit("|", 1)[-1].rsplit("/", 1)[-1] for line in lines or []}
                    self.assertEqual((st, got), (200, names), options)
                st, lines = self.export(c, show, sort=1)
                self.assertEqual([line.rsplit("|", 1)[1] for line in lines], ["a.avi", "b.mkv", "c,d.mp4", "e.wmv"])

        with self.subTest("link log, share list, statistics, report log"):
            links = [e.split(",", 1)[1] for e in log_entries(os.path.join(self.work, "PublishList.Log"))]
            for path, ids in expected.items():
                directory, name = path.rsplit("\\", 1)
                self.assertEqual(links.count("%s,vxhd://%d|%s|%s" % (directory, len(files[path]), ids["fid"], name)),
                                 1, links)
                rel = path[len(show) + 1:].replace("\\", "/")
                self.assertEqual(links.count("%s,ftp://bob:pw@ftp.test:2121/%s/%s" % (directory, ftp_dir, rel)), 1)
            fids = {ids["fid"] for ids in expected.values()}
            shared = lambda: fids <= {f for e in self.doubles.events if e["kind"] == "share_batch" for f in e["fids"]}
            self.assertTrue(op.wait_until(shared, 60), "the super node never got every file id")
            tally = [line for line in read_text(os.path.join(self.work, "tally.txt")).splitlines()
                     if "product=OD_MAPS" in line]
            self.assertEqual(len(tally), len(files), tally)
            for path, ids in expected.items():
                line = [t for t in tally if "1539=md5:" + ids["fid"] in t]
                self.assertEqual(len(line), 1, path)
                self.assertIn("1538=u64:%d " % len(files[path]), line[0])
                self.assertIn("1540=bytes:" + ids["cid"].encode().hex().upper(), line[0])
                self.assertIn("1541=bytes:" + ids["qid"].encode().hex().upper(), line[0])
            self.assertTrue(op.wait_until(lambda: read_text(os.path.join(self.work, "p2s_speedup.dat"))
                                          .count("Report Error") == 3 * len(files), 30),
                            "each report is tried three times against the unreachable server")

        with self.subTest("cancel while publishing"):
            big = self.make("Show/big.avi", b"")
            with open(big, "r+b") as f:
                f.truncate(600 << 20)
            big = win(big)
            with oc.ChannelClient(port=PORT) as c:
                self.assertEqual(c.send(oc.command(17, path_field(big))), b"")
                self.assertTrue(op.wait_until(lambda: self.listing(c, show)[big]["state"] == PUBLISHING, 60, 0.02),
                                "the big file was never seen publishing")
                self.assertEqual(c.send(oc.command(18, path_field(big))), b"")
                # Hashing runs to its end, then the cancelled file is let go without a share.
                self.assertTrue(op.wait_until(lambda: self.listing(c, show)[big]["state"] == NOT_PUBLISHED, 60))
                time.sleep(0.5)
                self.assertEqual(self.listing(c, show)[big]["state"], NOT_PUBLISHED)
            self.assertFalse(any(m.startswith("PUBTASK - AddShare - " + big) for m in self.main_log()))
            os.remove(os.path.join(self.tree, "Show", "big.avi"))

        with self.subTest("a changed file is published again"):
            a = show + "\\a.avi"
            files[a] = files[a] + os.urandom(777)
            self.make("Show/a.avi", files[a])
            expected[a] = file_ids_check.ids(files[a])
            with oc.ChannelClient(port=PORT) as c:
                self.assertEqual(c.send(oc.command(17, path_field(a))), b"")
                self.assertTrue(op.wait_until(lambda: self.listing(c, show)[a]["size"] == len(files[a])
                                              and self.listing(c, show)[a]["state"] == PUBLISHED, 60))
                self.assertEqual(self.listing(c, show)[a]["fid"], expected[a]["fid"])
            links = [e.split(",", 1)[1] for e in log_entries(os.path.join(self.work, "PublishList.Log"))]
            self.assertIn("%s,vxhd://%d|%s|a.avi" % (show, len(files[a]), expected[a]["fid"]), links)

        self.stop(proc)
        con = sqlite3.connect(os.path.join(self.work, "ZEDURE.db"))
        try:
            rows = {r[0]: (r[1], bytes(r[2]).hex().upper())
                    for t in ("_" + record_id(show).hex().upper(), "_" + record_id(show + "\\sub").hex().upper())
                    if con.execute("SELECT name FROM sqlite_master WHERE name=?", (t,)).fetchone()
                    for r in con.execute("SELECT FileName, FileSize, FID FROM %s" % t)}
        finally:
            con.close()
        with self.subTest("database rows"):
            self.assertEqual(rows, {p: (len(files[p]), expected[p]["fid"]) for p in files})

        # After a restart the automatic-publish thread writes the last two hours' links.
        proc = self.start(logins=2)
        last = os.path.join(self.work, "LastPublish.txt")
        self.assertTrue(op.wait_until(lambda: "vxhd://" in read_text(last), 30), "no LastPublish.txt")
        self.stop(proc)
        with self.subTest("last-published files"):
            text = read_text(last)
            self.assertTrue(text.startswith("\r\n%s\r\n" % show), text)
            self.assertIn("\r\n%s\\sub\r\nvxhd://300001|%s|e.wmv\r\n" % (show, expected[show + "\\sub\\e.wmv"]["fid"]),
                          text)
            self.assertEqual(text.count("\r\n%s\r\n" % show), 1, "one heading per directory")
            for path, ids in expected.items():
                self.assertIn("vxhd://%d|%s|%s\r\n" % (len(files[path]), ids["fid"], path.rsplit("\\", 1)[1]), text)
            ftp_text = read_text(os.path.join(self.work, "LastPublishFtp.txt"))
            self.assertIn("ftp://bob:pw@ftp.test:2121/%s/c,d.mp4\r\n" % ftp_dir, ftp_text)
        journal = read_text(os.path.join(self.work, "ferryline_journal.txt"), "utf-8")
        with self.subTest("FTP library calls"):
            for call in ["FRLI_Init program=", "FRLI_StartSvr result=1", "FRLI_LogOn result=1",
                         "FRLI_AddShareDir user=bob pswd=pw", "\\%s|0]" % ftp_dir, "FRLI_LogOut",
                         "FRLI_StopSvr", "FRLI_Term"]:
                self.assertIn(call, journal)
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
