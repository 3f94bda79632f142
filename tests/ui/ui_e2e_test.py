"""OrchardUI end to end: the real program under Wine and Xvfb against a double
of the control server, driven from outside through ui_driver.exe.

First run (Chinese texts): the watchdog start, the connect dialog's messages
and default port, the connect, the first poll's commands, tabs, tray, the
poll period and the windows that must not poll, the layout after a resize,
stop and start from the menu, the "/close" switch and the settings written at
exit. Second run (English language library): automatic login from the site
list, the about box from the library, switching site (the poll goes on; after
a stop, start polls again), exit from the tray menu, and no watchdog started
when there is none. Also: the watchdog inherits OrchardUI's handles. Last,
against the real OrchardSvc: log in, poll, and stop it with "/close".
Screenshots of both dialogs go to ui-screenshots/, each looked at for the
texts it must show and for the main window's status bar drawn whole.
"""

import argparse
import collections
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bmp_to_png import convert  # noqa: E402
from orchard_proc import WineProcess, make_work_dir, remove_work_dir, wait_for_port, wait_until  # noqa: E402
from ui_server_double import UiServerDouble  # noqa: E402

WM_CLOSE = 0x0010
WM_LBUTTONDBLCLK = 0x0203
TRAY_CALLBACK = 2023
VK_LEFT, VK_RIGHT = 0x25, 0x27
SW_MINIMIZE, SW_RESTORE = 6, 9
IDOK, IDCANCEL = 1, 2
# The main window's first page: the settings selector's buttons and the server information's labels and values.
MAIN_TEXTS = [1093, 1094, 1116, 1117, 1072, 1073, 1084]


