#!/usr/bin/env python3
"""The crash reporter from outside, under Wine: OrchardSvc, OrchardUI and
OrchardMon are each made to crash by a thread that monitor_probe.exe starts
in them (it loads known values into six registers and reads address 8), and
faultpost.exe's text beside them must hold the code, the thread and process
ids, the registers, the command line cut to 4,095 characters and the
shared-memory name "vodedorozuv_<pid>". A breakpoint is not reported; with
no faultpost.exe the crash passes on to the system; a reporter that never
ends holds the crashed process only up to the bound. crash_probe.exe fails
in the ways no outsider can cause: std::terminate, abort, a pure virtual
call, two threads crashing at once."""

import os
import re
import shutil
import subprocess
import time
import unittest

import orchard_proc as op

ARGS = None
PORT = 9090
SERVER_FILES = ["OrchardSvc.exe", "vxaucommon.dll", "Seedlift.dll", "Tallyhub.dll", "Ferryline.dll"]
TOOLS = ["faultpost.exe", "monitor_probe.exe", "crash_probe.exe"]
ACCESS_VIOLATION = "0xC0000005"
FATAL_APP_EXIT = "0x40000015"
# The crashed process waits this long for a reporter that does not end.
REPORTER_WAIT_SECONDS = 30
# The values the probe's crashing thread leaves in the low halves of its registers.
REGISTERS = {"eax": 0x11111111, "ebx": 0x22222222, "ecx": 0x33333333, "edx": 0x44444444,
             "esi": 0x55555555, "edi": 0x66666666}
COMMAND_LINE_KEPT = 4095


