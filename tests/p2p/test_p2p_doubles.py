"""The P2P doubles answer a client that plays the core, over UDP and TCP, and log what they receive."""
import os
import socket
import struct
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "lib"))
sys.path.insert(0, HERE)
import p2p_doubles  # noqa: E402
from p2p_doubles import free_port  # noqa: E402
import p2p_wire as w  # noqa: E402


def body(code, size, fields=b""):
    return (struct.pack("<H", code) + fields).ljust(size, b"\0")


class FakeCore:
    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(2)

    def ask(self, request, port):
        self.sock.sendto(w.datagram(request, user_id=0), ("127.0.0.1", port))
        return self.receive()

    def receive(self):
        data, src = self.sock.recvfrom(2048)
        return w.parse_datagram(data), src


class DoublesCase(unittest.TestCase):
    def setUp(self):
        self.ports = dict(cp_port=free_port(), cp_tcp_port=free_port(socket.SOCK_STREAM), sp_port=free_port(),
                          up_port=free_port(socket.SOCK_STREAM), nat_port=free_port())

    def start(self, **options):
        d = p2p_doubles.Doubles(echo=False, **self.ports, **options).start()
        self.addCleanup(d.stop)
        return d

    def core(self):
        c = FakeCore()
        self.addCleanup(c.sock.close)
        return c


class DoublesOverUdp(DoublesCase):
    def test_register_query_login_keepalive_share(self):
        d = self.start(keepalive_status_once=2)
        core = self.core()
        reply, _ = core.ask(body(w.REGISTER, 23, struct.pack("<BHH", 5, 36, 0)), self.ports["cp_port"])
        self.assertEqual(reply.command, w.REGISTER_REPLY)
        self.assertEqual(struct.unpack_from("<Q", reply.body, 2)[0], 1000)
        reply, _ = core.ask(body(w.QUERY_SP, 13), self.ports["cp_port"])
        self.assertEqual(reply.command, w.SP_SERVERS)
        self.assertEqual(len(reply.body), 31)
        sp_port = struct.unpack_from("<H", reply.body, 23)[0]
        self.assertEqual(sp_port, self.ports["sp_port"])
        reply, _ = core.ask(body(w.LOGIN_SP, 44, struct.pack("<BQ", 5, 1000)), sp_port)
        self.assertEqual(reply.command, w.LOGIN_REPLY)
        self.assertEqual(w.ip_text(reply.body[2:6]), "127.0.0.1")
        self.assertEqual(struct.unpack_from("<H", reply.body, 6)[0], core.sock.getsockname()[1])
        # NAT probes follow the login, from the NAT test server's port.
        probes = {}
        for _ in range(3):
            p, src = core.receive()
            probes[p.command] = (p, src)
        self.assertEqual(set(probes), {w.NAT_FULLCONE, w.NAT_RESTRICTED, w.NAT_CALLME})
        self.assertEqual(probes[w.NAT_FULLCONE][1][1], self.ports["nat_port"])
        reply, _ = core.ask(body(w.KEEPALIVE, 46, struct.pack("<BQ", 5, 1000)), sp_port)
        self.assertEqual(reply.body[8], 2, "first keepalive answered with status 2")
        reply, _ = core.ask(body(w.KEEPALIVE, 46, struct.pack("<BQ", 5, 1000)), sp_port)
        self.assertEqual(reply.body[8], 0)
        fid = bytes(range(16))
        share = struct.pack("<HBQIH", w.SHARE_REPORT, 5, 1000, 7, 1) + fid + b"\x64"
        reply, _ = core.ask(share, sp_port)
        self.assertEqual((reply.command, struct.unpack_from("<I", reply.body, 3)[0]), (w.SHARE_ACCEPTED, 7))
        batch = d.wait_for("share_batch", 2)
        self.assertEqual(batch["fids"], [fid.hex().upper()])
        self.assertEqual(d.count("register"), 1)
        self.assertEqual(d.count("keepalive"), 2)

    def test_no_udp_answers(self):
        d = self.start(no_udp_answers=True)
        core = self.core()
        core.sock.settimeout(0.5)
        core.sock.sendto(w.datagram(body(w.REGISTER, 23)), ("127.0.0.1", self.ports["cp_port"]))
        with self.assertRaises(socket.timeout):
            core.receive()
        self.assertFalse(d.wait_for("register", 2)["answered"])

    def test_damaged_datagrams_are_logged_not_answered(self):
        d = self.start()
        core = self.core()
        core.sock.settimeout(0.5)
        good = bytearray(w.datagram(body(w.REGISTER, 23)))
        good[-1] ^= 1
        core.sock.sendto(bytes(good), ("127.0.0.1", self.ports["cp_port"]))
        core.sock.sendto(w.datagram(body(w.REGISTER, 22)), ("127.0.0.1", self.ports["cp_port"]))
        self.assertIsNotNone(d.wait_for("bad_datagram", 2))
        self.assertIsNotNone(d.wait_for("bad_body", 2))
        with self.assertRaises(socket.timeout):
            core.receive()


class DoublesOverTcp(DoublesCase):
    def exchange(self, port, frames):
        s = socket.create_connection(("127.0.0.1", port), timeout=2)
        self.addCleanup(s.close)
        writer, reader = w.StreamWriter(), w.StreamReader()
        replies = []
        for command, payload in frames:
            s.sendall(writer.pack(command, payload))
            got = []
            while not got:
                got = reader.feed(s.recv(65536))
            replies += got
        return replies

    def test_register_and_upload_server_session(self):
        d = self.start(tcp_keepalive_status=0)
        [(command, reply)] = self.exchange(self.ports["cp_tcp_port"], [(w.T_REGISTER, bytes(108))])
        self.assertEqual((command, len(reply)), (w.T_REGISTER_REPLY, 40))
        self.assertEqual(struct.unpack_from("<Q", reply, 6)[0], 1000)
        self.assertEqual(struct.unpack_from("<H", reply, 24)[0], self.ports["up_port"])
        fid = bytes(range(16, 32))
        batch = struct.pack("<BII", 0, 1, 1) + fid + b"\x64"
        replies = self.exchange(self.ports["up_port"], [(w.T_LOGIN, bytes(142)), (w.T_KEEPALIVE, bytes(6)),
                                                        (w.T_SHARE_BATCH, batch)])
        self.assertEqual([c for c, _ in replies], [w.T_LOGIN_REPLY, w.T_KEEPALIVE_REPLY, w.T_SHARE_ACCEPTED])
        self.assertEqual(d.wait_for("share_batch", 2)["fids"], [fid.hex().upper()])
        self.assertEqual(d.wait_for("login", 2)["transport"], "tcp")


if __name__ == "__main__":
    unittest.main()
