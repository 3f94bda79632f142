"""OrchardUI against the real OrchardSvc whose P2P core has logged in to the
P2P doubles and whose FTP side runs on the Ferryline stand-in: the poll is
answered with 200 and the UI connects, its first answered poll reading the FTP
account, the FTP setting and the P2P setting with 200; the stop item
sends 129 and the server ends while the UI stops polling; the start item runs
"OrchardMon.exe -start" hidden and polls every 1000 ms; once the server is
back (started here, as the watchdog would) the UI connects to it again.
"""

import datetime
import os
import re
import socket
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "p2p"))
from orchard_proc import WineProcess, make_work_dir, remove_work_dir, wait_for_port, wait_until  # noqa: E402
from p2p_doubles import Doubles, free_port  # noqa: E402
from ui_e2e_test import Driver, check, intervals, parse_args, prepare, start_ui  # noqa: E402

START_ITEM, STOP_ITEM, EXIT_COMMAND = 32777, 32778, 2003
POLL_SENT = "Send CMD - Get infomation of server"
POLL_ANSWERED = "Recv RES - Get infomation of server"
# The first answered poll reads these, and the server answers each with 200.
CONNECTED_READS = ("Send CMD - Get account of ftp", "Send CMD - Get setting of ftp", "Send CMD - Get setting of p2p")
CONNECTED_ANSWERS = ("Recv RES - Get account of ftp", "Recv RES - Get setting of ftp", "Recv RES - Get setting of p2p")
ENTRY = re.compile(r"\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d):(\d{3})\] ([^\r\n]*)")


