"""OrchardSvc end to end with its P2P core logged in, for publishing tests.

PublishingServerTest is a unittest base: each test gets a work folder with
the programs of --bin and the server's settings (FTP side on the Ferryline
stand-in, statistics to tally.txt, the report log p2s_speedup.dat), the P2P
doubles of tests/p2p, and start()/stop() of OrchardSvc under Wine. The lookup
and p2s server is the port p2s_port() gives (by default one nobody listens on).
The work folder is removed when the test set `self.passed`, else kept.

Also the small pieces these tests share: win(path) (a Wine path),
path_field, record_id, write (an INI with CRLF), read_text, parse_file (a
617-byte file record) and listing() (command 34).
"""
import hashlib
import os
import socket
import struct
import sys
import tempfile
import shutil
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "p2p"))
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
import p2p_doubles  # noqa: E402
from p2p_doubles import free_port  # noqa: E402,F401

PORT = 9090
FILE_RECORD = 617


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def path_field(text):
    """The 520-byte path field of the control records."""
    raw = text.encode("utf-16-le")
    return raw[:520] + b"\0" * (520 - len(raw))


def record_id(text):
    return hashlib.md5(text.encode("utf-16-le")).digest()


def write(work, name, text):
    with open(os.path.join(work, name), "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))


def read_text(path, encoding="gbk"):
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return f.read().decode(encoding, errors="replace")


def parse_file(raw):
    attrs, size, lmt, pubt, maxconn, state = struct.unpack_from("<IqqqiB", raw, 0)
    return {"size": size, "pubTime": pubt, "state": state, "name": raw[65:585].decode("utf-16-le").split("\0", 1)[0],
            "fid": raw[585:601].hex().upper(), "sid": raw[601:617].hex().upper()}


class PublishingServerTest(unittest.TestCase):
    work_prefix = "orchard_server_"

    def p2s_port(self):
        """The port of the lookup and p2s server in P2SCfg.ini."""
        return free_port(socket.SOCK_STREAM)

    def setUp(self):
        self.args = sys.modules["__main__"].ARGS
        self.assertFalse(op.port_open(PORT), "port 9090 is taken before the test")
        names = [n for n in os.listdir(self.args.bin) if n == "OrchardSvc.exe" or n.lower().endswith(".dll")]
        self.work = op.make_work_dir(self.args.bin, names, prefix=self.work_prefix)
        self.tree = tempfile.mkdtemp(prefix=self.work_prefix + "tree_")
        ports = dict(cp_port=free_port(socket.SOCK_DGRAM), cp_tcp_port=0, sp_port=free_port(socket.SOCK_DGRAM),
                     up_port=free_port(socket.SOCK_STREAM), nat_port=free_port(socket.SOCK_DGRAM))
        write(self.work, "od_svr_cfg.ini", "[service]\nservicetype=3\n[p2p]\nport=%d\nloglevel=9\n"
              "[ftp]\nuser=bob\npswd=pw\n" % free_port(socket.SOCK_DGRAM))
        write(self.work, "P2PCfg.ini", "[Netcard]\ntcp_port=%d\n[OthersSet]\nServHost=127.0.0.1\nServPort=%d\n"
              "Debug=8\n[AdvanceSet]\nUserID=0\n" % (free_port(socket.SOCK_STREAM), ports["cp_port"]))
        write(self.work, "P2SCfg.ini", "[Serv]\nHost=127.0.0.1\nPort=%d\n" % self.p2s_port())
        write(self.work, "Ferryline.ini", "[ftp]\nhost=ftp.test\nport=2121\nuser=bob\npswd=pw\n")
        write(self.work, "od_svr_ftp.exe", "")
        write(self.work, "p2s_speedup.dat", "")
        self.env = dict(os.environ, TALLYHUB_REPORT_FILE=win(os.path.join(self.work, "tally.txt")))
        self.doubles = p2p_doubles.Doubles(log_path=os.path.join(self.work, "doubles.log"), echo=False,
                                           **ports).start()
        self.procs = []
        self.passed = False

    def tearDown(self):
        for p in self.procs:
            p.kill()
        self.doubles.stop()
        if self.passed:
            op.remove_work_dir(self.work)
        else:
            print("kept %s" % self.work)
        shutil.rmtree(self.tree, ignore_errors=True)

    def main_log(self):
        return op.log_messages(os.path.join(self.work, "od_server.Log")) or []

    def start(self, logins=1):
        proc = op.WineProcess(self.args.wine, self.work, "OrchardSvc.exe", env=self.env)
        self.procs.append(proc)
        self.assertTrue(op.wait_for_port(PORT, 60, proc), "OrchardSvc did not open its channel")
        self.assertIsNotNone(self.doubles.wait_for("login", 60, count=logins), "the P2P core never logged in")
        self.assertTrue(op.wait_until(lambda: self.main_log().count("P2PSvr - Running...") >= logins, 30),
                        "the login poll did not start publishing")
        return proc

    def listing(self, c, path):
        """Command 34: the file records of a directory, by path."""
        st, payload = oc.split_status(c.send(oc.command(34, path_field(path))))
        self.assertEqual(st, 200)
        (n,) = struct.unpack_from("<I", payload, 0)
        return {r["name"]: r for r in (parse_file(payload[4 + i * FILE_RECORD:4 + (i + 1) * FILE_RECORD])
                                       for i in range(n))}

    def stop(self, proc):
        """Command 129; the server must end with exit code 0."""
        with oc.ChannelClient(port=PORT) as c:
            self.assertEqual(c.send(oc.command(129)), struct.pack("<H", 200))
        self.assertEqual(proc.wait(60), 0, "OrchardSvc did not end after command 129")
