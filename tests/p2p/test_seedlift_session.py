"""Seedlift.dll's server session against the P2P doubles, under Wine.

A driver program loads the library as OrchardSvc does; the doubles stand for
the registration server, super node, upload server and NAT test server on
loopback. Each case runs on its own ports and in its own application folder:

    test_seedlift_session.py --bin build/win/bin --wine wine --case udp_login
"""
import argparse
import os
import shutil
import socket
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "lib"))
sys.path.insert(0, HERE)
import p2p_doubles  # noqa: E402
from p2p_doubles import free_port  # noqa: E402
from seedlift_driver import SeedliftDriver, windows_path  # noqa: E402
import p2p_wire as w  # noqa: E402

FID = bytes(range(0x10, 0x20))


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Core(SeedliftDriver):
    """The session driver program: one command per line, one answer per line."""

    def __init__(self, wine, bin_dir, app_dir):
        super().__init__(wine, bin_dir, "seedlift_session_driver.exe", app_dir, error=Failure)

    def get_id(self):
        _, result, user, ip, port, lan_port, nat_class = self.ask("id", "id ").split()
        return {"result": int(result), "user_id": int(user), "public_ip": ip, "public_port": int(port),
                "lan_port": int(lan_port), "nat_class": int(nat_class)}

    def wait_logged_in(self, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            got = self.get_id()
            if got["result"] == 1:
                return got
            time.sleep(0.5)
        raise Failure("get_p2p_id never reported a public address")


class Case:
    def __init__(self, args, name, force_tcp=1, cp_tcp_port=0, tcp_local_host="", **doubles_options):
        self.args = args
        self.dir = tempfile.mkdtemp(prefix="p2p_session_%s_" % name)
        self.udp_port = free_port(socket.SOCK_DGRAM)
        self.ports = dict(cp_port=free_port(socket.SOCK_DGRAM), cp_tcp_port=cp_tcp_port,
                          sp_port=free_port(socket.SOCK_DGRAM), up_port=free_port(socket.SOCK_STREAM),
                          nat_port=free_port(socket.SOCK_DGRAM))
        with open(os.path.join(self.dir, "P2PCfg.ini"), "w", newline="\r\n") as f:
            f.write("[Netcard]\ntcp_port=%d\n[OthersSet]\nServHost=127.0.0.1\nServPort=%d\nDebug=8\nForceTcp=%d\n"
                    "LocalShareList=1\nTcpLocalHost=%s\n[AdvanceSet]\nUserID=0\n"
                    % (free_port(socket.SOCK_STREAM), self.ports["cp_port"], force_tcp, tcp_local_host))
        self.media = os.path.join(self.dir, "clip.mp4")
        with open(self.media, "wb") as f:
            f.write(os.urandom(4096))
        self.doubles = p2p_doubles.Doubles(log_path=os.path.join(self.dir, "doubles.log"), **self.ports,
                                           **doubles_options).start()
        self.core = Core(args.wine, args.bin, self.dir)

    def init(self):
        check(self.core.ask("init %d" % self.udp_port, "ok init") == "ok init 1 1", "initialisation failed")

    def share(self):
        check(self.core.ask("share %s %s" % (FID.hex().upper(), windows_path(self.media)), "share ") == "share 0",
              "p2p_add_share did not add the file")

    def wait(self, kind, timeout=30, count=1, where=None):
        got = self.doubles.wait_for(kind, timeout, count, where)
        check(got is not None, "the doubles saw no %s (x%d)" % (kind, count))
        return got

    def core_log(self):
        path = os.path.join(self.dir, "log", "p2pbase.log")
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("latin-1")

    def finish(self, ok):
        self.core.close()
        self.doubles.stop()
        if ok:
            shutil.rmtree(self.dir, ignore_errors=True)
        else:
            print("kept %s for inspection" % self.dir)


def unseeded_pads(count):
    """The pads of the first `count` requests of a thread whose random generator was never seeded: the
    runtime's per-thread generator starts at seed 1 (x = x * 214013 + 2531011, value (x >> 16) & 0x7FFF)."""
    x, pads = 1, []

    def rand():
        nonlocal x
        x = (x * 214013 + 2531011) & 0xFFFFFFFF
        return (x >> 16) & 0x7FFF

    for _ in range(count):
        n = rand() % 8
        pads.append(bytes(rand() & 0xFF for _ in range(n)).hex())
    return pads


def udp_login(c):
    """Register, query and login over UDP; keepalive, NAT probes, share batch, logout at uninitialise."""
    c.init()
    reg = c.wait("register")
    check(reg["transport"] == "udp", "registration not over UDP")
    query = c.wait("query")
    login = c.wait("login")
    check(login["transport"] == "udp" and login["target"] == "sp", "login not to the super node over UDP")
    # The scheduler thread seeds its random generator: the pads of its first
    # requests are not the runtime's default sequence.
    pads = [reg["pad"], query["pad"], login["pad"]]
    check(None not in pads, "requests without the outer layer: %s" % pads)
    check(pads != unseeded_pads(3), "pads repeat the unseeded sequence %s" % pads)
    check(login["user_id"] == reg["user_id"], "login with another user id")
    got = c.core.wait_logged_in(20)
    check(got["public_ip"] == "127.0.0.1" and got["public_port"] == c.udp_port,
          "public address %s:%d" % (got["public_ip"], got["public_port"]))
    check(got["user_id"] == reg["user_id"], "get_p2p_id user id %d" % got["user_id"])
    c.wait("keepalive")
    c.wait("nat_answer", count=3)
    answers = [e for e in c.doubles.events if e["kind"] == "nat_answer"]
    check(all(e["source"].startswith("127.0.0.1:") and not e["source"].endswith(":%d" % c.udp_port) for e in answers),
          "NAT answers must come from the second socket: %s" % answers)
    c.share()
    batch = c.wait("share_batch", 20)
    check(batch["transport"] == "udp" and FID.hex().upper() in batch["fids"] and batch["values"] == [100],
          "share batch %s" % batch)
    check(batch["serial_id"] == 1, "first batch with SerialID %d" % batch["serial_id"])
    # After the NAT result the test socket is gone: a late probe gets no answer.
    c.wait("nat_result")
    c.doubles.nat.sendto(w.datagram(w.nat_probe(w.NAT_FULLCONE, reg["user_id"])), ("127.0.0.1", c.udp_port))
    time.sleep(2)
    check(c.doubles.count("nat_answer") == 3, "a late NAT probe was answered")
    # A new port from p2p_initialize_network: the scheduler rebinds and the session starts over.
    new_port = free_port(socket.SOCK_DGRAM)
    check(c.core.ask("net %d" % new_port, "ok net") == "ok net 1", "rebinding the UDP port failed")
    c.wait("login", 30, where=lambda e: e["source"].endswith(":%d" % new_port))
    check(c.doubles.count("register") == 1, "registered again although the user id is known")
    again = c.core.wait_logged_in(20)
    check(again["public_port"] == new_port, "public port %d after the rebind" % again["public_port"])
    c.core.ask("limit 300", "ok limit")
    c.core.ask("uninit", "ok uninit", 60)
    c.wait("logout", 10, where=lambda e: e["source"].endswith(":%d" % new_port))
    # The end-of-run line shows the limit that was set, not the default the share list's clear puts back.
    check("ul bandwidth max : 300 KB" in c.core_log(), "no \"ul bandwidth max : 300 KB\" at the end of the run")


def keepalive_status_2(c):
    """A keepalive reply with status 2 drops the login; the core queries and logs in again."""
    c.init()
    c.wait("login")
    c.wait("keepalive")
    c.wait("query", 40, count=2)
    c.wait("login", 40, count=2)
    check(c.doubles.count("register") == 1, "the stored user id should skip a second registration")
    got = c.core.wait_logged_in(20)
    check(got["result"] == 1, "not logged in again")
    check("Session_State_INIT" in c.core_log().split("Session_State_SCHEDULER", 1)[-1],
          "no restart from DNS in the core's log")


def spoofed_replies(c):
    """Replies from a port that is no server of the session, and damaged datagrams, change nothing."""
    c.init()
    c.wait("login")
    before = c.core.wait_logged_in(20)
    # The real NAT test may still be finishing after login; take the identity
    # once its class is known, so only a forged reply can change it.
    settle = time.time() + 10
    while before["nat_class"] == 0 and time.time() < settle:
        time.sleep(0.5)
        before = c.core.get_id()
    logins = c.doubles.count("login")
    for body in p2p_doubles.forged_replies("127.0.0.1"):
        c.doubles.spoof(body)
    core = ("127.0.0.1", c.udp_port)
    good = w.datagram(w.keepalive_reply("10.9.9.9", 9, status=2))
    junk = [good[:-3], good[:19], bytes(1501), bytes(range(256)) * 2, w.outer(b"\x01" * 7, bytes(8))]
    for d in junk:
        c.doubles.spoofer.sendto(d, core)
    # Also from the super node's own port, but damaged: must be dropped by the checks.
    bad = bytearray(w.datagram(w.keepalive_reply("10.9.9.9", 9, status=2)))
    bad[-1] ^= 0xFF
    c.doubles.sp.sendto(bytes(bad), core)
    time.sleep(4)
    after = c.core.get_id()
    check(after == before, "identity changed by forged replies: %s -> %s" % (before, after))
    check(c.doubles.count("login") == logins and c.doubles.count("query") == 1, "the session restarted")
    log = c.core_log()
    check("ignored" in log, "no log line for the ignored replies")


def late_network(c):
    """Started before its UDP port: a rate-limited wait, then the port from p2p_initialize_network; no TCP
    listen; a super node list (reply 11) carries no login target, so the login goes to the super node."""
    check(c.core.ask("start", "ok start") == "ok start 1", "p2p_initialize failed")
    time.sleep(3)
    check(c.core_log().count("udp valid!") == 1, "the missing UDP socket is logged %d times in 3 s"
          % c.core_log().count("udp valid!"))
    check(c.core.ask("net %d" % c.udp_port, "ok net") == "ok net 1", "p2p_initialize_network failed")
    login = c.wait("login", 30)
    check(login["target"] == "sp", "login to %s after a super node list" % login["target"])
    c.core.wait_logged_in(20)
    check("TCP::Main bind socket fail!" in c.core_log(), "the listening socket did not fail as arranged")


def tcp_fallback(c):
    """No UDP answers: registration and login move to the TCP link after five resends each."""
    c.init()
    c.wait("register", 40, where=lambda e: e["transport"] == "tcp")
    udp_registers = [e for e in c.doubles.events if e["kind"] == "register" and e["transport"] == "udp"]
    check(len(udp_registers) == 6, "%d UDP registrations before the fallback" % len(udp_registers))
    login = c.wait("login", 60, where=lambda e: e["transport"] == "tcp")
    check(login["target"] == "up", "TCP login not to the upload server")
    got = c.core.wait_logged_in(20)
    check(got["result"] == 1, "no public address after the TCP login")
    c.share()
    batch = c.wait("share_batch", 30, where=lambda e: e["transport"] == "tcp")
    check(FID.hex().upper() in batch["fids"] and batch["type"] == 1, "TCP share batch %s" % batch)


def tcp_only(c):
    """ForceTcp 0: the session runs on the TCP link only, keeps it alive and logs out on it."""
    c.init()
    c.wait("register", 20, where=lambda e: e["transport"] == "tcp")
    c.wait("login", 20, where=lambda e: e["transport"] == "tcp")
    c.core.wait_logged_in(20)
    c.share()
    c.wait("share_batch", 30, where=lambda e: e["transport"] == "tcp")
    c.wait("keepalive", 20, where=lambda e: e["transport"] == "tcp")
    check(c.doubles.count("register") == 1, "registered more than once")
    c.core.ask("uninit", "ok uninit", 60)
    c.wait("logout", 10, where=lambda e: e["transport"] == "tcp")


CASES = {
    "udp_login": (udp_login, {}),
    "keepalive_status_2": (keepalive_status_2, {"keepalive_status_once": 2}),
    "spoofed_replies": (spoofed_replies, {}),
    "late_network": (late_network, {"sp_reply": "11", "tcp_local_host": "10.255.255.1"}),
    "tcp_fallback": (tcp_fallback, {"no_udp_answers": True, "cp_tcp_port": 8000}),
    "tcp_only": (tcp_only, {"force_tcp": 0, "cp_tcp_port": 8000, "keepalive_s": 2}),
}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--wine", required=True)
    ap.add_argument("--case", choices=sorted(CASES), required=True)
    args = ap.parse_args()
    fn, options = CASES[args.case]
    c = Case(args, args.case, **options)
    ok = False
    try:
        fn(c)
        ok = True
    except Failure as e:
        print("FAIL %s: %s" % (args.case, e))
        print(c.core_log()[-6000:])
    finally:
        c.finish(ok)
    print("PASS %s" % args.case if ok else "")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
