#!/usr/bin/env python3
"""Talks to a running OrchardSvc over its control channel.

  orchardctl.py [--host H] [--port P] stop             command 129: stop the server (and its watchdog)
  orchardctl.py start                                  start the server of tools/run.sh again through its
                                                       watchdog ("OrchardMon.exe -start" in that run's Wine)
  orchardctl.py [--host H] [--port P] send CODE [HEX]  any command, arguments in hex
  orchardctl.py [--host H] [--port P] publish PATH     command 2: publish a directory (a Windows path)
  orchardctl.py [--host H] [--port P] links PATH       command 49: print the vxhd links of PATH

Prints the reply's u16 status and the rest of the reply in hex.
"""

import argparse
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "lib"))
from orchard_channel import ChannelClient, ChannelError, command, split_status  # noqa: E402

STOP_COMMAND = 129
PUBLISH_COMMAND = 2
EXPORT_COMMAND = 49


def path_field(text):
    raw = text.encode("utf-16-le")[:518]
    return raw + b"\0" * (520 - len(raw))


RUN_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "run")


def start_through_watchdog():
    """OrchardMon.exe -start in the Wine environment that tools/run.sh keeps in run/.wine-env."""
    env_file = os.path.join(RUN_DIR, ".wine-env")
    if not os.path.exists(env_file):
        print("error: no run is going on (start one with: bash tools/run.sh)", file=sys.stderr)
        return 1
    env = dict(os.environ)
    with open(env_file) as f:
        for line in f:
            key, sep, value = line.rstrip("\n").partition("=")
            if sep:
                env[key] = value
    done = subprocess.run(["wine", "OrchardMon.exe", "-start"], cwd=RUN_DIR, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    print("OrchardMon.exe -start: exit code %d" % done.returncode)
    return done.returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=9090)
    parser.add_argument("--timeout", type=float, default=10.0, help="seconds to wait for the reply")
    sub = parser.add_subparsers(dest="action", required=True)
    sub.add_parser("stop", help="send command 129")
    sub.add_parser("start", help="start the run's server again through its watchdog")
    send = sub.add_parser("send", help="send any command")
    send.add_argument("code", type=int)
    send.add_argument("hexbody", nargs="?", default="")
    for name in ("publish", "links"):
        sub.add_parser(name).add_argument("path")
    args = parser.parse_args()
    if args.action == "start":
        return start_through_watchdog()

    if args.action == "stop":
        code, body = STOP_COMMAND, b""
    elif args.action == "publish":
        code, body = PUBLISH_COMMAND, path_field(args.path)
    elif args.action == "links":
        # vxhd links, file names, sorted; no time range, no keyword.
        code, body = EXPORT_COMMAND, struct.pack("<IIIQQ", 1, 0, 1, 0, 0) + path_field("") + path_field(args.path)
    else:
        code = args.code
        try:
            body = bytes.fromhex(args.hexbody)
        except ValueError:
            parser.error("HEXBODY is not hexadecimal: %r" % args.hexbody)
    if not 0 <= code <= 0xFFFF:
        parser.error("CODE must fit in 16 bits")

    try:
        with ChannelClient(args.host, args.port, timeout=args.timeout) as client:
            reply = client.send(command(code, body))
    except (OSError, ChannelError) as e:
        print("error: %s:%d: %s" % (args.host, args.port, e), file=sys.stderr)
        return 1

    status, rest = split_status(reply)
    if args.action == "links" and status == 200 and len(rest) >= 4:
        print(rest[4:4 + 2 * struct.unpack_from("<I", rest)[0]].decode("utf-16-le"), end="")
        return 0
    print("status %s" % ("none (empty reply)" if status is None else status))
    if rest:
        print("data %s" % rest.hex())
    if args.action == "stop":
        return 0 if status == 200 else 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
