#!/usr/bin/env python3
"""OrchardSvc with servicetype 2 under Wine: its P2P core registers, logs in
against the P2P doubles, the login poll sees the public address and starts the
P2P side ("P2PSvr - Running..."), and the stop logs the core out."""
import argparse
import os
import socket
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
import p2p_doubles  # noqa: E402
from p2p_doubles import free_port  # noqa: E402


def write(work, name, text):
    with open(os.path.join(work, name), "w", newline="") as f:
        f.write(text.replace("\n", "\r\n"))


def log_text(work):
    path = os.path.join(work, "od_server.Log")
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return f.read().decode("gbk", errors="replace")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--wine", required=True)
    args = ap.parse_args()
    names = [n for n in os.listdir(args.bin) if n == "OrchardSvc.exe" or n.lower().endswith(".dll")]
    work = op.make_work_dir(args.bin, names, prefix="orchard_p2p_")
    ports = dict(cp_port=free_port(socket.SOCK_DGRAM), cp_tcp_port=0, sp_port=free_port(socket.SOCK_DGRAM),
                 up_port=free_port(socket.SOCK_STREAM), nat_port=free_port(socket.SOCK_DGRAM))
    udp_port = free_port(socket.SOCK_DGRAM)
    write(work, "od_svr_cfg.ini", "[service]\nservicetype=2\n[p2p]\nport=%d\nloglevel=9\n" % udp_port)
    write(work, "P2PCfg.ini", "[Netcard]\ntcp_port=%d\n[OthersSet]\nServHost=127.0.0.1\nServPort=%d\nDebug=8\n"
          "[AdvanceSet]\nUserID=0\n" % (free_port(socket.SOCK_STREAM), ports["cp_port"]))
    doubles = p2p_doubles.Doubles(log_path=os.path.join(work, "doubles.log"), **ports).start()
    proc = op.WineProcess(args.wine, work, "OrchardSvc.exe")
    failure = None
    try:
        if not op.wait_for_port(9090, 60, proc):
            failure = "OrchardSvc did not open its channel (exit %s)" % proc.popen.poll()
        elif doubles.wait_for("login", 60) is None:
            failure = "the P2P core never logged in"
        elif not op.wait_until(lambda: "P2PSvr - Running..." in log_text(work), 20):
            failure = "the login poll did not start the P2P side"
        else:
            with oc.ChannelClient(port=9090) as client:
                if client.send(oc.command(129)) != struct.pack("<H", 200):
                    failure = "command 129 not answered with 200"
            if not failure and proc.wait(60) is None:
                failure = "OrchardSvc did not end after command 129"
            elif not failure and doubles.wait_for("logout", 10) is None:
                failure = "no logout at the stop"
    finally:
        proc.kill()
        doubles.stop()
    if failure:
        print("FAIL: %s\n%s" % (failure, log_text(work)[-3000:]))
        print("kept %s" % work)
        return 1
    op.remove_work_dir(work)
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
