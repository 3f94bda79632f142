#!/usr/bin/env python3
"""Publishing throughput of OrchardSvc under Wine, from command 2 to the state
"published": files per second for 2,000 small files and MB/s for one 1 GiB
file, with the P2P core logged in against the P2P doubles. Run by
bench/publishing/run.sh, which prints the raw hashing benchmark beside it."""
import argparse
import os
import shutil
import socket
import struct
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "lib"))
sys.path.insert(0, os.path.join(ROOT, "tests", "p2p"))
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
import p2p_doubles  # noqa: E402
from p2p_doubles import free_port  # noqa: E402

FILE_RECORD = 617


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def path_field(text):
    raw = text.encode("utf-16-le")
    return raw + b"\0" * (520 - len(raw))


def states(c, path):
    st, payload = oc.split_status(c.send(oc.command(34, path_field(path))))
    if st != 200 or not payload:
        return []
    (n,) = struct.unpack_from("<I", payload, 0)
    return [payload[4 + i * FILE_RECORD + 32] for i in range(n)]


def publish(c, path, count, timeout):
    """Seconds from command 2 until every file of path is published."""
    t0 = time.monotonic()
    st = oc.split_status(c.send(oc.command(2, path_field(path))))[0]
    if st != 200:
        raise SystemExit("command 2 answered %s" % st)
    while True:
        s = states(c, path)
        if len(s) == count and all(x == 8 for x in s):
            return time.monotonic() - t0
        if time.monotonic() - t0 > timeout:
            raise SystemExit("not published after %d s: %d of %d" % (timeout, sum(x == 8 for x in s), count))
        time.sleep(0.05)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--wine", default="wine")
    ap.add_argument("--big", required=True, help="a 1 GiB file")
    ap.add_argument("--small", type=int, default=2000)
    args = ap.parse_args()

    names = [n for n in os.listdir(args.bin) if n == "OrchardSvc.exe" or n.lower().endswith(".dll")]
    work = op.make_work_dir(args.bin, names, prefix="orchard_pubbench_")
    tree = tempfile.mkdtemp(prefix="orchard_pubbench_tree_")
    small = os.path.join(tree, "small")
    big = os.path.join(tree, "big")
    os.makedirs(small)
    os.makedirs(big)
    for i in range(args.small):
        with open(os.path.join(small, "clip%04d.avi" % i), "wb") as f:
            f.write(os.urandom(8192))
    os.link(args.big, os.path.join(big, "movie.mkv"))
    ports = dict(cp_port=free_port(socket.SOCK_DGRAM), cp_tcp_port=0, sp_port=free_port(socket.SOCK_DGRAM),
                 up_port=free_port(socket.SOCK_STREAM), nat_port=free_port(socket.SOCK_DGRAM))
    with open(os.path.join(work, "od_svr_cfg.ini"), "w", newline="") as f:
        f.write("[service]\r\nservicetype=2\r\nloglevel=2\r\n[p2p]\r\nport=%d\r\nloglevel=0\r\n"
                % free_port(socket.SOCK_DGRAM))
    with open(os.path.join(work, "P2PCfg.ini"), "w", newline="") as f:
        f.write("[OthersSet]\r\nServHost=127.0.0.1\r\nServPort=%d\r\n" % ports["cp_port"])
    doubles = p2p_doubles.Doubles(echo=False, **ports).start()
    env = dict(os.environ, TALLYHUB_REPORT_FILE=win(os.path.join(work, "tally.txt")))
    proc = op.WineProcess(args.wine, work, "OrchardSvc.exe", env=env)
    try:
        if not op.wait_for_port(9090, 60, proc) or doubles.wait_for("login", 60) is None:
            raise SystemExit("OrchardSvc did not log in")
        time.sleep(2)  # the login poll runs once a second
        with oc.ChannelClient(port=9090, timeout=30) as c:
            secs = publish(c, win(small), args.small, 1800)
            print("small  %d files of 8 KiB  %.1f s  %.1f files/s" % (args.small, secs, args.small / secs))
            secs = publish(c, win(big), 1, 1800)
            size = os.path.getsize(args.big)
            print("big    one file of %.0f MiB  %.1f s  %.1f MB/s" % (size / 2**20, secs, size / secs / 1e6))
            c.send(oc.command(129))
        proc.wait(60)
    finally:
        proc.kill()
        doubles.stop()
        op.remove_work_dir(work)
        shutil.rmtree(tree, ignore_errors=True)


if __name__ == "__main__":
    main()
