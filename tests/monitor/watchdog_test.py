#!/usr/bin/env python3
"""OrchardMon.exe under Wine's service manager, from outside: install and
start the service "orchard_server_monitor", see it start the real
OrchardSvc.exe with " /start", kill the server and time how soon it runs
again, stop it all through command 129, and remove the service. Also the
server run in its own folder (its relative files are its own), the switch
table's edge cases, a server already running, a missing server program, a
server that ends at once, and OrchardUI's start entry running the real
OrchardMon.

monitor_probe.exe (beside the programs) reads service states and process
lists of the prefix and kills by Windows pid; ui_driver.exe answers the
message boxes."""

import os
import re
import shutil
import socket
import struct
import subprocess
import time
import unittest

import orchard_channel as oc
import orchard_proc as op
from orchard_server import free_port, win as windows_path

ARGS = None
PORT = 9090
SERVICE = "orchard_server_monitor"
SERVER = "OrchardSvc.exe"
SERVER_FILES = [SERVER, "vxaucommon.dll", "Seedlift.dll", "Tallyhub.dll", "Ferryline.dll"]
TOOLS = ["OrchardMon.exe", "faultpost.exe", "monitor_probe.exe", "ui_driver.exe"]
START_SECONDS = 60
# A server that ran shorter than this counts as a quick exit for the watch.
QUICK_EXIT_SECONDS = 3.0
IDNO = 7