def reports(path):
    """The reports of a faultpost text, each a dict of its fields."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        text = f.read()
    found = []
    for block in text.split("faultpost crash report\n")[1:]:
        fields = {}
        for line in block.splitlines():
            key, _, value = line.partition("=")
            fields[key] = value
        found.append(fields)
    return found


class CrashTestCase(unittest.TestCase):
    def setUp(self):
        self.folders = []
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            p.kill()
        for f in self.folders:
            self.run_in(f, "monitor_probe.exe", "kill", "faultpost.exe")
            op.remove_work_dir(f)

    def folder(self, names, without=()):
        folder = op.make_work_dir(ARGS.bin, [n for n in TOOLS + names if n not in without], prefix="orchard_crash_")
        self.folders.append(folder)
        return folder

    def run_in(self, folder, program, *args, timeout=60):
        done = subprocess.run([ARGS.wine, program, *args], cwd=folder, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")

    def start(self, folder, program, args=()):
        proc = op.WineProcess(ARGS.wine, folder, program, list(args))
        self.procs.append(proc)
        return proc

    def windows_pid(self, folder, image):
        pids = self.run_in(folder, "monitor_probe.exe", "pids", image)[1].split()
        self.assertEqual(len(pids), 1, "one %s: %r" % (image, pids))
        return int(pids[0])

    def wait_for_window(self, folder, pid, proc):
        """Until the program shows a window: its crash reporter is installed by then."""
        def shown():
            # A look that does not come back soon is given up and tried again:
            # under load the prefix's desktop can keep a new program waiting.
            try:
                out = self.run_in(folder, "monitor_probe.exe", "windows", str(pid), timeout=15)[1]
            except subprocess.TimeoutExpired:
                return False
            return re.search(r"windows=[1-9]", out) is not None
        self.assertTrue(op.wait_until(lambda: shown() or not proc.running(), 120, step=0.5) and proc.running(),
                        "no window of process %d" % pid)

    def crash(self, folder, pid, how="fault"):
        out = self.run_in(folder, "monitor_probe.exe", "crash", str(pid), how)[1]
        match = re.search(r"thread=(\d+) address=0x([0-9a-f]+)", out)
        self.assertIsNotNone(match, out)
        return int(match.group(1)), int(match.group(2), 16)

    def report_of(self, folder, pid, proc, timeout=60):
        path = os.path.join(folder, "vodedorozuv_%d.txt" % pid)
        self.assertTrue(op.wait_until(lambda: reports(path), timeout), "faultpost wrote no report for %d" % pid)
        self.assertIsNotNone(proc.wait(timeout), "the crashed program did not end")
        found = reports(path)
        self.assertEqual(len(found), 1, "reported once")
        return found[0]

    def assertRemoteFaultReport(self, report, pid, thread, address):
        rows = [("shared_memory", "vodedorozuv_%d" % pid), ("exception_code", ACCESS_VIOLATION),
                ("process_id", str(pid)), ("thread_id", str(thread)),
                ("exception_address", "0x%08X" % (address & 0xFFFFFFFF)),
                ("eip", "0x%08X" % (address & 0xFFFFFFFF)), ("context_flags", "0x0001003F")]
        rows += [(name, "0x%08X" % value) for name, value in REGISTERS.items()]
        for key, value in rows:
            with self.subTest(field=key):
                self.assertEqual(report.get(key), value)


class ProgramsCrashedFromOutside(CrashTestCase):
    def test_server(self):
        folder = self.folder(SERVER_FILES)
        proc = self.start(folder, "OrchardSvc.exe")
        self.assertTrue(op.wait_for_port(PORT, 60, proc), "OrchardSvc did not come up")
        pid = self.windows_pid(folder, "OrchardSvc.exe")
        thread, address = self.crash(folder, pid)
        report = self.report_of(folder, pid, proc)
        self.assertRemoteFaultReport(report, pid, thread, address)
        self.assertRegex(report["command_line"], r"OrchardSvc\.exe")
        self.assertFalse(op.port_open(PORT), "the crashed server still serves")

    def test_user_interface_with_a_command_line_past_the_field(self):
        folder = self.folder(["OrchardUI.exe"])
        argument = "0123456789" * 500
        proc = self.start(folder, "OrchardUI.exe", [argument])
        pid = self.windows_pid(folder, "OrchardUI.exe")
        self.wait_for_window(folder, pid, proc)
        thread, address = self.crash(folder, pid)
        report = self.report_of(folder, pid, proc)
        self.assertRemoteFaultReport(report, pid, thread, address)
        line = report["command_line"]
        self.assertEqual(len(line), COMMAND_LINE_KEPT)
        start = line.index(argument[:10])
        self.assertIn("OrchardUI.exe", line[:start])
        self.assertEqual(line, (line[:start] + argument)[:COMMAND_LINE_KEPT])

    def test_monitor_while_it_asks(self):
        folder = self.folder(["OrchardMon.exe"])
        proc = self.start(folder, "OrchardMon.exe", ["-Ask"])
        pid = self.windows_pid(folder, "OrchardMon.exe")
        self.wait_for_window(folder, pid, proc)
        thread, address = self.crash(folder, pid)
        report = self.report_of(folder, pid, proc)
        self.assertRemoteFaultReport(report, pid, thread, address)
        self.assertTrue(report["command_line"].endswith('OrchardMon.exe" -Ask'), report["command_line"])

    def test_breakpoint_is_not_reported(self):
        folder = self.folder(SERVER_FILES)
        proc = self.start(folder, "OrchardSvc.exe")
        self.assertTrue(op.wait_for_port(PORT, 60, proc))
        pid = self.windows_pid(folder, "OrchardSvc.exe")
        self.crash(folder, pid, "breakpoint")
        self.assertIsNotNone(proc.wait(60), "the breakpoint did not end the server")
        time.sleep(1)
        self.assertEqual(reports(os.path.join(folder, "vodedorozuv_%d.txt" % pid)), [])

    def test_without_faultpost_the_crash_passes_on_to_the_system(self):
        folder = self.folder(SERVER_FILES, without=["faultpost.exe"])
        proc = self.start(folder, "OrchardSvc.exe")
        self.assertTrue(op.wait_for_port(PORT, 60, proc))
        pid = self.windows_pid(folder, "OrchardSvc.exe")
        self.crash(folder, pid)
        self.assertIsNotNone(proc.wait(60), "the unreported crash did not end the server")
        self.assertEqual([n for n in os.listdir(folder) if n.startswith("vodedorozuv_")], [])


class CrashesFromWithin(CrashTestCase):
    ROWS = [
        # scenario, exception code, text on standard error
        ("fault", ACCESS_VIOLATION, None),
        ("terminate", FATAL_APP_EXIT, "terminate called after an exception: nobody catches this"),
        ("abort", FATAL_APP_EXIT, None),
        ("pure-call", None, None),
    ]

    def test_each_way_to_fail_reaches_one_report(self):
        folder = self.folder([])
        for scenario, code, stderr_text in self.ROWS:
            with self.subTest(scenario):
                # Ends by itself, quickly: no message box waits for a click.
                status, out, err = self.run_in(folder, "crash_probe.exe", scenario, timeout=60)
                self.assertNotIn("no failure", out)
                pid, thread = map(int, re.search(r"pid=(\d+) thread=(\d+)", out).groups())
                found = reports(os.path.join(folder, "vodedorozuv_%d.txt" % pid))
                self.assertEqual(len(found), 1, "one report")
                self.assertEqual(found[0]["process_id"], str(pid))
                self.assertEqual(found[0]["thread_id"], str(thread))
                if code is not None:
                    self.assertEqual(found[0]["exception_code"], code)
                if stderr_text is not None:
                    self.assertIn(stderr_text, err)
                self.assertNotEqual(status, 0)

    def test_two_threads_crashing_at_once_are_reported_once(self):
        folder = self.folder([])
        for attempt in range(3):
            with self.subTest(attempt=attempt):
                status, out, _ = self.run_in(folder, "crash_probe.exe", "two-threads", timeout=60)
                pid = int(re.search(r"pid=(\d+)", out).group(1))
                threads = re.findall(r"^thread=(\d+)", out, re.M)
                found = reports(os.path.join(folder, "vodedorozuv_%d.txt" % pid))
                self.assertEqual(len(found), 1, "reported once")
                self.assertIn(found[0]["thread_id"], threads)
                self.assertNotEqual(status, 0)

    def test_a_reporter_that_never_ends_holds_the_process_only_to_the_bound(self):
        folder = self.folder([], without=["faultpost.exe"])
        # monitor_probe under the reporter's name never ends and notes its start.
        shutil.copy2(os.path.join(ARGS.bin, "monitor_probe.exe"), os.path.join(folder, "faultpost.exe"))
        # Its output goes to a file: the reporter, still running, would hold a pipe open.
        out_path = os.path.join(folder, "probe.out")
        with open(out_path, "wb") as out_file:
            began = time.monotonic()
            probe = subprocess.Popen([ARGS.wine, "crash_probe.exe", "fault"], cwd=folder, stdin=subprocess.DEVNULL,
                                     stdout=out_file, stderr=subprocess.DEVNULL)
            status = probe.wait(REPORTER_WAIT_SECONDS + 60)
            held = time.monotonic() - began
        with open(out_path) as f:
            out = f.read()
        print("a crash with a hung reporter ended after %.1f s" % held, flush=True)
        pid = int(re.search(r"pid=(\d+)", out).group(1))
        with open(os.path.join(folder, "faultpost.exe.starts")) as f:
            starts = f.read().splitlines()
        self.assertEqual(len(starts), 1)
        self.assertTrue(starts[0].endswith('faultpost.exe" --smname=vodedorozuv_%d' % pid), starts[0])
        self.assertGreaterEqual(held, REPORTER_WAIT_SECONDS - 1)
        self.assertLess(held, REPORTER_WAIT_SECONDS + 30)
        self.assertNotEqual(status, 0)


if __name__ == "__main__":
    op.run_unittests()
