#!/usr/bin/env python3
"""Published directories through the control channel, from outside: commands
1, 2, 4, 17, 18, 33, 34 and 35 on a temporary tree of publishable,
non-publishable, empty and hidden files and nested directories; the rows and
table names of "ZEDURE.db" afterwards, read with Python's sqlite3; a restart
that loads the directories and stored files back."""

import hashlib
import os
import sqlite3
import struct
import sys
import tempfile
import shutil
import unittest

import orchard_channel as oc
import orchard_proc as op

ARGS = None
PORT = 9090
PROGRAM = "OrchardSvc.exe"
FILES = [PROGRAM, "vxaucommon.dll", "Seedlift.dll", "Tallyhub.dll", "Ferryline.dll"]
START_SECONDS = 60
STOP_SECONDS = 30
DIR_RECORD = 540
FILE_RECORD = 617
FILETIME_1970 = 116444736000000000
ATTR_DIRECTORY = 0x10

CREATE_DIR_TABLE = ("CREATE TABLE tbDirV2(\t\t\t\t\t DIRID blob PRIMARY KEY,\t\t\t\t\t FileName vargraphic(260),"
                    "\t\t\t\t\t PubALL INT4)")


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def path_field(text):
    raw = text.encode("utf-16-le")
    return raw[:520] + b"\0" * (520 - min(len(raw), 520))


def record_id(text):
    return hashlib.md5(text.encode("utf-16-le")).digest()


def table_name(dir_path):
    return "_" + record_id(dir_path).hex().upper()


def text_of(raw):
    units = raw.decode("utf-16-le")
    return units.split("\0", 1)[0]


def parse_dir(raw):
    return {"id": raw[0:16], "path": text_of(raw[16:536]), "pubAll": struct.unpack_from("<I", raw, 536)[0]}


def parse_file(raw):
    attrs, size, lmt, pubt, maxconn, state = struct.unpack_from("<IqqqiB", raw, 0)
    return {"attrs": attrs, "size": size, "lmt": lmt, "pubTime": pubt, "maxConn": maxconn, "state": state,
            "dirId": raw[33:49], "id": raw[49:65], "name": text_of(raw[65:585]), "fid": raw[585:601],
            "sid": raw[601:617]}


def parse_list(payload, size, parse):
    (n,) = struct.unpack_from("<I", payload, 0)
    assert len(payload) == 4 + n * size, "%d records in %d bytes" % (n, len(payload))
    return [parse(payload[4 + i * size:4 + (i + 1) * size]) for i in range(n)]


def read_log(work):
    return op.log_messages(os.path.join(work, "od_server.Log"))


def filetime_of(path):
    return os.stat(path).st_mtime_ns // 100 + FILETIME_1970


