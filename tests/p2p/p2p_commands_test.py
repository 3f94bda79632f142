#!/usr/bin/env python3
"""OrchardSvc.exe with Seedlift.dll under Wine, from outside: the P2P start
(the core reads and writes its settings file next to it) and the P2P commands
97, 98, 113 to 117, 130 and 131 over 127.0.0.1:9090 before the core has logged
in: 502 where the login is needed, the kept settings of 113 to 115 in any case,
written back to the configuration at the stop."""

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


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("0.0.0.0", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def read_ini(path, encoding="gbk"):
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode(encoding, errors="replace")
    parser.read_string(text)
    return {f"{s}.{k}": v for s in parser.sections() for k, v in parser[s].items()}


class P2pCommandsBeforeLogin(unittest.TestCase):
    def setUp(self):
        self.assertFalse(op.port_open(PORT), "port 9090 is taken before the test")
        self.work = op.make_work_dir(ARGS.bin, FILES, prefix="orchard_p2p_")
        self.proc = None

    def tearDown(self):
        if self.proc:
            self.proc.kill()
        op.remove_work_dir(self.work)

    def test_commands_and_kept_settings(self):
        udp = free_udp_port()
        with open(os.path.join(self.work, "od_svr_cfg.ini"), "w", newline="") as f:
            f.write("[service]\r\nservicetype=2\r\n[limit]\r\np2p_max_upspeed=300\r\n"
                    "[p2p]\r\nport=%d\r\nloglevel=8\r\n" % udp)
        self.proc = op.WineProcess(ARGS.wine, self.work, PROGRAM)
        self.assertTrue(op.wait_for_port(PORT, 60, self.proc), "OrchardSvc did not open its channel")

        with oc.ChannelClient(port=PORT) as client:
            def call(code, args=b""):
                return client.send(oc.command(code, args))

            rows = [
                ("97 users", 97, b"", struct.pack("<H", 502)),
                ("98 shared files", 98, b"", struct.pack("<H", 502)),
                ("116 port", 116, struct.pack("<H", 8123), struct.pack("<H", 502)),
                ("117 statistics", 117, b"", struct.pack("<H", 502)),
                ("130 resume does nothing", 130, b"", b""),
                ("131 pause does nothing", 131, b"", b""),
                ("81 server information", 81, b"", struct.pack("<H", 502)),
            ]
            for name, code, args, reply in rows:
                with self.subTest(name):
                    self.assertEqual(call(code, args), reply)

            settings = [
                ("kept values from the configuration", None, (300, 8, udp)),
                ("114 sets the upload speed", (114, struct.pack("<I", 512)), (512, 8, udp)),
                ("115 sets the log level", (115, struct.pack("<H", 9)), (512, 9, udp)),
            ]
            for name, change, expected in settings:
                with self.subTest(name):
                    if change:
                        self.assertEqual(call(*change), struct.pack("<H", 200))
                    status, payload = oc.split_status(call(113))
                    self.assertEqual(status, 200)
                    self.assertEqual(struct.unpack("<IHH", payload), expected)

            self.assertEqual(call(129), struct.pack("<H", 200))
        self.assertEqual(self.proc.wait(30), 0, "OrchardSvc did not end after command 129")

        config = read_ini(os.path.join(self.work, "od_svr_cfg.ini"))
        self.assertEqual(config.get("limit.p2p_max_upspeed"), "512")
        self.assertEqual(config.get("p2p.loglevel"), "9")
        self.assertEqual(config.get("p2p.port"), str(udp), "116 before login kept the port")

        # The core started beside the program: its settings file holds the bound port.
        core = read_ini(os.path.join(self.work, "P2PCfg.ini"))
        self.assertEqual(core.get("Netcard.lan_port"), str(udp))
        self.assertEqual(core.get("AdvanceSet.UserID"), "0")
        with open(os.path.join(self.work, "od_server.Log"), "rb") as f:
            log = f.read().decode("gbk", errors="replace")
        self.assertIn("P2PSvr - Init OK", log)
        self.assertNotIn("P2PSvr - Running...", log)
        self.assertIn("UnInit - P2PSvr", log)


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
