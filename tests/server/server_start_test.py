#!/usr/bin/env python3
"""OrchardSvc.exe from outside, under Wine: start-up in a fresh folder, the
control commands 81, 82, 83 and 129 and an unknown code over 127.0.0.1:9090,
the log lines of start and stop in their order, a second instance, the
configuration file before and after a run, a channel that cannot start, and
the automatic-update timers driven through the update library's stand-in."""

import configparser
import os
import socket
import struct
import sys
import unittest

import orchard_channel as oc
import orchard_proc as op

ARGS = None
PORT = 9090
PROGRAM = "OrchardSvc.exe"
FILES = [PROGRAM, "vxaucommon.dll", "Seedlift.dll", "Tallyhub.dll", "Ferryline.dll"]
START_SECONDS = 60
STOP_SECONDS = 30

# Every line of the stop sequence, in order: the channel, the watchdog, the
# directory watcher, the publish manager, the FTP side, the P2P core, the
# window, the configuration.
STOP_LINES = ["WM_CLOSE", "UnInit transfer module", "Stop Server", "Monitor ", "UnInit - DirWatcher",
              "UnInit - Database", "UnInit - FTPSvr", "UnInit - P2PSvr", "WM_DESTROY", "Save config"]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_log(work, name="od_server.Log"):
    return op.log_messages(os.path.join(work, name))


def read_config(work):
    path = os.path.join(work, "od_svr_cfg.ini")
    if not os.path.exists(path):
        return None
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    with open(path, "rb") as f:
        raw = f.read()
    if raw.startswith(b"\xff\xfe"):
        parser.read_string(raw.decode("utf-16"))
    else:
        parser.read_string(raw.decode("gbk"))
    return {f"{s}.{k}": v for s in parser.sections() for k, v in parser[s].items()}