class PublishDirs(unittest.TestCase):
    def setUp(self):
        self.assertFalse(op.port_open(PORT), "port 9090 is taken before the test")
        self.work = op.make_work_dir(ARGS.bin, FILES, prefix="orchard_pub_")
        with open(os.path.join(self.work, "od_svr_cfg.ini"), "w", newline="") as f:
            f.write("[service]\r\nservicetype=0\r\n")
        self.tree = tempfile.mkdtemp(prefix="orchard_tree_")
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            p.kill()
        op.remove_work_dir(self.work)
        shutil.rmtree(self.tree, ignore_errors=True)

    def make(self, rel, size=None):
        p = os.path.join(self.tree, *rel.split("/"))
        if size is None:
            os.makedirs(p, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "wb") as f:
                f.write(b"v" * size)
        return win(p)

    def start(self):
        proc = op.WineProcess(ARGS.wine, self.work, PROGRAM)
        self.procs.append(proc)
        self.assertTrue(op.wait_for_port(PORT, START_SECONDS, proc), "OrchardSvc did not open its channel")
        return proc

    def stop(self, proc):
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(129)), struct.pack("<H", 200))
        self.assertEqual(proc.wait(STOP_SECONDS), 0, "OrchardSvc did not end after command 129")

    def db(self):
        return sqlite3.connect(os.path.join(self.work, "ZEDURE.db"))

    def test_directories_files_database_and_restart(self):
        media = self.make("Media")
        self.make("Media/a.mp4", 100)
        self.make("Media/notes.txt", 100)
        self.make("Media/zero.mkv", 0)
        self.make("Media/.hidden.avi", 100)  # Wine shows dot-files as hidden
        self.make("Media/almost.rmv", 100)
        self.make("Media/sub/c.rmvb", 100)
        self.make("Media/sub/deeper/d.RM", 100)
        self.make("Media/emptydir")
        media2 = self.make("Media2")
        self.make("Media2/e.flv", 10)
        gone = self.make("Gone")
        pub = self.make("Pub")
        self.make("Pub/p.wmv", 10)
        root = win(self.tree)

        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            def status(code, path):
                return oc.split_status(c.send(oc.command(code, path_field(path))))[0]

            rows = [
                ("add a directory", 1, media, 200),
                ("add it again", 1, media, 403),
                ("in other letter case", 1, media.upper(), 403),
                ("publish a sub-directory of it", 2, media + "\\sub", 403),
                ("add its parent", 1, root, 403),
                ("a sibling with a longer name", 1, media2, 200),
                ("publish all of another", 2, pub, 200),
                ("a directory to lose before restart", 1, gone, 200),
                ("a missing directory", 1, media + "\\missing", 404),
                ("a file, not a directory", 1, media + "\\a.mp4", 404),
                ("too long for the field", 1, "C:\\" + "x" * 300, 404),
            ]
            for name, code, path, want in rows:
                with self.subTest(name):
                    self.assertEqual(status(code, path), want)
            with self.subTest("only the code, no path"):
                self.assertEqual(oc.split_status(c.send(oc.command(1)))[0], 404)

            with self.subTest("33 lists every directory"):
                st, payload = oc.split_status(c.send(oc.command(33)))
                self.assertEqual(st, 200)
                dirs = parse_list(payload, DIR_RECORD, parse_dir)
                self.assertEqual([(d["path"], d["pubAll"]) for d in dirs],
                                 [(media, 0), (media2, 0), (pub, 1), (gone, 0)])
                for d in dirs:
                    self.assertEqual(d["id"], record_id(d["path"]))

            def file_list(path):
                st, payload = oc.split_status(c.send(oc.command(34, path_field(path))))
                if st != 200 or not payload:
                    return st, None
                return st, {f["name"][len(path) + 1:]: f for f in parse_list(payload, FILE_RECORD, parse_file)}

            with self.subTest("34 lists files and sub-directories"):
                st, files = file_list(media)
                self.assertEqual(st, 200)
                self.assertEqual(set(files), {"a.mp4", ".hidden.avi", "sub", "emptydir"})
                self.assertEqual(files["a.mp4"]["state"], 1)
                self.assertEqual(files["a.mp4"]["size"], 100)
                self.assertEqual(files["a.mp4"]["id"], record_id(media + "\\a.mp4"))
                self.assertEqual(files["a.mp4"]["dirId"], record_id(media))
                self.assertTrue(files["sub"]["attrs"] & ATTR_DIRECTORY)
            with self.subTest("34 edge cases"):
                self.assertEqual(file_list(media + "\\emptydir"), (200, {}))
                self.assertEqual(c.send(oc.command(34, path_field(root))), struct.pack("<H", 200))
                self.assertEqual(file_list(media + "\\missing")[0], 404)

            with self.subTest("35 lists unpublished files of every directory"):
                st, payload = oc.split_status(c.send(oc.command(35)))
                self.assertEqual(st, 200)
                names = sorted(os.path.basename(f["name"].replace("\\", "/"))
                               for f in parse_list(payload, FILE_RECORD, parse_file))
                self.assertEqual(names, sorted(["a.mp4", ".hidden.avi", "c.rmvb", "d.RM", "e.flv", "p.wmv"]))

            with self.subTest("4 removes only the exact directory"):
                self.assertEqual(c.send(oc.command(4, path_field(media + "\\sub"))), b"")
                self.assertEqual(c.send(oc.command(4, path_field(media2.lower()))), b"")
                st, payload = oc.split_status(c.send(oc.command(33)))
                self.assertEqual([d["path"] for d in parse_list(payload, DIR_RECORD, parse_dir)], [media, pub, gone])
        self.stop(proc)

        log = read_log(self.work)
        for line in ["CMD - AddDir - " + media, "OK - AddDir - " + media, "Err - AddDir - Already published",
                     "Err - AddDir - No exist", "Err - AddDir - Path too long", "CMD - PubDir - " + pub,
                     "CMD - DirList", "OK - DirList - " + media, "CMD - GetFileList - " + media,
                     "Err - GetFileList - No children", "Err - GetFileList - No exist", "CMD - All Unpublished",
                     "Enumeration Dir " + media, "CMD - DelDir - " + media2.lower()]:
            with self.subTest(log=line):
                self.assertIn(line, log)

        with self.subTest("database rows and table names"):
            con = self.db()
            try:
                tables = sorted(r[0] for r in con.execute("SELECT name FROM sqlite_master WHERE type='table'"))
                self.assertEqual(tables, ["tbDirV2"])  # nothing published without the P2P core
                self.assertEqual(con.execute("SELECT sql FROM sqlite_master WHERE name='tbDirV2'").fetchone()[0],
                                 CREATE_DIR_TABLE)
                rows = con.execute("SELECT DIRID, FileName, PubALL FROM tbDirV2 ORDER BY rowid").fetchall()
                self.assertEqual([(bytes(r[0]), r[1], r[2]) for r in rows],
                                 [(record_id(p), p, f) for p, f in [(media, 0), (pub, 1), (gone, 0)]])
                # A file of Media stored as published, as the publish task stores it.
                a = os.path.join(self.tree, "Media", "a.mp4")
                t = table_name(media)
                con.execute("create table %s(\t\t\t\t\t ID blob,\t\t\t\t\t FileName vargraphic(260),\t\t\t\t\t "
                            "FileSize INT8,\t\t\t\t\t LastModTime INT8,\t\t\t\t\t PubTime INT8,\t\t\t\t\t "
                            "MaxConn INT4,\t\t\t\t\t FID blob,\t\t\t\t\t SID blob)" % t)
                con.execute("INSERT INTO %s VALUES (?,?,?,?,?,?,?,?)" % t,
                            (record_id(media + "\\a.mp4"), media + "\\a.mp4", 100, filetime_of(a), 1234, 3,
                             b"\xAF" * 16, b"\x5F" * 16))
                con.commit()
            finally:
                con.close()

        os.rmdir(os.path.join(self.tree, "Gone"))
        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            with self.subTest("restart loads the existing directories"):
                # The channel opens before the stored directories are loaded: ask until they are.
                def listed():
                    st, payload = oc.split_status(c.send(oc.command(33)))
                    return [d["path"] for d in parse_list(payload, DIR_RECORD, parse_dir)]
                op.wait_until(lambda: len(listed()) >= 2, START_SECONDS)
                self.assertEqual(listed(), [media, pub])
            with self.subTest("a stored file lists as published with its row's values"):
                st, payload = oc.split_status(c.send(oc.command(34, path_field(media))))
                files = {f["name"]: f for f in parse_list(payload, FILE_RECORD, parse_file)}
                a = files[media + "\\a.mp4"]
                self.assertEqual((a["state"], a["pubTime"], a["maxConn"], a["fid"], a["sid"]),
                                 (8, 1234, 3, b"\xAF" * 16, b"\x5F" * 16))
                st, payload = oc.split_status(c.send(oc.command(35)))
                names = [f["name"] for f in parse_list(payload, FILE_RECORD, parse_file)]
                self.assertNotIn(media + "\\a.mp4", names)
            with self.subTest("18 cancels the stored file"):
                self.assertEqual(c.send(oc.command(18, path_field(media + "\\a.mp4"))), b"")
                st, payload = oc.split_status(c.send(oc.command(34, path_field(media))))
                files = {f["name"]: f for f in parse_list(payload, FILE_RECORD, parse_file)}
                self.assertEqual(files[media + "\\a.mp4"]["state"], 1)
            with self.subTest("17 on an unchanged file and on a path outside every directory"):
                self.assertEqual(c.send(oc.command(17, path_field(media + "\\sub\\c.rmvb"))), b"")
                self.assertEqual(c.send(oc.command(17, path_field(media2))), b"")
                st, payload = oc.split_status(c.send(oc.command(33)))
                dirs = parse_list(payload, DIR_RECORD, parse_dir)
                self.assertEqual([(d["path"], d["pubAll"]) for d in dirs], [(media, 0), (pub, 1), (media2, 1)])
        self.stop(proc)

        log = read_log(self.work)
        self.assertIn("publish dir - " + media, log)
        self.assertNotIn("publish dir - " + gone, log)
        self.assertIn("cancel published file " + media + "\\a.mp4", log)
        self.assertIn("delete from database", log)
        self.assertNotIn("delete from p2p", log)  # the P2P core is not logged in
        con = self.db()
        try:
            self.assertEqual(con.execute("SELECT count(*) FROM %s" % table_name(media)).fetchone()[0], 0)
            self.assertEqual(con.execute("SELECT FileName FROM tbDirV2 ORDER BY rowid").fetchall(),
                             [(media,), (pub,), (gone,), (media2,)])  # the missing directory's row stays
        finally:
            con.close()

    def test_directory_that_cannot_be_stored_is_not_published(self):
        # A folder where the database file should be: it cannot be opened.
        os.mkdir(os.path.join(self.work, "ZEDURE.db"))
        media = self.make("Media")
        self.make("Media/a.mp4", 10)
        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(oc.split_status(c.send(oc.command(1, path_field(media))))[0], 500)
            self.assertEqual(c.send(oc.command(33)), struct.pack("<HI", 200, 0))
        self.stop(proc)
        self.assertIn("Err - AddDir - Not stored", read_log(self.work))

    def test_a_file_outside_every_directory_is_not_made_one(self):
        loose = self.make("Loose")
        clip = self.make("Loose/clip.avi", 100)
        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            for code in (17, 5):
                with self.subTest("command %d on the file" % code):
                    self.assertEqual(c.send(oc.command(code, path_field(clip))), b"", "answers nothing")
                    self.assertEqual(c.send(oc.command(33)), struct.pack("<HI", 200, 0), "no directory made of it")
            with self.subTest("its folder can still be added"):
                self.assertEqual(oc.split_status(c.send(oc.command(1, path_field(loose))))[0], 200)
                st, payload = oc.split_status(c.send(oc.command(33)))
                self.assertEqual([d["path"] for d in parse_list(payload, DIR_RECORD, parse_dir)], [loose])
            with self.subTest("and the file published in it"):
                self.assertEqual(c.send(oc.command(17, path_field(clip))), b"")
                st, payload = oc.split_status(c.send(oc.command(33)))
                self.assertEqual(len(parse_list(payload, DIR_RECORD, parse_dir)), 1)
        self.stop(proc)
        log = read_log(self.work)
        self.assertEqual(log.count("PublishPath - not in a published directory - " + clip), 2, log)
        with self.db() as db:
            self.assertEqual([r[0] for r in db.execute("SELECT FileName FROM tbDirV2")], [loose])


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
