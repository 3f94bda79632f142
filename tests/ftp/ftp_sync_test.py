#!/usr/bin/env python3
"""FTP settings and share synchronisation end to end: OrchardSvc under Wine
with its FTP side on the Ferryline stand-in, driven over the control channel
as OrchardUI drives it, with the stand-in's journal showing every call that
reached the library. The start-up order, commands 65 to 69 and their records,
an account change that differs only in letter case, the share list through
commands 1, 2 and 4, the values after a restart, a configured password that
the library does not know, and a removal of a directory that has no share
entry."""

import configparser
import os
import shutil
import struct
import tempfile
import unittest

import orchard_channel as oc
import orchard_proc as op
import orchard_records as rec
from orchard_server import path_field, record_id, win, write

ARGS = None
PORT = 9090
FILES = ["OrchardSvc.exe", "vxaucommon.dll", "Seedlift.dll", "Tallyhub.dll", "Ferryline.dll"]
MISMATCH = "FTP Account return pswd diff client record"


def read_config(work):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    with open(os.path.join(work, "od_svr_cfg.ini"), "rb") as f:
        raw = f.read()
    parser.read_string(raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("gbk"))
    return {f"{s}.{k}": v for s in parser.sections() for k, v in parser[s].items()}


def below(home, path):
    return home + "\\" + record_id(path).hex().upper()