def write(work, name, text):
    with open(os.path.join(work, name), "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))


def index_of(messages, prefix, start=0):
    for i in range(start, len(messages)):
        if messages[i].startswith(prefix):
            return i
    return -1


class ServerTestCase(unittest.TestCase):
    def setUp(self):
        self.assertFalse(op.port_open(PORT), "port 9090 is taken before the test")
        self.work = op.make_work_dir(ARGS.bin, FILES, prefix="orchard_svc_")
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            p.kill()
        op.remove_work_dir(self.work)

    def start(self, work=None, env=None):
        proc = op.WineProcess(ARGS.wine, work or self.work, PROGRAM, env=env)
        self.procs.append(proc)
        return proc

    def start_serving(self):
        proc = self.start()
        self.assertTrue(op.wait_for_port(PORT, START_SECONDS, proc),
                        "OrchardSvc did not open 127.0.0.1:9090 (exit %s)" % proc.popen.poll())
        return proc

    def stop(self, proc):
        with oc.ChannelClient(port=PORT) as client:
            self.assertEqual(client.send(oc.command(129)), struct.pack("<H", 200))
        self.assertEqual(proc.wait(STOP_SECONDS), 0, "OrchardSvc did not end after command 129")
        self.assertFalse(op.port_open(PORT), "the channel still listens after the stop")

    def assertStopSequence(self, messages):
        """The log ends with the stop sequence, line for line, from WM_CLOSE on (a
        start still running when command 129 came may log before it)."""
        self.assertIn("CMD - Close Server", messages)
        at = len(messages) - 1 - messages[::-1].index("WM_CLOSE")
        rest = messages[at:]
        self.assertEqual(len(rest), len(STOP_LINES), "the stop sequence: %r" % rest)
        for line, prefix in zip(rest, STOP_LINES):
            self.assertTrue(line.startswith(prefix), "%r where %r belongs, in %r" % (line, prefix, rest))

    def assertInOrder(self, messages, prefixes):
        at = 0
        for prefix in prefixes:
            found = index_of(messages, prefix, at)
            self.assertGreaterEqual(found, 0, "%r missing after entry %d in %r" % (prefix, at, messages))
            at = found + 1


class FreshStart(ServerTestCase):
    def test_commands_logs_config_and_stop(self):
        self.assertIsNone(read_config(self.work))
        proc = self.start_serving()

        with self.subTest("second instance leaves at once"):
            other = op.make_work_dir(ARGS.bin, FILES, prefix="orchard_svc2_")
            try:
                second = self.start(other)
                self.assertEqual(second.wait(START_SECONDS), 0)
                self.assertIsNone(read_log(other), "a second instance writes no log")
            finally:
                op.remove_work_dir(other)
            self.assertTrue(proc.running())

        with oc.ChannelClient(port=PORT) as client:
            rows = [
                ("81 before P2P login", oc.command(81), 502, 0),
                ("82 system information", oc.command(82), 200, 256),
                ("83 performance", oc.command(83), 200, 28),
            ]
            replies = {}
            for name, body, status, size in rows:
                with self.subTest(name):
                    reply = client.send(body)
                    got_status, payload = oc.split_status(reply)
                    self.assertEqual(got_status, status)
                    self.assertEqual(len(payload), size)
                    replies[name] = payload
            for name, body in [("empty body", b""), ("half a code", b"\x51"), ("code 0", oc.command(0)),
                               ("code 3", oc.command(3)), ("code 100", oc.command(100)),
                               ("code 132", oc.command(132)), ("code 65535", oc.command(0xFFFF, b"\x01\x02"))]:
                with self.subTest("unknown: " + name):
                    self.assertEqual(client.send(body), b"")

        os_text = replies["82 system information"][:128].decode("utf-16-le").split("\0")[0]
        self.assertRegex(os_text, r"^\d+\.\d+\.0\.\d+ ")
        total, avail, avail_virtual, r0, r1 = struct.unpack("<IIIQQ", replies["83 performance"])
        self.assertGreater(total, 0)
        self.assertLessEqual(avail, total)
        self.assertGreater(avail_virtual, 0)
        self.assertEqual((r0, r1), (0, 0))

        self.stop(proc)

        messages = read_log(self.work)
        config_path = windows_path(os.path.join(self.work, "od_svr_cfg.ini"))
        self.assertInOrder(messages, [
            "Config %s isn't exist" % config_path,
            "OrchardService(Version:1.0.0.0) startup",
            "Initialize transfer module ok",
            "InitAutoUpdate OK",
            "NextPreferedCheckInterval 3600",
            "CMD - Get infomatin of server",
            "CMD - Get system infomation of server",
            "CMD - Get performance of server",
            "CMD - Close Server",
        ] + STOP_LINES)
        self.assertStopSequence(messages)
        self.assertEqual(sum(m.endswith(") startup") for m in messages), 1)
        self.assertIn('Monitor "%s" -stop' % windows_path(os.path.join(self.work, "OrchardMon.exe")), messages)
        self.assertEqual(messages.count("Stop Server"), 1)
        self.assertNotIn("P2PSvr - Init Error", messages, "no service starts without a configuration")

        config = read_config(self.work)
        self.assertEqual(config, {
            "limit.p2p_max_upspeed": "0", "ftp.user": "", "ftp.pswd": "", "ftp.hosttype": "1", "ftp.host": "",
            "p2p.port": "8000", "p2p.loglevel": "9", "auto.dir": "", "update.waittime": "60",
        })
        self.assertTrue(os.path.exists(os.path.join(self.work, "PublishList.Log")))


RUN = ["Load config OK", "WM_CLOSE", "Stop Server", "Save config"]


class Configuration(ServerTestCase):
    ROWS = [
        # name, configuration before, extra files, expected keys after, lines present in order, lines absent
        ("missing keys get their defaults",
         "[service]\nservicetype=0\n[p2p]\nport=8123\n", [],
         {"service.servicetype": "0", "p2p.port": "8123", "p2p.loglevel": "0", "update.waittime": "60",
          "ftp.hosttype": "1", "limit.p2p_max_upspeed": "0"},
         RUN, ["P2PSvr - Init Error", "Ferryline Init - Param:"]),
        ("values are written back",
         "[service]\nservicetype=0\n[limit]\np2p_max_upspeed=250\n[p2p]\nport=8200\nloglevel=8\n"
         "[ftp]\nuser=alice\npswd=pw 1\nhosttype=2\nhost=ftp.example.org\n[auto]\ndir=C:\\Auto\n[update]\nwaittime=0\n", [],
         {"limit.p2p_max_upspeed": "250", "p2p.port": "8200", "p2p.loglevel": "8", "ftp.user": "alice",
          "ftp.pswd": "pw 1", "ftp.hosttype": "2", "ftp.host": "ftp.example.org", "auto.dir": "C:\\Auto",
          "update.waittime": "60", "service.servicetype": "0"},
         RUN, []),
        ("configured threshold applies after loading",
         "[service]\nservicetype=0\nloglevel=2\n", [],
         {"service.loglevel": "2"},
         ["Load config OK"], ["OrchardService(Version:1.0.0.0) startup", "Initialize transfer module ok"]),
        ("P2P start goes on while the core is not logged in",
         "[service]\nservicetype=2\n", [],
         {"service.servicetype": "2"},
         ["Load config OK", "P2PSvr - Init OK"] + RUN[1:], ["P2PSvr - Init Error", "P2PSvr - Running..."]),
        ("P2P port outside the u16 range starts no core",
         "[service]\nservicetype=2\n[p2p]\nport=70000\n", [],
         {"p2p.port": "70000"},
         RUN, ["P2PSvr - Init Error", "P2PSvr - Init OK"]),
        ("FTP start skips a missing FTP program",
         "[service]\nservicetype=1\n", [],
         {"service.servicetype": "1"},
         RUN, ["Ferryline Init - Param:"]),
        ("FTP start names the FTP program when it exists",
         "[service]\nservicetype=1\n", ["od_svr_ftp.exe"],
         {"service.servicetype": "1"},
         ["Load config OK", "Ferryline Init - Param:{work}\\od_svr_ftp.exe"] + RUN[1:], []),
        ("default service type starts both",
         "[p2p]\nport=8000\n", [],
         {"p2p.port": "8000"},
         ["Load config OK", "P2PSvr - Init OK"] + RUN[1:], ["P2PSvr - Init Error"]),
    ]

    def test_before_and_after_a_run(self):
        for name, before, extra, after, present, absent in self.ROWS:
            with self.subTest(name):
                op.remove_work_dir(self.work)
                self.work = op.make_work_dir(ARGS.bin, FILES, prefix="orchard_svc_")
                write(self.work, "od_svr_cfg.ini", before)
                for f in extra:
                    write(self.work, f, "")
                proc = self.start_serving()
                if "od_svr_ftp.exe" in extra:  # the FTP side has logged on before the stop
                    self.assertTrue(op.wait_until(lambda: "Logon ftp server" in (read_log(self.work) or []), 30))
                if "servicetype=2" in before:
                    with oc.ChannelClient(port=PORT) as client:
                        self.assertEqual(client.send(oc.command(81)), struct.pack("<H", 502))
                self.stop(proc)
                messages = read_log(self.work)
                config = read_config(self.work)
                for key, value in after.items():
                    self.assertEqual(config.get(key), value, key)
                work = windows_path(self.work)
                self.assertInOrder(messages, [line.format(work=work) for line in present])
                if "WM_CLOSE" in present:  # not under a threshold that hides it
                    self.assertStopSequence(messages)
                for line in absent:
                    self.assertFalse(any(m.startswith(line) for m in messages), "%r logged" % line)


class UnreachableStart(ServerTestCase):
    def test_exits_non_zero_without_its_window(self):
        # Without a display the window cannot be created.
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        proc = self.start(env=env)
        code = proc.wait(START_SECONDS)
        self.assertIsNotNone(code, "OrchardSvc lives on without its window")
        self.assertNotEqual(code, 0)
        messages = read_log(self.work)
        self.assertIn("OrchardService(Version:1.0.0.0) startup", messages)
        self.assertFalse(any(m.startswith("Initialize transfer module") for m in messages), messages)
        self.assertIsNone(read_config(self.work))
        proc = self.start_serving()
        self.stop(proc)

    def test_goes_on_when_the_channel_cannot_start(self):
        blocker = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            # Earlier tests' connections may linger in TIME_WAIT on this port.
            blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            blocker.bind(("127.0.0.1", PORT))
            blocker.listen(1)
            proc = self.start()
            self.assertTrue(op.wait_until(lambda: "InitAutoUpdate OK" in (read_log(self.work) or []), START_SECONDS),
                            "start-up did not go on after the channel failed: %r" % read_log(self.work))
            self.assertIsNone(proc.wait(3), "OrchardSvc ended without its channel")
            messages = read_log(self.work)
            self.assertInOrder(messages, ["OrchardService(Version:1.0.0.0) startup",
                                          "Initialize transfer module error 16", "InitAutoUpdate OK"])
            self.assertNotIn("Initialize transfer module ok", messages)
            proc.kill()
        finally:
            blocker.close()
        # The mutex went with the process: the next start serves.
        proc = self.start_serving()
        self.stop(proc)


class AutomaticUpdate(ServerTestCase):
    ROWS = [
        # name, update answers, waittime, lines in order, update library calls in order
        ("pending update installs after the idle ticks, then closes",
         "pending=1\n", 2,
         ["InitAutoUpdate OK", "AutoUpdate - HasPendingUpdate", "AutoUpdate - Start install update&exit",
          "WM_CLOSE"] + STOP_LINES[1:],
         ["InitAutoUpdate wrensvr 1.0.0.0 []", "StartAutoUpdate 0", "InstallUpdate", "UnInitAutoUpdate"]),
        ("completed update stops the server first, the quit message ends the loop",
         "pending=1\ncomplete=1\n", 1,
         ["InitAutoUpdate OK", "AutoUpdate - complete", "AutoUpdate - HasPendingUpdate",
          "AutoUpdate - Start install update&exit", "UnInit transfer module", "Stop Server",
          "AutoUpdate - product quit", "WM_DESTROY", "Save config"],
         ["StartAutoUpdate 0", "DisplayUpdateNotify", "InstallUpdate", "InstallPendingUpdate", "UnInitAutoUpdate"]),
    ]

    def test_update_paths_stop_once(self):
        for name, answers, waittime, lines, calls in self.ROWS:
            with self.subTest(name):
                op.remove_work_dir(self.work)
                self.work = op.make_work_dir(ARGS.bin, FILES, prefix="orchard_svc_")
                write(self.work, "vxaucommon.ini", "[answers]\n" + answers)
                write(self.work, "od_svr_cfg.ini", "[service]\nservicetype=0\n[update]\nwaittime=%d\n" % waittime)
                proc = self.start()
                self.assertEqual(proc.wait(START_SECONDS + 30), 0, "the update path did not end the server")
                messages = read_log(self.work)
                self.assertInOrder(messages, lines)
                self.assertEqual(messages.count("Stop Server"), 1, "the stop sequence ran more than once")
                self.assertEqual(messages.count("UnInit transfer module"), 1)
                with open(os.path.join(self.work, "vxaucommon.log")) as f:
                    recorded = f.read().splitlines()
                self.assertInOrder(recorded, calls)
                self.assertEqual(recorded.count("InstallUpdate"), 1)

    def test_checks_follow_the_interval_the_library_asks(self):
        write(self.work, "vxaucommon.ini", "[answers]\ninterval=1\n")
        write(self.work, "od_svr_cfg.ini", "[service]\nservicetype=0\n")
        proc = self.start_serving()
        log = os.path.join(self.work, "vxaucommon.log")

        def checks():
            if not os.path.exists(log):
                return 0
            with open(log) as f:
                return f.read().splitlines().count("StartAutoUpdate 0")

        self.assertTrue(op.wait_until(lambda: checks() >= 3, 20), "checks did not repeat: %d" % checks())
        self.stop(proc)
        self.assertIn("NextPreferedCheckInterval 1", read_log(self.work))

    def test_failed_initialisation_runs_no_update_timers(self):
        write(self.work, "vxaucommon.ini", "[answers]\ninit=-3\npending=1\n")
        write(self.work, "od_svr_cfg.ini", "[service]\nservicetype=0\n[update]\nwaittime=1\n")
        proc = self.start_serving()
        self.assertIsNone(proc.wait(5), "no update timer may end the server")
        self.stop(proc)
        messages = read_log(self.work)
        self.assertIn("InitAutoUpdate Error(-3)", messages)
        self.assertNotIn("InitAutoUpdate OK", messages)
        self.assertFalse(any(m.startswith("NextPreferedCheckInterval") for m in messages))
        self.assertNotIn("AutoUpdate - HasPendingUpdate", messages)


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
