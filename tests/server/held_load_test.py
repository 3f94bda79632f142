#!/usr/bin/env python3
"""OrchardSvc's stop under Wine while the publish thread is inside the
hash-record store's Load, held there by a drive that stops answering: the
published file lies on tests/server/held_fs.py, which holds the read of its
sampled pieces (into the store's read buffer). The server is stopped with
command 129 or WM_CLOSE; in one case the drive answers again once the stop
has given the thread up, so the thread goes on with what the stop left it.

Each time: the program ends within its stop's bound with exit code 0, the
crash reporter (faultpost.exe) writes no crash record, the log says the
thread was left running and publishing was kept for it, and the
configuration (an upload limit set over the channel) is saved.

Mounts the drive in a mount namespace of its own, with a wineserver of its
own that sees it: root only, skipped otherwise (exit code 77)."""

import glob
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest

import own_mounts  # noqa: E402

if __name__ == "__main__":
    if not os.path.exists("/dev/fuse"):
        print("held-load test skipped: no FUSE device")
        sys.exit(own_mounts.SKIP)
    own_mounts.reexec_unless_own("held-load test", "mount a FUSE drive")

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import held_fs  # noqa: E402
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
from orchard_server import PORT, PublishingServerTest, path_field, read_text, win  # noqa: E402

ARGS = None
STOP_BOUND_S = 30  # the stop's waits add up to well under this
CLIP = "clip.avi"
LEFT = "PUBTASK - a thread did not end in time; it is left running"
SPEED = 4321  # an upload limit only the channel sets, saved at the stop


class HeldLoad(PublishingServerTest):
    work_prefix = "orchard_heldload_"

    def setUp(self):
        self.mounts = own_mounts.OwnMounts(prefix="orchard_heldload_mounts_")
        self.mounts.own_prefix()
        super().setUp()
        shutil.copy2(os.path.join(self.args.bin, "faultpost.exe"), os.path.join(self.work, "faultpost.exe"))
        self.drive = os.path.join(self.tree, "Drive")
        os.makedirs(self.drive)
        self.fs = held_fs.HeldFs(self.drive, {CLIP: os.urandom(300000)}).start()

    def tearDown(self):
        for p in self.procs:
            p.kill()
        self.fs.stop()
        super().tearDown()
        self.mounts.close()

    def crash_records(self):
        return glob.glob(os.path.join(self.work, "vodedorozuv_*"))

    def stop_while_held(self, how, drive_comes_back):
        clip = win(os.path.join(self.drive, CLIP))
        proc = self.start()
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(114, struct.pack("<I", SPEED))), struct.pack("<H", 200))
            self.fs.hold(CLIP)
            self.assertEqual(oc.split_status(c.send(oc.command(2, path_field(win(self.drive)))))[0], 200)
        self.assertTrue(self.fs.wait_held(60), "the publish thread never read the file")
        self.assertTrue(op.wait_until(lambda: "PUBTASK - DoTask - %s:300000" % clip in self.main_log(), 10))
        self.assertFalse([m for m in self.main_log() if "Load HashInfo" in m], "Load ended while its read is held")

        started = time.monotonic()
        if how == "command 129":
            with oc.ChannelClient(port=PORT) as c:
                self.assertEqual(c.send(oc.command(129)), struct.pack("<H", 200))
        else:  # WM_CLOSE to the server's window
            subprocess.run([self.args.wine, "taskkill", "/im", "OrchardSvc.exe"], env=self.env, cwd=self.work,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=60)
        if drive_comes_back:
            # The thread goes on only after the stop has given it up and
            # done with everything else it could free.
            self.assertTrue(op.wait_until(lambda: LEFT in self.main_log(), STOP_BOUND_S),
                            "the stop did not give the held thread up")
            self.fs.release()
        code = proc.wait(STOP_BOUND_S)
        took = time.monotonic() - started
        self.assertIsNotNone(code, "OrchardSvc still runs %d s after the stop" % STOP_BOUND_S)
        time.sleep(2)  # a crash reporter started at the end has had its time
        self.assertEqual(code, 0)
        self.assertEqual(self.crash_records(), [], "a crash record was written")
        log = self.main_log()
        for line in (LEFT, "UnInit - publishing kept for 1 thread(s) left running",
                     "Save config", "Exit with 1 thread(s) left running"):
            self.assertIn(line, log)
        self.assertIn("p2p_max_upspeed=%d" % SPEED, read_text(os.path.join(self.work, "od_svr_cfg.ini")))
        self.assertEqual(glob.glob(os.path.join(self.work, "HashSerial*")), [], "a record was stored in the wrong place")
        print("%s: stopped in %.1f s; reads of the held file: %s, held reads a signal ended: %d"
              % (how, took, self.fs.reads, self.fs.interrupted))

    def test_command_129_while_load_is_held_and_the_drive_comes_back(self):
        self.stop_while_held("command 129", drive_comes_back=True)
        self.passed = True

    def test_wm_close_while_load_is_held(self):
        self.stop_while_held("WM_CLOSE", drive_comes_back=False)
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
