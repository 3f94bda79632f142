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
from p2p_seeders import SeedingPeer  # noqa: E402


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


class DownloadDoubles(DoublesCase):
    """The super node and the seeding peers as a downloading core meets them."""

    FID = bytes(range(0x40, 0x50))
    DATA = bytes((i * 13 + 5) & 0xFF for i in range(10 * 1024 + 300))

    def seeder(self, user_id, **options):
        peer = SeedingPeer(self.FID, self.DATA, user_id, **options).start()
        self.addCleanup(peer.stop)
        return peer

    def blocks(self, core, peer, blocks, wrapped=True):
        packet = w.command_packet(w.get_file_data(self.FID, 9000, blocks), 9000)
        core.sock.sendto(w.outer(packet) if wrapped else packet, ("127.0.0.1", peer.port))
        got = {}
        core.sock.settimeout(0.5)
        try:
            while len(got) < len(blocks):
                data, _ = core.sock.recvfrom(4096)
                plain, had_outer = w.unwrap_data(data)
                self.assertEqual(had_outer, wrapped)
                p = w.parse_block_packet(plain)
                self.assertIsNotNone(p)
                self.assertEqual((p["fid"], p["sender"]), (self.FID, peer.user_id))
                got[p["block"]] = p["data"]
        except socket.timeout:
            pass
        return got

    def test_peer_query_call_me_and_handshake_relay(self):
        d = self.start()
        core = self.core()
        direct = self.seeder(5001, nat_type=0x13)
        behind = self.seeder(5002, nat_type=0x14, answer_via=("127.0.0.1", self.ports["sp_port"]))
        d.peer_lists[self.FID] = [direct.entry(), behind.entry()]
        query = struct.pack("<HQ", w.QUERY_PEERS, 9000) + w.ip_bytes("127.0.0.1") + b"\x11" + self.FID + struct.pack(
            "<BIHB", 0, 0, 999, 5)
        reply, _ = core.ask(query, self.ports["sp_port"])
        self.assertEqual(reply.command, w.PEER_LIST2)
        self.assertEqual(struct.unpack_from("<Q", reply.body, 2)[0], 9000)
        self.assertEqual(struct.unpack_from("<H", reply.body, 26)[0], 2)
        self.assertEqual(len(reply.body), 28 + 2 * 33)
        self.assertEqual(d.wait_for("peer_query", 2)["wanted"], 999)
        # Call-me through the super node: the direct seeder answers the core itself,
        # the other one through the super node; d.core is the core's address.
        d.core = core.sock.getsockname()
        for seeder in (direct, behind):
            call = w.call_me(9000, "127.0.0.1", core.sock.getsockname()[1], self.FID, len(self.DATA),
                             target_id=seeder.user_id, target_ip="127.0.0.1", target_port=seeder.port)
            core.sock.sendto(w.datagram(w.struct.pack("<H", w.CALL_ME_REQUEST) + call[2:]),
                             ("127.0.0.1", self.ports["sp_port"]))
            answer, src = core.receive()
            self.assertEqual(answer.command, w.HANDSHAKE_ANSWER)
            fields = w.parse_handshake_answer(answer.body)
            self.assertEqual((fields["user_id"], fields["result"], fields["size"]), (seeder.user_id, 0, len(self.DATA)))
            self.assertEqual(src[1], seeder.port if seeder is direct else self.ports["sp_port"])
        self.assertEqual(d.count("call_me_request"), 2)
        self.assertEqual(d.count("handshake_relay"), 1)

    def test_seeders_serve_lie_drop_and_fall_silent(self):
        core = self.core()
        honest = self.seeder(6001)
        liar = self.seeder(6002, kind="liar", lie=lambda block: block < 5)
        lossy = self.seeder(6003, kind="lossy", drop_share=0.5, seed=3)
        silent = self.seeder(6004, kind="silent", serve=2)
        want = list(range(11))
        right = {b: self.DATA[b * 1024:(b + 1) * 1024] for b in want}
        self.assertEqual(self.blocks(core, honest, want[:8]), {b: right[b] for b in want[:8]})
        self.assertEqual(self.blocks(core, honest, want[8:], wrapped=False), {b: right[b] for b in want[8:]})
        self.assertEqual(len(right[10]), 300)
        lies = self.blocks(core, liar, [3, 4, 5, 6])
        self.assertNotEqual(lies[3], right[3])
        self.assertNotEqual(lies[4], right[4])
        self.assertEqual((lies[5], lies[6]), (right[5], right[6]))
        got = self.blocks(core, lossy, want[:10])
        self.assertLess(len(got), 10)
        self.assertEqual(lossy.count("dropped"), 10 - len(got))
        self.assertTrue(all(got[b] == right[b] for b in got))
        self.assertEqual(len(self.blocks(core, silent, [0, 1, 2, 3])), 2)
        self.assertEqual(self.blocks(core, silent, [4]), {})
        # Have-maps and swap version are answered; the silent one keeps quiet once it stopped serving.
        for peer, answered in ((honest, True), (silent, False)):
            core.sock.sendto(w.datagram(w.have_map(w.HAVE_MAP, self.FID, [(0, 3)]), user_id=9000),
                             ("127.0.0.1", peer.port))
            core.sock.settimeout(0.5)
            try:
                reply, _ = core.receive()
                self.assertTrue(answered)
                m = w.parse_have_map(reply.body)
                self.assertEqual((reply.command, reply.user_id, m["ranges"]), (w.HAVE_MAP_ANSWER, peer.user_id, [(0, 11)]))
            except socket.timeout:
                self.assertFalse(answered)


if __name__ == "__main__":
    unittest.main()