class FtpSync(unittest.TestCase):
    def setUp(self):
        self.assertFalse(op.port_open(PORT), "port 9090 is taken before the test")
        self.work = op.make_work_dir(ARGS.bin, FILES, prefix="orchard_ftp_")
        self.tree = tempfile.mkdtemp(prefix="orchard_ftptree_")
        write(self.work, "od_svr_cfg.ini", "[service]\nservicetype=1\n")
        write(self.work, "od_svr_ftp.exe", "")
        write(self.work, "Ferryline.ini", "[ftp]\nhost=ftp.test\nport=2121\nnetin=5000000000\nnetout=42\nusers=2\n")
        self.proc = None
        self.passed = False

    def tearDown(self):
        if self.proc:
            self.proc.kill()
        if self.passed:
            op.remove_work_dir(self.work)
        else:
            print("kept %s" % self.work)
        shutil.rmtree(self.tree, ignore_errors=True)

    def log(self):
        return op.log_messages(os.path.join(self.work, "od_server.Log")) or []

    def journal(self):
        path = os.path.join(self.work, "ferryline_journal.txt")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()

    def pushes(self):
        return [line for line in self.journal() if line.startswith("FRLI_AddShareDir ")]

    def start(self, synced=True):
        applied = self.journal().count("FRLI_SetAccount")
        self.proc = op.WineProcess(ARGS.wine, self.work, "OrchardSvc.exe")
        self.assertTrue(op.wait_for_port(PORT, 60, self.proc), "OrchardSvc did not open its channel")
        if synced:
            self.assertTrue(op.wait_until(lambda: self.journal().count("FRLI_SetAccount") > applied, 30),
                            "the account was never read back from the FTP library and pushed")

    def stop(self):
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(129)), struct.pack("<H", 200))
        self.assertEqual(self.proc.wait(60), 0, "OrchardSvc did not end after command 129")
        self.proc = None

    def ok(self, c, code, args=b""):
        status, payload = oc.split_status(c.send(oc.command(code, args)))
        self.assertEqual(status, 200, "command %d" % code)
        return payload

    def account(self, c):
        return rec.parse_ftp_account(self.ok(c, 65))

    def setting(self, c):
        return rec.parse_ftp_setting(self.ok(c, 67))

    def make_dir(self, name):
        path = os.path.join(self.tree, name)
        os.makedirs(path, exist_ok=True)
        return win(path)

    def test_settings_shares_and_restarts(self):
        video, shows = self.make_dir("Video"), self.make_dir("Shows")
        self.start()
        messages = self.log()
        with self.subTest("start-up order"):
            order = ["Load config OK", "OrchardService(Version:1.0.0.0) startup", "Initialize transfer module ok",
                     "InitAutoUpdate OK", "Ferryline Init - Param:" + win(self.work) + "\\od_svr_ftp.exe",
                     "FTP - Connectting", "FTP - Connected", "FTP - Logon", "FTP - Get setting", "FTP - Get account",
                     "Logon ftp server"]
            self.assertEqual([m for m in messages if m in order], order)
            calls = [line.split(" ", 1)[0] for line in self.journal()]
            self.assertEqual(calls[:3], ["FRLI_Init", "FRLI_StartSvr", "FRLI_LogOn"])
            after_events = [c for c in calls[3:] if c != "event"]
            self.assertEqual(after_events, ["FRLI_GetSvrAddress", "FRLI_GetAccount", "FRLI_GetShareDirCount",
                                            "FRLI_AddShareDir", "FRLI_SetAccount"])
            self.assertEqual(self.journal()[3:6], ["event type=0 result=1", "event type=1 result=1",
                                                   "event type=2 result=1"])
        home = self.pushes()[0].split("[", 1)[1].split("|", 1)[0]
        self.assertTrue(home.endswith("\\ODHomeDir"), home)

        with oc.ChannelClient(port=PORT) as c:
            with self.subTest("65, 67, 69 at start: the library says anonymous, no user is configured"):
                self.assertEqual(self.account(c), ("", "", [(home, "", 1)]))
                self.assertEqual(self.setting(c), ("ftp.test", 2121))
                self.assertEqual(struct.unpack("<QQI", self.ok(c, 69)), (5000000000, 42, 2))

            rows = [  # name, code, arguments, (user, password) after, (host, port) after, library call or None
                ("66 anonymous", 66, rec.ftp_account_request("anonymous", ""), ("anonymous", ""), ("ftp.test", 2121),
                 "FRLI_AddShareDir user=anonymous pswd= count=1"),
                ("66 a user and password", 66, rec.ftp_account_request("Alice", "pw1"), ("Alice", "pw1"),
                 ("ftp.test", 2121), "FRLI_AddShareDir user=Alice pswd=pw1 count=1"),
                ("66 only the user's letter case differs", 66, rec.ftp_account_request("alice", "pw1"),
                 ("Alice", "pw1"), ("ftp.test", 2121), None),
                ("66 a password in other letter case is a new password", 66, rec.ftp_account_request("alice", "PW1"),
                 ("Alice", "PW1"), ("ftp.test", 2121), "FRLI_AddShareDir user=Alice pswd=PW1 count=1"),
                ("68 by address", 68, rec.ftp_setting_request(1, "10.1.2.3", 2100), ("Alice", "PW1"),
                 ("10.1.2.3", 2100), "FRLI_SetCustomAddress host=10.1.2.3 port=2100"),
                ("68 by domain name, no port", 68, rec.ftp_setting_request(2, "FTP.Example.org", 0), ("Alice", "PW1"),
                 ("FTP.Example.org", 2100), "FRLI_SetCustomAddress host=FTP.Example.org port=2100"),
                ("68 only the letter case differs", 68, rec.ftp_setting_request(2, "ftp.example.ORG", 0),
                 ("Alice", "PW1"), ("FTP.Example.org", 2100), None),
            ]
            for name, code, args, account, address, call in rows:
                with self.subTest(name):
                    before = self.journal()
                    self.assertEqual(c.send(oc.command(code, args)), struct.pack("<H", 200))
                    new = self.journal()[len(before):]
                    self.assertEqual([line[:len(call)] for line in new[:1]], [call] if call else [],
                                     "library calls: %r" % new)
                    if call and call.startswith("FRLI_AddShareDir"):
                        self.assertEqual(new[1:], ["FRLI_SetAccount"])
                    user, digest, _ = self.account(c)
                    self.assertEqual((user, digest), (account[0], rec.password_digest(account[1])))
                    self.assertEqual(self.setting(c), address)

            with self.subTest("the share list follows commands 1, 2 and 4"):
                steps = [  # command, path, status, entries after
                    (1, video, 200, [(home, "", 1), (video, below(home, video), 0)]),
                    (2, shows, 200, [(home, "", 1), (video, below(home, video), 0), (shows, below(home, shows), 0)]),
                    (1, video, 403, [(home, "", 1), (video, below(home, video), 0), (shows, below(home, shows), 0)]),
                    (4, video, None, [(home, "", 1), (shows, below(home, shows), 0)]),
                ]
                for code, path, status, entries in steps:
                    pushes = len(self.pushes())
                    self.assertEqual(oc.split_status(c.send(oc.command(code, path_field(path))))[0], status)
                    self.assertEqual(self.account(c)[2], entries, "after command %d" % code)
                    if status != 403:
                        self.assertEqual(len(self.pushes()), pushes + 1, "one push for command %d" % code)
                        listed = "".join(" [%s|%s|%d]" % e for e in entries)
                        self.assertTrue(self.pushes()[-1].endswith("count=%d%s" % (len(entries), listed)),
                                        self.pushes()[-1])
                    else:
                        self.assertEqual(len(self.pushes()), pushes, "a refused directory pushes nothing")

        self.assertTrue(op.wait_until(lambda: "FRLI_HeartBeat" in self.journal(), 15), "no FTP heartbeat")
        self.stop()
        with self.subTest("the configuration written at the stop"):
            config = read_config(self.work)
            self.assertEqual((config["ftp.user"], config["ftp.pswd"], config["ftp.hosttype"], config["ftp.host"]),
                             ("Alice", "PW1", "2", "FTP.Example.org"))
        self.assertEqual(self.journal()[-3:], ["FRLI_LogOut", "FRLI_StopSvr", "FRLI_Term"])

        # The library keeps what it was given; the account, address and list come back from both sides.
        self.start()
        with oc.ChannelClient(port=PORT) as c:
            with self.subTest("values survive a restart"):
                user, digest, entries = self.account(c)
                self.assertEqual((user, digest), ("Alice", rec.password_digest("PW1")))
                self.assertEqual(entries, [(home, "", 1), (shows, below(home, shows), 0)],
                                 "the stored directory is listed once, as the library already had it")
                self.assertEqual(self.setting(c), ("FTP.Example.org", 2100))
                self.assertNotIn(MISMATCH, self.log())
        self.stop()

        # A configured password the library does not know: kept, and pushed to it.
        with open(os.path.join(self.work, "od_svr_cfg.ini"), "rb") as f:
            config = f.read().decode("gbk")
        write(self.work, "od_svr_cfg.ini", config.replace("pswd=PW1", "pswd=changed").replace("\r\n", "\n"))
        self.start()
        with oc.ChannelClient(port=PORT) as c:
            with self.subTest("a wrong password from the library keeps the configured one"):
                self.assertIn(MISMATCH, self.log())
                self.assertEqual(self.account(c)[:2], ("Alice", rec.password_digest("changed")))
                self.assertTrue(self.pushes()[-1].startswith("FRLI_AddShareDir user=Alice pswd=changed "))
        self.stop()
        self.assertEqual(read_config(self.work)["ftp.pswd"], "changed")

        # A library that never reports its account: the stored directory has no share entry.
        write(self.work, "Ferryline.ini", "[ftp]\nevents=0,1,2,5\n")
        self.start(synced=False)
        self.assertTrue(op.wait_until(lambda: "FTP - Get setting" in self.log()[-12:], 30))
        with oc.ChannelClient(port=PORT) as c:
            with self.subTest("removing a directory without a share entry still pushes"):
                self.assertEqual(self.account(c)[2], [])
                pushes = len(self.pushes())
                self.assertEqual(c.send(oc.command(4, path_field(shows))), b"")
                self.assertEqual(self.pushes()[pushes:], ["FRLI_AddShareDir user=Alice pswd=changed count=0"])
        self.stop()

        # A stop while the library is still logging on: its late account event is not acted on.
        write(self.work, "Ferryline.ini", "[ftp]\neventdelay=1500\n")
        self.start(synced=False)
        self.stop()
        with self.subTest("nothing reaches the library after it has ended"):
            journal = self.journal()
            term = len(journal) - 1 - journal[::-1].index("FRLI_Term")
            self.assertEqual(journal[term + 1:], [])
            self.assertNotIn("FRLI_GetAccount", journal[journal.index("FRLI_LogOut", -10):])
            messages = self.log()
            self.assertNotIn("Logon ftp server", messages[messages.index("UnInit - FTPSvr", -8):])
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