class Folder:
    """A program folder under test: the tools, and the server's files unless left out."""

    def __init__(self, with_server=True, extra=()):
        names = TOOLS + (SERVER_FILES if with_server else []) + list(extra)
        self.path = op.make_work_dir(ARGS.bin, names, prefix="orchard_mon_")

    def file(self, name):
        return os.path.join(self.path, name)

    def run(self, program, *args, timeout=60):
        """Runs a program to its end: (exit code, standard output)."""
        done = subprocess.run([ARGS.wine, program, *args], cwd=self.path, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
        return done.returncode, done.stdout.decode("utf-8", errors="replace")

    def monitor(self, switch, timeout=60):
        return self.run("OrchardMon.exe", switch, timeout=timeout)[0]

    def probe(self, *args):
        return self.run("monitor_probe.exe", *args)[1]

    def service_state(self):
        match = re.search(r"state=(\w+)", self.probe("service-state", SERVICE))
        return match.group(1) if match else None

    def wait_state(self, state, timeout):
        return op.wait_until(lambda: self.service_state() == state, timeout, step=0.3)

    def server_pids(self):
        return [int(line) for line in self.probe("pids", SERVER).split()]

    def monitor_log(self):
        return op.log_messages(self.file("od_monitor.Log")) or []

    def start_service(self, test):
        """OrchardMon -start until the service runs: a start that a cold
        service manager lets time out is tried once more."""
        for attempt in range(2):
            test.assertEqual(self.monitor("-start"), 0)
            if self.wait_state("RUNNING", 30):
                return
        test.fail("the service did not reach RUNNING: %s" % self.probe("service-state", SERVICE))

    def remove(self):
        op.remove_work_dir(self.path)


def stop_server_over_channel(test):
    with oc.ChannelClient(port=PORT) as client:
        test.assertEqual(client.send(oc.command(129)), struct.pack("<H", 200))


def remove_service_and_server():
    """No service and no server left behind, whatever a test (or an earlier run) did."""
    scratch = Folder(with_server=False)
    try:
        scratch.monitor("-stop")
        scratch.wait_state("STOPPED", 15)
        if op.port_open(PORT):
            try:
                with oc.ChannelClient(port=PORT) as client:
                    client.send(oc.command(129))
            except (OSError, oc.ChannelError):
                pass
            op.wait_until(lambda: not scratch.server_pids(), 30)
        scratch.probe("kill", SERVER)
        scratch.monitor("-uninstall")
        if not scratch.wait_state("MISSING", 15):
            raise AssertionError("the service cannot be removed: %s" % scratch.service_state())
    finally:
        scratch.remove()


def setUpModule():
    remove_service_and_server()


class WatchdogTestCase(unittest.TestCase):
    def setUp(self):
        self.folders = []
        self.procs = []
        self.assertFalse(op.port_open(PORT), "port 9090 is taken before the test")

    def tearDown(self):
        for p in self.procs:
            p.kill()
        remove_service_and_server()
        for f in self.folders:
            f.remove()

    def folder(self, **kwargs):
        f = Folder(**kwargs)
        self.folders.append(f)
        return f

    def install(self, folder, switch="-install"):
        self.assertEqual(folder.monitor(switch), 0)
        self.assertTrue(folder.wait_state("STOPPED", 15), "not installed: %s" % folder.service_state())

    def wait_serving(self, folder):
        self.assertTrue(op.wait_until(lambda: op.port_open(PORT), START_SECONDS, step=0.2),
                        "OrchardSvc did not come up: %s" % folder.monitor_log())

    def assertInOrder(self, messages, expected):
        at = 0
        for text in expected:
            found = next((i for i in range(at, len(messages)) if messages[i].startswith(text)), -1)
            self.assertGreaterEqual(found, 0, "%r missing after entry %d in %r" % (text, at, messages))
            at = found + 1


class KeepsTheServerRunning(WatchdogTestCase):
    def test_install_start_restart_stop_remove(self):
        folder = self.folder()
        self.install(folder)
        folder.start_service(self)
        self.wait_serving(folder)
        started_at = time.monotonic()
        pids = folder.server_pids()
        self.assertEqual(len(pids), 1, "one server: %r" % pids)
        target = windows_path(folder.file(SERVER))
        self.assertInOrder(folder.monitor_log(), ["Start...", "Monitor " + target,
                                                  'Create process "%s" /start' % target])
        with open(folder.file("od_monitor.Log"), "rb") as f:
            stamps = re.findall(rb"\r\n\[([^\]]*)\] ", f.read())
        self.assertTrue(stamps and all(re.fullmatch(rb"\d\d:\d\d:\d\d:\d\d\d", s) for s in stamps), stamps)

        handles = []
        for round_ in range(3):
            with self.subTest("kill and restart %d" % (round_ + 1)):
                # Past the quick-exit limit, so the pause is the usual 100 ms.
                time.sleep(max(0.0, started_at + QUICK_EXIT_SECONDS + 1 - time.monotonic()))
                out = folder.probe("restart-time", SERVER, "5000")
                match = re.search(r"killed=(\d+) restarted=(\d+) ms=([\d.]+)", out)
                self.assertIsNotNone(match, out)
                restart_ms = float(match.group(3))
                killed_at = time.monotonic()
                self.wait_serving(folder)
                started_at = time.monotonic()
                print("restart %d: OrchardSvc running again %.0f ms after the kill, serving after %.0f ms"
                      % (round_ + 1, restart_ms, (started_at - killed_at) * 1000 + restart_ms), flush=True)
                self.assertLess(restart_ms, 1000)
                self.assertEqual(folder.server_pids(), [int(match.group(2))])
                handles.append(folder.probe("handles", "OrchardMon.exe").strip())
        counts = [int(h.split("=")[1]) for h in handles if re.fullmatch(r"handles=\d+", h)]
        if len(counts) == 3:
            self.assertLessEqual(counts[2], counts[0], "the service holds more handles after each restart: %r"
                                 % counts)
        messages = folder.monitor_log()
        self.assertEqual(messages.count("Process already exit"), 3)
        self.assertFalse([m for m in messages if "next start in" in m], "no back-off after long runs")

        with self.subTest("command 129 stops the server and its watchdog"):
            stop_server_over_channel(self)
            self.assertTrue(op.wait_until(lambda: not op.port_open(PORT), 30))
            self.assertTrue(folder.wait_state("STOPPED", 30), folder.service_state())
            time.sleep(2)
            self.assertEqual(folder.server_pids(), [], "the server was started again after the stop")
            messages = folder.monitor_log()
            self.assertInOrder(messages, ["Stop...", "Stop server"])
            self.assertEqual(messages.count("Process already exit"), 3, "the stop was taken for an exit")
            server_log = op.log_messages(folder.file("od_server.Log"))
            self.assertIn('Monitor "%s" -stop' % windows_path(folder.file("OrchardMon.exe")), server_log)

        with self.subTest("remove"):
            self.assertEqual(folder.monitor("-uninstall"), 0)
            self.assertTrue(folder.wait_state("MISSING", 15))


class RunsTheServerInItsFolder(WatchdogTestCase):
    def test_relative_files_are_the_servers_own(self):
        folder = self.folder()
        # An IP list where the P2P core reads it ("./ipdata/iplist.dat"), and the core's log on
        # (Debug 8) with its servers on this machine, where nobody answers.
        os.makedirs(folder.file("ipdata"))
        with open(folder.file(os.path.join("ipdata", "iplist.dat")), "w", newline="\n") as f:
            f.write("127.0.0.0/8\n10.0.0.0/8\n")
        with open(folder.file("P2PCfg.ini"), "w", newline="\r\n") as f:
            f.write("[OthersSet]\nServHost=127.0.0.1\nServPort=%d\nDebug=8\n" % free_port(socket.SOCK_DGRAM))
        with open(folder.file("od_svr_cfg.ini"), "w", newline="\r\n") as f:
            f.write("[p2p]\nport=%d\n" % free_port(socket.SOCK_DGRAM))
        self.install(folder)
        folder.start_service(self)
        self.wait_serving(folder)
        core_log = folder.file(os.path.join("log", "p2pbase.log"))

        def core_says():
            if not os.path.exists(core_log):
                return ""
            with open(core_log, "rb") as f:
                return f.read().decode("latin-1")
        self.assertTrue(op.wait_until(lambda: "load limit ip list" in core_says(), 30),
                        "the P2P core's log: %r" % core_says()[-2000:])
        self.assertIn("CP2pSession::load_ip_list load limit ip list success", core_says(),
                      "the IP list beside OrchardSvc.exe was loaded")
        self.assertTrue(op.wait_until(lambda: os.path.exists(folder.file("tcpserver.log")), 15),
                        "tcpserver.log is beside OrchardSvc.exe: %r" % sorted(os.listdir(folder.path)))
        stop_server_over_channel(self)
        self.assertTrue(folder.wait_state("STOPPED", 30))


class SwitchTable(WatchdogTestCase):
    def service_key(self, folder):
        code, out = folder.run("reg", "query", r"HKLM\System\CurrentControlSet\Services\%s" % SERVICE)
        return out

    def test_switches_without_and_with_the_service(self):
        folder = self.folder()
        rows = [
            # switch, state before, exit code, state after
            ("-start", "MISSING", 0, "MISSING"),
            ("-stop", "MISSING", 0, "MISSING"),
            ("-uninstall", "MISSING", 0, "MISSING"),
            ("-install", "MISSING", 0, "STOPPED"),
            ("-install", "STOPPED", 0, "STOPPED"),
            ("-installauto", "STOPPED", 0, "STOPPED"),
            ("-stop", "STOPPED", 0, "STOPPED"),
            ("/uninstall", "STOPPED", 0, "MISSING"),
            ("/installauto", "MISSING", 0, "STOPPED"),
            ("-uninstall", "STOPPED", 0, "MISSING"),
        ]
        for switch, before, code, after in rows:
            with self.subTest(switch=switch, before=before):
                self.assertEqual(folder.service_state(), before)
                self.assertEqual(folder.monitor(switch), code)
                self.assertTrue(folder.wait_state(after, 15), "%s after %s" % (folder.service_state(), switch))
                self.assertEqual(folder.server_pids(), [])
                if switch.endswith("install") and after == "STOPPED" and before == "MISSING":
                    key = self.service_key(folder)
                    start = "0x2" if switch.endswith("installauto") else "0x3"
                    self.assertRegex(key, r"Start\s+REG_DWORD\s+%s" % start)
                    self.assertRegex(key, r"Type\s+REG_DWORD\s+0x110")
                    self.assertIn('ImagePath    REG_SZ    "%s"' % windows_path(folder.file("OrchardMon.exe")), key)

    def test_a_switch_in_other_letters_asks(self):
        folder = self.folder()
        rows = [("-Install", "Install Service?"), ("", "Install Service?"), ("install", "Install Service?")]
        for switch, question in rows:
            with self.subTest(switch=switch):
                proc = op.WineProcess(ARGS.wine, folder.path, "OrchardMon.exe", [switch] if switch else [])
                self.procs.append(proc)
                box = None
                deadline = time.monotonic() + 30
                while box is None and time.monotonic() < deadline and proc.running():
                    code, out = folder.run("ui_driver.exe", "find", "Question")
                    box = out.strip() if code == 0 and out.strip() else None
                    time.sleep(0.3)
                self.assertIsNotNone(box, "no question was asked")
                self.assertIn(question, folder.run("ui_driver.exe", "children", box)[1])
                folder.run("ui_driver.exe", "command", box, str(IDNO))
                self.assertEqual(proc.wait(30), 0)
                self.assertEqual(folder.service_state(), "MISSING", "No installs nothing")


class FindsAndWaits(WatchdogTestCase):
    def test_a_server_already_running_is_waited_on(self):
        folder = self.folder()
        outside = op.WineProcess(ARGS.wine, folder.path, SERVER)
        self.procs.append(outside)
        self.wait_serving(folder)
        before = folder.server_pids()
        self.assertEqual(len(before), 1)
        self.install(folder)
        folder.start_service(self)
        time.sleep(3)
        self.assertEqual(folder.server_pids(), before, "a second server was started")
        messages = folder.monitor_log()
        self.assertIn("Monitor " + windows_path(folder.file(SERVER)), messages)
        self.assertFalse([m for m in messages if m.startswith("Create process")], messages)

        out = folder.probe("restart-time", SERVER, "5000")
        self.assertRegex(out, r"restarted=\d+")
        self.wait_serving(folder)
        self.assertInOrder(folder.monitor_log(), ["Process already exit", "Create process"])
        stop_server_over_channel(self)
        self.assertTrue(folder.wait_state("STOPPED", 30))

    def test_a_missing_server_program_is_logged_and_the_service_still_stops(self):
        folder = self.folder(with_server=False)
        self.install(folder)
        folder.start_service(self)
        self.assertTrue(op.wait_until(lambda: any(m.startswith("Does not exist") for m in folder.monitor_log()), 15))
        self.assertIn("Does not exist - " + windows_path(folder.file(SERVER)), folder.monitor_log())
        self.assertEqual(folder.service_state(), "RUNNING", "the service stays until it is stopped")
        self.assertEqual(folder.monitor("-stop"), 0)
        self.assertTrue(folder.wait_state("STOPPED", 15), "the service never reached STOPPED")

    def test_a_server_that_ends_at_once_is_started_with_growing_pauses(self):
        folder = self.folder(with_server=False)
        # monitor_probe under the server's name ends at once and notes each start.
        shutil.copy2(os.path.join(ARGS.bin, "monitor_probe.exe"), folder.file(SERVER))
        self.install(folder)
        folder.start_service(self)
        time.sleep(8)
        stop_asked = time.monotonic()
        self.assertEqual(folder.monitor("-stop"), 0)
        self.assertTrue(folder.wait_state("STOPPED", 15))
        print("stopped %.1f s after the stop was asked" % (time.monotonic() - stop_asked), flush=True)
        with open(folder.file(SERVER + ".starts")) as f:
            starts = f.read().count("pid=")
        pauses = [int(p) for m in folder.monitor_log() for p in re.findall(r"next start in (\d+) ms", m)]
        print("%d starts in 8 s, pauses %r ms" % (starts, pauses), flush=True)
        self.assertGreaterEqual(starts, 3)
        self.assertLessEqual(starts, 9, "started in a tight loop")
        self.assertEqual(pauses[:3], [200, 400, 800])
        self.assertEqual(pauses, sorted(pauses))


class UserInterfaceStartsTheWatchdog(WatchdogTestCase):
    def test_start_entry_runs_the_real_monitor(self):
        folder = self.folder(extra=["OrchardUI.exe"])
        self.install(folder)
        ui = op.WineProcess(ARGS.wine, folder.path, "OrchardUI.exe")
        self.procs.append(ui)
        # The connect dialog runs "OrchardMon.exe -start" as it opens.
        self.assertTrue(folder.wait_state("RUNNING", START_SECONDS), folder.service_state())
        self.wait_serving(folder)
        self.assertIn("Monitor  -start", op.log_messages(folder.file("od_client.Log")))
        ui.kill()
        stop_server_over_channel(self)
        self.assertTrue(folder.wait_state("STOPPED", 30))
        time.sleep(2)
        self.assertEqual(folder.server_pids(), [])


if __name__ == "__main__":
    op.run_unittests()