def write_ini(folder, name, text):
    with open(os.path.join(folder, name), "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))


def read_text(path, encoding="latin-1"):
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return f.read().decode(encoding, errors="replace")


def every(period, gaps):
    """True when the gaps are those of a timer of `period` seconds: never much
    sooner, and typically on time (a loaded machine may deliver one late)."""
    return len(gaps) >= 3 and min(gaps) > 0.75 * period and statistics.median(gaps) < 1.3 * period


class UiLog:
    """The entries of od_client.Log as (seconds, message), in order."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "od_client.Log")

    def entries(self):
        rows = []
        for m in ENTRY.finditer(read_text(self.path)):
            y, mo, d, h, mi, s, ms = (int(v) for v in m.groups()[:7])
            stamp = datetime.datetime(y, mo, d, h, mi, s, ms * 1000).timestamp()
            rows.append((stamp, m.group(8)))
        return rows

    def mark(self):
        """A position in the log: entries after it are the ones still to come."""
        return len(self.entries())

    def since(self, mark, message=None):
        return [e for e in self.entries()[mark:] if message is None or e[1] == message]

    def sends_after(self, mark, message):
        """The requests sent after the first `message` past mark."""
        rest = [m for _, m in self.entries()[mark:]]
        if message not in rest:
            return []
        return [m for m in rest[rest.index(message) + 1:] if m.startswith("Send CMD - ")]

    def wait(self, mark, message, timeout, count=1):
        return wait_until(lambda: len(self.since(mark, message)) >= count, timeout)


class ServerFolder:
    """OrchardSvc with every library beside it and its P2P core pointed at the doubles."""

    def __init__(self, wine, bin_dir, doubles):
        self.wine = wine
        libraries = [n for n in os.listdir(bin_dir) if n.lower().endswith(".dll")]
        self.folder = make_work_dir(bin_dir, ["OrchardSvc.exe"] + libraries, prefix="orchard_svc_ui_p2p_")
        self.p2p_port = free_port(socket.SOCK_DGRAM)  # where UDP peers reach the core
        write_ini(self.folder, "od_svr_cfg.ini", "[service]\nservicetype=3\n[p2p]\nport=%d\nloglevel=9\n"
                  "[ftp]\nuser=carol\npswd=pw\n" % self.p2p_port)
        # The FTP side on the Ferryline stand-in, so the FTP account and share list are real.
        write_ini(self.folder, "od_svr_ftp.exe", "")
        write_ini(self.folder, "Ferryline.ini", "[ftp]\nhost=ftp.test\nport=2121\n")
        write_ini(self.folder, "P2PCfg.ini", "[Netcard]\ntcp_port=%d\n[OthersSet]\nServHost=127.0.0.1\nServPort=%d\n"
                  "Debug=8\n[AdvanceSet]\nUserID=0\n" % (free_port(socket.SOCK_STREAM), doubles.ports["cp"]))
        self.doubles = doubles
        self.proc = None

    def log(self):
        return read_text(os.path.join(self.folder, "od_server.Log"), "gbk")

    def start(self, logins_before):
        """Starts the server; True once its core has logged in and the P2P side runs."""
        runs_before = self.log().count("P2PSvr - Running...")
        self.proc = WineProcess(self.wine, self.folder, "OrchardSvc.exe")
        return (check(wait_for_port(9090, 60, self.proc), "OrchardSvc listens on 9090")
                and check(self.doubles.wait_for("login", 60, count=logins_before + 1) is not None,
                          "its P2P core logs in to the doubles")
                and check(wait_until(lambda: self.log().count("P2PSvr - Running...") > runs_before, 30),
                          "the login poll starts the P2P side"))

    def kill(self):
        if self.proc is not None:
            self.proc.kill()


def stop_and_start(wine, bin_dir):
    cp_port = free_port(socket.SOCK_DGRAM)
    doubles = Doubles(cp_port=cp_port, cp_tcp_port=0, sp_port=free_port(socket.SOCK_DGRAM),
                      up_port=free_port(socket.SOCK_STREAM), nat_port=free_port(socket.SOCK_DGRAM), echo=False)
    doubles.start()
    server = ServerFolder(wine, bin_dir, doubles)
    folder = prepare(bin_dir, ["OrchardUI.exe", "ui_driver.exe"], {"OrchardMon.exe": "ui_driver.exe"})
    write_ini(folder, "od_ui_cfg.ini", "[site]\ncount=1\nlastconn=127.0.0.1\n[site_1]\naddress=127.0.0.1\n"
              "port=9090\nauto=1\n")
    marker = os.path.join(folder, "monitor_started.txt")
    drv = Driver(wine, folder)
    log = UiLog(folder)
    ui = None
    ok = False
    try:
        if not server.start(0):
            return
        ui = start_ui(wine, folder, "zh_CN.UTF-8")
        main = drv.wait_window("Orchard")
        if not check(main is not None, "OrchardUI logs in to OrchardSvc"):
            return
        check(log.wait(0, POLL_ANSWERED, 15), "a poll is answered with 200")
        check(all(log.wait(0, text, 5) for text in CONNECTED_READS) and log.sends_after(0, POLL_ANSWERED)[:3]
              == list(CONNECTED_READS), "the first answered poll reads the FTP account, the FTP setting and the P2P "
              "setting: %r" % log.sends_after(0, POLL_ANSWERED)[:3])
        check(all(log.wait(0, text, 5) for text in CONNECTED_ANSWERS), "the server answers the FTP account, the FTP "
              "setting and the P2P setting with 200")
        check(wait_until(lambda: any(m.startswith("ftp dir: ") and m.endswith("\\ODHomeDir")
                                     for _, m in log.entries()), 5), "the FTP account lists the FTP home directory")
        log.wait(0, POLL_ANSWERED, 10, count=4)
        gaps = intervals([t for t, _ in log.since(0, POLL_ANSWERED)])
        check(every(2.0, gaps), "answered polls every 2000 ms: %r" % gaps)
        check(all(len(log.since(0, text)) == 1 for text in CONNECTED_READS),
              "the settings are read once while connected")

        stop = log.mark()
        drv.run("command", main, STOP_ITEM)
        check(log.wait(stop, "Send CMD - Close server", 5), "the stop item sends command 129")
        check(log.wait(stop, "Recv RES - Close server", 5), "command 129 is answered with 200")
        check(server.proc.wait(30) == 0, "OrchardSvc ends with 0 after command 129")
        check(doubles.wait_for("logout", 10) is not None, "its P2P core logs out at the stop")
        time.sleep(5)
        check(log.since(stop, POLL_SENT) == [], "no poll after the stop")
        check(drv.state(main).get("visible"), "the main dialog stays open")

        start = log.mark()
        runs = read_text(marker).count("cmdline=")  # the connect dialog started it once already
        drv.run("command", main, START_ITEM)
        check(wait_until(lambda: read_text(marker).count("cmdline=") > runs, 15), "the start item runs OrchardMon.exe")
        started = read_text(marker, "utf-8").split("cmdline=")[runs + 1:]
        check(len(started) == 1 and started[0].startswith(" -start\n"), "once, with the command line -start: %r"
              % started)
        check(len(started) == 1 and "show=0\n" in started[0] and "flags=1\n" in started[0], "hidden")
        check(log.wait(start, POLL_SENT, 3), "and polls at once")
        log.wait(start, POLL_SENT, 8, count=5)
        gaps = intervals([t for t, _ in log.since(start, POLL_SENT)])
        check(every(1.0, gaps), "then every 1000 ms while no server answers: %r" % gaps)
        check(log.since(start, POLL_ANSWERED) == [], "no poll is answered while the server is down")

        # The watchdog's part: the server starts again, and the UI connects to it.
        back = log.mark()
        if not server.start(1):
            return
        check(log.wait(back, POLL_ANSWERED, 10), "the restarted server answers the poll")
        check(all(log.wait(back, text, 5) for text in CONNECTED_READS) and log.sends_after(back, POLL_ANSWERED)[:3]
              == list(CONNECTED_READS) and all(log.wait(back, text, 5) for text in CONNECTED_ANSWERS),
              "the settings are read again")
        log.wait(back, POLL_ANSWERED, 8, count=5)
        gaps = intervals([t for t, _ in log.since(back, POLL_ANSWERED)])
        check(every(1.0, gaps), "answered polls every 1000 ms: %r" % gaps)

        again = log.mark()
        drv.run("command", main, STOP_ITEM)
        check(log.wait(again, "Recv RES - Close server", 5), "the stop item stops the restarted server")
        check(server.proc.wait(30) == 0, "the restarted OrchardSvc ends with 0")
        drv.run("command", main, EXIT_COMMAND)
        check(ui.wait(20) is not None, "exit ends OrchardUI")
        ok = True
    finally:
        if ui is not None:
            ui.kill()
        server.kill()
        doubles.stop()
        if not ok or check.failures:
            print("od_client.Log:\n" + read_text(log.path)[-3000:])
            print("od_server.Log:\n" + server.log()[-3000:])
        remove_work_dir(server.folder)
        remove_work_dir(folder)


def main():
    args = parse_args()
    stop_and_start(args.wine, args.bin)
    return check.result()


if __name__ == "__main__":
    sys.exit(main())
