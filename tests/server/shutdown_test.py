#!/usr/bin/env python3
"""OrchardSvc's stop under Wine while a thread is busy, with the crash
reporter (faultpost.exe) watching: a WM_CLOSE while command 2 scans a
directory of 20,000 files on the channel's thread, and command 129 while the
loader rescans such a directory at start-up. The program must end within its
stop's bound, with exit code 0 and no crash record. Also: with port 9090
taken the server goes on without its channel and still logs in to the P2P
servers; and without "P2SCfg.ini" the built-in ".invalid" host names are never
looked up, however many files are published."""

import glob
import os
import shutil
import socket
import sqlite3
import struct
import subprocess
import threading
import time
import unittest

import orchard_channel as oc
import orchard_proc as op
from orchard_server import PORT, PublishingServerTest, path_field, record_id, win

ARGS = None
FILES = 20000
STOP_BOUND_S = 30  # the stop sequence's waits add up to well under this
CREATE_DIR_TABLE = ("CREATE TABLE tbDirV2(\t\t\t\t\t DIRID blob PRIMARY KEY,\t\t\t\t\t FileName vargraphic(260),"
                    "\t\t\t\t\t PubALL INT4)")


class Shutdown(PublishingServerTest):
    work_prefix = "orchard_stop_"

    def setUp(self):
        super().setUp()
        for name in ("faultpost.exe",):
            src = os.path.join(self.args.bin, name)
            if os.path.exists(src):
                shutil.copy2(src, os.path.join(self.work, name))

    def big_dir(self, name):
        d = os.path.join(self.tree, name)
        os.makedirs(d)
        for i in range(FILES):
            with open(os.path.join(d, "f%05d.avi" % i), "wb") as f:
                f.write(b"v")
        return d

    def crash_records(self):
        return glob.glob(os.path.join(self.work, "vodedorozuv_*"))

    def queued(self):
        return sum(1 for m in self.main_log() if m.startswith("PUBTASK - ADDTask "))

    def assertEndsInTime(self, proc, started):
        code = proc.wait(STOP_BOUND_S)
        took = time.monotonic() - started
        self.assertIsNotNone(code, "OrchardSvc still runs %d s after the stop" % STOP_BOUND_S)
        self.assertEqual(code, 0)
        self.assertEqual(self.crash_records(), [], "a crash record was written")
        self.assertLess(self.queued(), FILES, "the scan ran to its end instead of stopping")
        self.assertIn("Stop Server", self.main_log())
        print("stopped in %.1f s after %d files were queued" % (took, self.queued()))

    def test_close_during_a_command_scan(self):
        d = self.big_dir("Many")
        proc = self.start()
        answers = []

        def publish():
            try:
                with oc.ChannelClient(port=PORT, timeout=120) as c:
                    answers.append(c.send(oc.command(2, path_field(win(d)))))
            except Exception as e:  # the channel goes with the server
                answers.append(e)

        sender = threading.Thread(target=publish, daemon=True)
        sender.start()
        self.assertTrue(op.wait_until(lambda: self.queued() >= 200, 120), "the scan did not start")
        started = time.monotonic()
        # WM_CLOSE to the server's window, from outside the busy channel.
        subprocess.run([self.args.wine, "taskkill", "/im", "OrchardSvc.exe"], env=self.env, cwd=self.work,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        self.assertEndsInTime(proc, started)
        log = self.main_log()
        self.assertIn("WM_CLOSE", log)
        after = sum(1 for m in log[log.index("WM_CLOSE"):] if m.startswith("PUBTASK - ADDTask "))
        self.assertLess(after, 100, "the scan went on for %d files after the stop was asked" % after)
        sender.join(30)
        self.passed = True

    def test_stop_during_the_loaders_scan(self):
        d = self.big_dir("Stored")
        path = win(d)
        con = sqlite3.connect(os.path.join(self.work, "ZEDURE.db"))
        con.execute(CREATE_DIR_TABLE)
        con.execute("INSERT INTO tbDirV2 VALUES (?,?,?)", (record_id(path), path, 1))
        con.commit()
        con.close()
        proc = self.start()
        self.assertTrue(op.wait_until(lambda: self.queued() >= 200, 120), "the loader did not rescan")
        started = time.monotonic()
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(129)), struct.pack("<H", 200))
        self.assertEndsInTime(proc, started)
        log = self.main_log()
        self.assertIn("Load directory - queue files not stored - " + path, log)
        after = sum(1 for m in log[log.index("CMD - Close Server"):] if m.startswith("PUBTASK - ADDTask "))
        self.assertLess(after, 100, "the scan went on for %d files after the stop was asked" % after)
        self.passed = True


class WithoutChannel(PublishingServerTest):
    work_prefix = "orchard_nochannel_"

    def test_serves_peers_without_its_channel(self):
        blocker = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        blocker.bind(("127.0.0.1", PORT))
        blocker.listen(1)
        try:
            proc = op.WineProcess(self.args.wine, self.work, "OrchardSvc.exe", env=self.env)
            self.procs.append(proc)
            self.assertIsNotNone(self.doubles.wait_for("login", 60), "the P2P core never logged in")
            self.assertTrue(op.wait_until(lambda: "P2PSvr - Running..." in self.main_log(), 30))
            self.assertTrue(proc.running())
            self.assertIn("Initialize transfer module error 16", self.main_log())
        finally:
            blocker.close()
        proc.kill()
        self.passed = True


class BuiltInHosts(PublishingServerTest):
    work_prefix = "orchard_hosts_"

    def test_invalid_hosts_are_not_looked_up(self):
        os.remove(os.path.join(self.work, "P2SCfg.ini"))
        d = os.path.join(self.tree, "Few")
        os.makedirs(d)
        for i in range(5):
            with open(os.path.join(d, "c%d.avi" % i), "wb") as f:
                f.write(os.urandom(1000 + i))
        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(oc.split_status(c.send(oc.command(2, path_field(win(d)))))[0], 200)
        report_log = os.path.join(self.work, "p2s_speedup.dat")
        def failed_reports():
            with open(report_log, "rb") as f:
                return f.read().count(b" Report Error -2 ")
        self.assertTrue(op.wait_until(lambda: failed_reports() >= 15, 120),
                        "every report fails at once, three attempts each")
        self.assertEqual([m for m in self.main_log() if m.startswith("P2S - look up host")], [])
        started = time.monotonic()
        self.stop(proc)
        self.assertLess(time.monotonic() - started, STOP_BOUND_S)
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