class Check:
    def __init__(self):
        self.failures = []

    def __call__(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            self.failures.append(what)
        return ok

    def result(self):
        """Lists the failed checks; the test's exit code."""
        if not self.failures:
            return 0
        print("%d failed:" % len(self.failures))
        for f in self.failures:
            print("  " + f)
        return 1


check = Check()


class Driver:
    def __init__(self, wine, folder):
        self.wine, self.folder = wine, folder

    def run(self, *args):
        command = [self.wine, os.path.join(self.folder, "ui_driver.exe")] + [str(a) for a in args]
        # Under Wine a listing of the windows now and then does not finish
        # within a minute while other GUI programs start in the prefix (it
        # sends no message to any window, so nothing of ours holds it up): a
        # second try tells such a stall from a real one.
        for attempt in (1, 2):
            try:
                r = subprocess.run(command, capture_output=True, text=True, encoding="utf-8", errors="replace",
                                   timeout=60)
                return r.returncode, r.stdout
            except subprocess.TimeoutExpired:
                if attempt == 2:
                    raise
                print("note: ui_driver.exe %s stalled for 60 s under Wine; trying once more" % args[0], flush=True)

    def out(self, *args):
        return self.run(*args)[1].strip()

    def windows(self):
        rows = []
        for line in self.out("windows").splitlines():
            parts = line.split("\t")
            if len(parts) == 5:
                rows.append({"hwnd": parts[0], "pid": parts[1], "visible": parts[2] == "1", "cls": parts[3],
                             "title": parts[4]})
        return rows

    def children(self, hwnd):
        rows = []
        for line in self.out("children", hwnd).splitlines():
            parts = line.split("\t")
            if len(parts) == 5:
                rows.append({"hwnd": parts[0], "id": int(parts[1]), "visible": parts[2] == "1", "cls": parts[3],
                             "text": parts[4]})
        return rows

    def wait_window(self, title, timeout=30, cls="#32770", visible=True):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for w in self.windows():
                if w["title"] == title and w["cls"] == cls and (w["visible"] or not visible):
                    return w["hwnd"]
            time.sleep(0.3)
        return None

    def wait_gone(self, hwnd, timeout=15):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if "exists=0" in self.out("state", hwnd):
                return True
            time.sleep(0.3)
        return False

    def state(self, hwnd):
        text = self.out("state", hwnd)
        return {k: v == "1" for k, v in (p.split("=") for p in text.split())}

    def message_box_text(self, timeout=10, title="OrchardUI"):
        """The text of the message box with the title, which is then closed."""
        box = self.wait_window(title, timeout)
        if box is None:
            return None
        texts = [c["text"] for c in self.children(box) if c["cls"] == "Static" and c["text"]]
        self.run("command", box, IDOK)
        self.wait_gone(box, 10)
        return texts[-1] if texts else ""

    def item(self, top, control_id):
        """(control, its dialog) of the first descendant of top with the id."""
        out = self.out("find-item", top, control_id).split()
        return (out[0], out[1]) if len(out) == 2 else (None, None)

    def window_rect(self, hwnd):
        """(left, top, right, bottom) on the screen, None when there is no such window."""
        rect = self.out("window-rect", hwnd)
        return tuple(int(v) for v in rect.split(",")) if rect else None

    def screenshot(self, hwnd, png, inked=(), bar=False):
        """The screen cut to the window's rectangle, as PNG, and a look at it as
        a user's: the window lies whole on the screen, each control of `inked`
        (a control id of a shown descendant of the window, or a window handle)
        is in the picture and shows text there, and with `bar` the window's
        status bar is drawn to its right end. A control wider than its page
        counts by the part of it that the picture shows. True when all of that
        holds."""
        bmp = os.path.join(self.folder, "screen.bmp")
        self.run("screenshot", bmp)
        rect = self.window_rect(hwnd)
        rows = convert(bmp, png, rect)
        name = os.path.basename(png)
        if not check(os.path.exists(png) and rect is not None, "%s: written" % name):
            return False
        shot = Shot(rows, rect)
        ok = check(shot.width == rect[2] - rect[0] and shot.height == rect[3] - rect[1],
                   "%s: the window lies whole on the screen (%dx%d of %r)" % (name, shot.width, shot.height, rect))
        for control in inked:
            shown = self.out("find-shown", hwnd, control).split() if isinstance(control, int) else [control]
            handle = shown[0] if shown else None
            where = self.window_rect(handle) if handle else None
            ink = shot.ink(where) if where else 0
            ok &= check(where is not None and ink >= MIN_INK,
                        "%s: control %s shows its text (%d pixels of ink in %r)" % (name, control, ink, where))
        if bar:
            ok &= self.status_bar_whole(hwnd, shot, name)
        return ok

    def status_bar_whole(self, hwnd, shot, name):
        """The window's status bar drawn alike from its left part to its right
        end, where the size grip is."""
        for attempt in (1, 2):  # a listing that came back short under load is taken again
            bar = next((c["hwnd"] for c in self.children(hwnd) if c["cls"] == "msctls_statusbar32"), None)
            where = self.window_rect(bar) if bar else None
            if where is not None and shot.holds(where):
                break
            time.sleep(0.5)
        if not check(where is not None and shot.holds(where), "%s: the status bar is in the picture (%s at %r, the "
                     "picture at %r)" % (name, bar, where, (shot.left, shot.top, shot.width, shot.height))):
            return False
        left, top, right, bottom = where
        near_left, near_end = shot.column(left + 100, top, bottom), shot.column(right - 30, top, bottom)
        grip = shot.differing(shot.pixel(right - 30, bottom - 8), (right - 14, bottom - 14, right, bottom))
        return check(near_left == near_end and grip > 0, "%s: the status bar is drawn to its right end (at x %d: "
                     "%s; at x %d: %s; %d grip pixels)" % (name, left + 100 - shot.left, shot.describe(near_left),
                                                          right - 30 - shot.left, shot.describe(near_end), grip))


# Ink: pixels of a control whose brightness stands this far from the control's
# own background (its most common colour), inside an edge of INSET pixels that
# holds its frame. Grey text of a disabled control counts; an empty one has none.
INK_CONTRAST = 40
INSET = 3
MIN_INK = 6


class Shot:
    """A screenshot cut to a window: rows of RGB bytes, and where on the screen it begins."""

    def __init__(self, rows, rect):
        self.rows = rows
        self.left, self.top = max(0, rect[0]), max(0, rect[1])
        self.height = len(rows)
        self.width = len(rows[0]) // 3 if rows else 0

    def holds(self, rect):
        """The screen rectangle lies whole in the picture."""
        return (rect[0] >= self.left and rect[1] >= self.top and rect[2] <= self.left + self.width
                and rect[3] <= self.top + self.height and rect[2] > rect[0] and rect[3] > rect[1])

    def pixel(self, x, y):
        x, y = x - self.left, y - self.top
        if not (0 <= x < self.width and 0 <= y < self.height):
            return None
        return tuple(self.rows[y][3 * x:3 * x + 3])

    def column(self, x, top, bottom):
        return [self.pixel(x, y) for y in range(top, bottom)]

    def ink(self, rect, inset=INSET):
        """The pixels of ink inside the screen rectangle, its edge of `inset`
        pixels left out; only what the picture shows of it counts."""
        pixels = [self.pixel(x, y) for y in range(rect[1] + inset, rect[3] - inset)
                  for x in range(rect[0] + inset, rect[2] - inset)]
        shown = [(p[0] * 299 + p[1] * 587 + p[2] * 114) // 1000 for p in pixels if p is not None]
        if not shown:
            return 0
        background = collections.Counter(shown).most_common(1)[0][0]
        return sum(1 for v in shown if abs(v - background) >= INK_CONTRAST)

    def differing(self, colour, rect):
        """The pixels of the screen rectangle that are not `colour`."""
        return sum(1 for y in range(rect[1], rect[3]) for x in range(rect[0], rect[2])
                   if self.pixel(x, y) not in (None, colour))

    @staticmethod
    def describe(column):
        return " ".join("%02x%02x%02x" % p if p else "-" for p in column)


def prepare(bin_dir, files, extra=None):
    folder = make_work_dir(bin_dir, files, prefix="orchard_ui_")
    for target, source in (extra or {}).items():
        shutil.copy(os.path.join(bin_dir, source), os.path.join(folder, target))
    return folder


def start_ui(wine, folder, locale, args=()):
    return WineProcess(wine, folder, "OrchardUI.exe", args, env=dict(os.environ, LC_ALL=locale, LANG=locale))


def intervals(times):
    return [b - a for a, b in zip(times, times[1:])]


def read_when(path, done, timeout=15):
    """The file's text once done(text) holds, or what it holds after the timeout."""
    def read():
        return open(path, encoding="utf-8").read() if os.path.exists(path) else ""
    wait_until(lambda: done(read()), timeout)
    return read()


def first_run(wine, bin_dir, shots):
    folder = prepare(bin_dir, ["OrchardUI.exe", "ui_driver.exe"], {"OrchardMon.exe": "ui_driver.exe"})
    drv = Driver(wine, folder)
    with UiServerDouble() as double:
        ui = start_ui(wine, folder, "zh_CN.UTF-8")
        try:
            login = drv.wait_window("Orchard - Login")
            if not check(login is not None, "the connect dialog opens"):
                return
            marker = os.path.join(folder, "monitor_started.txt")
            # The monitor is started without waiting: under load its record may come after the dialog.
            started = read_when(marker, lambda text: "cmdline=" in text)
            check(started.count("cmdline=") == 1 and " -start\n" in started, "opening it starts OrchardMon.exe -start")
            check("show=0\n" in started and "flags=1\n" in started, "OrchardMon is started hidden")

            items = {c["id"]: c for c in drv.children(login)}
            check(items.get(1163, {}).get("text") == "9090", "a first run offers port 9090")
            check(not items.get(1163, {}).get("visible", True), "the port edit is not shown")
            status = [c["text"] for c in items.values() if c["cls"] == "msctls_statusbar32"]
            check(status == ["准备连接服务器"], "status bar shows string 129")
            check(items.get(1172, {}).get("text") == "自动登录", "built-in Chinese texts without a language library")

            drv.run("command", login, IDOK)
            check(drv.message_box_text() == "请输入IP地址", "an empty address asks for one")
            drv.run("set-text", login, 1173, "127.0.0.1")
            drv.run("set-text", login, 1163, "70000")
            drv.run("command", login, IDOK)
            check(drv.message_box_text() == "请输入端口", "port 70000 is refused, not wrapped")
            drv.run("set-text", login, 1163, "")
            drv.run("command", login, IDOK)
            check(drv.message_box_text() == "请输入端口", "an empty port asks for one")
            check(double.requests == [], "nothing was sent for refused input")
            drv.run("set-text", login, 1173, "127.0.0.2")
            drv.run("set-text", login, 1163, "9090")
            drv.run("command", login, IDOK)
            check(drv.message_box_text() == "不能与服务连接，请确认服务是否启动", "a server that is not there is reported")

            drv.run("set-text", login, 1173, "127.0.0.1")
            shot = os.path.join(shots, "connect_dialog.png")
            status_bar = next((c["hwnd"] for c in drv.children(login) if c["cls"] == "msctls_statusbar32"), "0x0")
            check(drv.screenshot(login, shot, [1173, 1172, IDOK, status_bar]), "screenshot " + shot)
            connect_at = time.monotonic()
            drv.run("command", login, IDOK)
            main = drv.wait_window("Orchard")
            if not check(main is not None, "the main dialog opens after the connect"):
                return
            check(drv.wait_gone(login), "the connect dialog ends")

            first = double.wait_for(81, 10)
            check(first is not None, "the main dialog polls with command 81")
            time.sleep(1.0)
            check(double.codes()[:4] == [81, 65, 67, 113], "the first successful poll reads 65, 67 and 113: %r"
                  % double.codes()[:6])
            tray = [w for w in drv.windows() if w["title"] == "Wine System Tray"]
            check(any(w["visible"] for w in tray), "the tray icon is added")

            check(drv.out("tab", main, 1095) == "count=4 current=3", "four tabs, the settings tab first")
            drv.run("key", main, 1095, VK_LEFT)
            time.sleep(0.5)
            check(drv.out("tab", main, 1095) == "count=4 current=2", "the tabs switch")
            drv.run("key", main, 1095, VK_RIGHT)

            time.sleep(6.5)
            gaps = intervals(double.times(81, first.when))
            check(len(gaps) >= 2 and all(1.4 < g < 3.5 for g in gaps), "polls every 2000 ms: %r" % gaps)

            drv.run("post", main, WM_CLOSE)
            time.sleep(0.5)
            st = drv.state(main)
            check(st.get("exists") and not st.get("visible"), "closing hides the window")
            hidden_at = time.monotonic()
            time.sleep(5)
            check(double.times(81, hidden_at) == [], "a hidden window does not poll")
            drv.run("post", main, TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK)
            time.sleep(0.5)
            check(drv.state(main).get("visible"), "double-clicking the tray icon brings it back")
            check(double.wait_for(81, 4, hidden_at) is not None, "it polls again when shown")

            drv.run("show", main, SW_MINIMIZE)
            time.sleep(0.5)
            check(drv.state(main).get("iconic"), "the window is minimised")
            minimised_at = time.monotonic()
            time.sleep(5)
            check(double.times(81, minimised_at) == [], "a minimised window does not poll")
            drv.run("show", main, SW_RESTORE)
            time.sleep(0.5)

            drv.run("move", main, 0, 0, 1000, 720)
            time.sleep(0.5)
            rect = drv.out("rects", main, 1095)
            client = rect.split()[0].split("=")[1].split(",")
            w, h = int(client[0]), int(client[1])
            check(rect == "client=%d,%d control=0,0,%d,%d" % (w, h, w, h - 16), "the tab control follows a resize: "
                  + rect)
            shot = os.path.join(shots, "main_dialog_grown.png")
            check(drv.screenshot(main, shot, MAIN_TEXTS, bar=True), "screenshot " + shot)
            drv.run("move", main, 0, 0, 600, 400)
            time.sleep(0.5)
            state = drv.out("rects", main, 1095)
            check(state.startswith("client=") and int(state.split()[0].split("=")[1].split(",")[0]) >= 780,
                  "the window stays at least 800 by 600: " + state)
            drv.run("move", main, 140, 100, 800, 600)
            time.sleep(1.0)
            shot = os.path.join(shots, "main_dialog.png")
            check(drv.screenshot(main, shot, MAIN_TEXTS, bar=True), "screenshot " + shot)

            stop_at = time.monotonic()
            drv.run("command", main, 32778)
            check(double.wait_for(129, 5, stop_at) is not None, "stop-service sends command 129")
            time.sleep(0.3)
            stopped_at = time.monotonic()
            time.sleep(4.5)
            check(double.times(81, stopped_at) == [], "no poll after the service was stopped")
            start_at = time.monotonic()
            drv.run("command", main, 32777)
            restart = double.wait_for(81, 3, start_at)
            check(restart is not None and restart.when - start_at < 2.0, "start-service polls at once")
            time.sleep(4.5)
            gaps = intervals(double.times(81, start_at))
            check(len(gaps) >= 3 and statistics.median(gaps) < 1.5, "then every 1000 ms: %r" % gaps)
            check(double.codes(start_at)[1:4] == [65, 67, 113], "the settings are read again after the restart")
            started = read_when(marker, lambda text: text.count("cmdline=") >= 2)
            check(started.count("cmdline=") == 2, "start-service runs OrchardMon again")

            ui_connection = double.of(81)[0].connection
            close_at = time.monotonic()
            closer = subprocess.run([wine, os.path.join(folder, "OrchardUI.exe"), "/close"], cwd=folder,
                                    capture_output=True, timeout=60)
            check(closer.returncode == 0, "OrchardUI /close ends with 0")
            closing = [r for r in double.of(129) if r.when >= close_at]
            check(len(closing) == 1 and closing[0].connection != ui_connection,
                  "/close sends command 129 on a connection of its own")
            check(ui.wait(20) is not None, "the running OrchardUI exits on the close broadcast")
        finally:
            ui.kill()

    ini = open(os.path.join(folder, "od_ui_cfg.ini"), encoding="latin-1").read().replace("\r", "")
    for line in ("UrlFmt=1", "count=1", "lastconn=127.0.0.1", "[site_1]", "address=127.0.0.1", "port=9090",
                 "auto=0"):
        check(line in ini.split("\n"), "od_ui_cfg.ini holds " + line)
    log = open(os.path.join(folder, "od_client.Log"), encoding="latin-1").read()
    for text in ("language - ", "Send CMD - Get infomation of server", "Recv RES - Get account of ftp",
                 "Send CMD - Close server", "Monitor  -start"):
        check(text in log, "od_client.Log has " + text)
    remove_work_dir(folder)


def second_run(wine, bin_dir, shots):
    folder = prepare(bin_dir, ["OrchardUI.exe", "OrchardUI_ENU.DLL", "ui_driver.exe"])
    with open(os.path.join(folder, "od_ui_cfg.ini"), "w", newline="\r\n") as f:
        f.write("[user]\nUrlFmt=0\nNameFmt=1\nSort=1\n[site]\ncount=2\nlastconn=127.0.0.1\n"
                "[site_1]\naddress=127.0.0.1\nport=9090\nauto=1\n[site_2]\naddress=127.0.0.10\nport=9191\nauto=0\n")
    drv = Driver(wine, folder)
    with UiServerDouble() as double:
        ui = start_ui(wine, folder, "en_US.UTF-8")
        try:
            main = drv.wait_window("Orchard")
            if not check(main is not None, "an automatic site logs in without a click"):
                return
            check(double.wait_for(113, 10) is not None, "the first poll reads the settings")
            drv.run("command", main, 32779)
            about = drv.wait_window("About Orchard", 10)
            check(about is not None, "the about box comes from the English library")
            if about:
                drv.run("command", about, IDOK)
                drv.wait_gone(about)

            # Switching site changes the server the channel talks to, not the poll: the settings read at the
            # first successful poll stay until the server is stopped and started again.
            switch_at = time.monotonic()
            drv.run("command", main, 2001)
            check(double.wait_for(81, 6, switch_at) is not None, "after switching site the window goes on polling")
            time.sleep(1.0)
            check(65 not in double.codes(switch_at) and len(double.of(65)) == 1,
                  "and the settings are not read again: %r" % double.codes(switch_at))
            shot = os.path.join(shots, "main_dialog_english.png")
            check(drv.screenshot(main, shot, MAIN_TEXTS, bar=True), "screenshot " + shot)
            stop_at = time.monotonic()
            drv.run("command", main, 32778)
            stopped = double.wait_for(129, 5, stop_at)
            check(stopped is not None, "stop-service sends command 129")
            drv.run("command", main, 2001)
            time.sleep(3.0)
            # A poll the timer sent before the stop was handled may arrive after stop_at: count from the 129.
            after_stop = double.codes(stopped.when) if stopped else double.codes(stop_at)
            check(81 not in after_stop, "stopped, then switched: no poll until the server is started: %r" % after_stop)
            start_at = time.monotonic()
            drv.run("command", main, 32777)
            check(double.wait_for(81, 3, start_at) is not None, "start-service then polls at once")
            check(double.wait_for(113, 5, start_at) is not None and double.codes(start_at)[:4] == [81, 65, 67, 113],
                  "and reads the settings again: %r" % double.codes(start_at)[:6])

            drv.run("command", main, 2003)
            check(ui.wait(20) is not None, "exit from the tray menu ends the program")
        finally:
            ui.kill()
    ini = open(os.path.join(folder, "od_ui_cfg.ini"), encoding="latin-1").read().replace("\r", "").split("\n")
    for line in ("UrlFmt=0", "NameFmt=1", "Sort=1", "count=2", "address=127.0.0.10", "port=9191"):
        check(line in ini, "settings written back: " + line)
    check(ini.count("[site_3]") == 0, "no site was added for a known address")
    log = open(os.path.join(folder, "od_client.Log"), encoding="latin-1").read()
    check("Monitor" not in log, "without OrchardMon.exe beside it nothing is started or logged")
    remove_work_dir(folder)


def monitor_start_inherits_handles(wine, bin_dir):
    """OrchardUI hands its inheritable handles down to the watchdog it starts:
    started by a launcher that gives it a marked one, the stand-in of
    OrchardMon finds that handle when the connect dialog starts it."""
    folder = prepare(bin_dir, ["OrchardUI.exe", "ui_driver.exe"], {"OrchardMon.exe": "ui_driver.exe"})
    drv = Driver(wine, folder)
    launcher = WineProcess(wine, folder, "ui_driver.exe", ("inherit-launch", "OrchardUI.exe"),
                           env=dict(os.environ, LC_ALL="zh_CN.UTF-8", LANG="zh_CN.UTF-8"))
    try:
        login = drv.wait_window("Orchard - Login")
        if not check(login is not None, "the connect dialog opens under the launcher"):
            return
        started = read_when(os.path.join(folder, "monitor_started.txt"), lambda text: "inherited=" in text)
        check("cmdline= -start\n" in started and "inherited=1\n" in started,
              "OrchardMon is started with \" -start\" and inherits OrchardUI's handles: %r" % started)
        drv.run("command", login, IDCANCEL)
        check(launcher.wait(30) == 0, "cancelling the connect dialog ends OrchardUI")
    finally:
        launcher.kill()
    remove_work_dir(folder)


def close_without_server(wine, bin_dir):
    folder = prepare(bin_dir, ["OrchardUI.exe", "ui_driver.exe"])
    started = time.monotonic()
    r = subprocess.run([wine, os.path.join(folder, "OrchardUI.exe"), "-close"], cwd=folder, capture_output=True,
                       timeout=60)
    check(r.returncode == 0 and time.monotonic() - started < 30, "-close with no server ends at once")
    drv = Driver(wine, folder)
    check(drv.wait_window("Orchard - Login", 2) is None, "the close switch opens no window")
    remove_work_dir(folder)


def with_real_server(wine, bin_dir):
    """OrchardUI against the real OrchardSvc: it logs in, polls, and its
    "/close" switch stops the server."""
    if not os.path.exists(os.path.join(bin_dir, "OrchardSvc.exe")):
        check(False, "OrchardSvc.exe is built")
        return
    # The server with every library it may load from its own folder.
    libraries = [n for n in os.listdir(bin_dir) if n.lower().endswith(".dll")]
    server_dir = make_work_dir(bin_dir, ["OrchardSvc.exe"] + libraries, prefix="orchard_svc_ui_")
    with open(os.path.join(server_dir, "od_svr_cfg.ini"), "w", newline="\r\n") as f:
        f.write("[service]\nservicetype=0\n")
    folder = prepare(bin_dir, ["OrchardUI.exe", "ui_driver.exe"])
    with open(os.path.join(folder, "od_ui_cfg.ini"), "w", newline="\r\n") as f:
        f.write("[site]\ncount=1\nlastconn=127.0.0.1\n[site_1]\naddress=127.0.0.1\nport=9090\nauto=1\n")
    server = WineProcess(wine, server_dir, "OrchardSvc.exe")
    ui = None
    try:
        if not check(wait_for_port(9090, 60, server), "OrchardSvc listens on 9090"):
            return
        ui = start_ui(wine, folder, "zh_CN.UTF-8")
        drv = Driver(wine, folder)
        check(drv.wait_window("Orchard") is not None, "OrchardUI logs in to OrchardSvc")
        log_path = os.path.join(folder, "od_client.Log")

        def polled_twice():
            log = open(log_path, encoding="latin-1").read() if os.path.exists(log_path) else ""
            return log.count("Send CMD - Get infomation of server") >= 2
        check(wait_until(polled_twice, 15), "it polls the server with command 81")
        closer = subprocess.run([wine, os.path.join(folder, "OrchardUI.exe"), "/close"], cwd=folder,
                                capture_output=True, timeout=60)
        check(closer.returncode == 0, "OrchardUI /close ends with 0")
        check(server.wait(30) is not None, "OrchardSvc stops on command 129")
        check(ui.wait(20) is not None, "the running OrchardUI exits on the close broadcast")
    finally:
        if ui is not None:
            ui.kill()
        server.kill()
        remove_work_dir(server_dir)
        remove_work_dir(folder)


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--wine", required=True)
    return parser.parse_args()


def main():
    args = parse_args()
    shots = os.path.abspath("ui-screenshots")
    os.makedirs(shots, exist_ok=True)
    close_without_server(args.wine, args.bin)
    monitor_start_inherits_handles(args.wine, args.bin)
    first_run(args.wine, args.bin, shots)
    second_run(args.wine, args.bin, shots)
    with_real_server(args.wine, args.bin)
    print("screenshots in", shots)
    return check.result()


if __name__ == "__main__":
    sys.exit(main())
