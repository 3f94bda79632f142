"""Unit tests of the P2P doubles' codec (tests/lib/p2p_wire.py) against fixed byte vectors."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import p2p_wire as w  # noqa: E402

H = bytes.fromhex

# A sample identity: user id 0x0102030405060708, node type 5, NAT type 0x13, NAT value
# 0xAABBCCDD, public 127.0.0.1:4000, LAN 192.168.1.10:18001, TCP port 18006, subnet 77,
# upload 512 KB, build 36, product 9, machine id F0..FF. Request bodies as the library sends them.
REQUEST_VECTORS = {
    "register": "01000524004D00F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF",
    "query": "48000501000324090000004D00",
    "login_sp": "0300050807060504030201C0A8010A5146DDCCBBAA134D000002F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF0000",
    "login_up": "4C00050807060504030201C0A8010A5146DDCCBBAA13010003244D0000025375706572204E6F6465000000000000"
                "00000000000000000000000000000000F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF000000005646",
    "keepalive": "0600050807060504030201C0A8010A5146DDCCBBAA130100032400004D00F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF",
    "keepalive2": "5000050807060504030201C0A8010A5146DDCCBBAA130100032400004D00F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF"
                  "7F000001A00F",
    "logout": "0500050807060504030201F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF",
    "keep_nat": "1200050807060504030201C0A8010A",
    "share": "1C00050807060504030201010000000200000102030405060708090A0B0C0D0E0F64808182838485868788898A8B8C8D8E8F64",
}
TCP_VECTORS = {
    w.T_REGISTER: "0524004D00F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF0807060504030201C0A8010A51465646010003240900000013DDCC"
                  "BBAA4630463146324633463446354636463746384639464146424643464446454646" + "00" * 26,
    w.T_LOGIN: "050807060504030201C0A8010A5146DDCCBBAA13010003244D0000025375706572204E6F646500000000000000000000"
               "000000000000000000000000F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF5646" + "00" * 64,
    w.T_KEEPALIVE: "E80300000300",
    w.T_LOGOUT: "D007000000000000",
    w.T_SHARE_BATCH: "000100000002000000000102030405060708090A0B0C0D0E0F64808182838485868788898A8B8C8D8E8F64",
}
MACHINE_ID = bytes(range(0xF0, 0x100))
FID1, FID2 = bytes(range(16)), bytes(range(0x80, 0x90))


class Crc(unittest.TestCase):
    def test_forms(self):
        self.assertEqual(w.CRC_TABLE[1], 0x77073096)
        self.assertEqual(w.CRC_TABLE[255], 0x2D02EF8D)
        self.assertEqual(w.crc(b""), 0xFFFFFFFE)
        # The standard CRC-32 check value: start 0xFFFFFFFF and invert at the end.
        self.assertEqual(w.crc(b"123456789", 0xFFFFFFFF) ^ 0xFFFFFFFF, 0xCBF43926)

    def test_mask_tables(self):
        # Word 0 of each: CRC word 0 (zero) shifted plus the last salt word.
        self.assertEqual(struct.unpack_from("<I", w.MASK_OUTER)[0], w.MASK_SALT[255])
        self.assertEqual(struct.unpack_from("<I", w.MASK_INNER, 4)[0],
                         ((0x77073096 >> 8) + w.MASK_SALT[254]) & 0xFFFFFFFF)
        self.assertEqual(len(w.MASK_OUTER), 1024)


class UdpPackets(unittest.TestCase):
    BODY = struct.pack("<H", 6) + bytes(range(1, 11))
    # The same datagram the library's codec builds (its wire tests hold it too).
    INNER = H("0101F11FB82DE10F81746BA2C58337CB01FA858587A9BAF25E2854A1C864F9EF")
    DATAGRAM = H("EBE40B6BCA346A4CF9F5D206F3F044821111866905E31155F0058826C1A088FB425E26EA8C0DA5AF")

    def test_fixed_vector(self):
        self.assertEqual(w.command_packet(self.BODY, 0x1122334455667788, 0x01020304), self.INNER)
        self.assertEqual(w.outer(self.INNER, b"\xAA\xBB\xCC"), self.DATAGRAM)
        p = w.parse_datagram(self.DATAGRAM)
        self.assertTrue(p.had_outer)
        self.assertEqual((p.command, p.user_id, p.sequence, p.body), (6, 0x1122334455667788, 0x01020304, self.BODY))
        bare = w.parse_datagram(self.INNER)
        self.assertFalse(bare.had_outer)
        self.assertEqual(bare.body, self.BODY)

    def test_rejections(self):
        seq = bytearray(self.INNER)
        seq[14] ^= 1
        rows = [
            ("changed sequence number", bytes(seq)),
            ("cut short", self.DATAGRAM[:-1]),
            ("too short", self.DATAGRAM[:19]),
            ("too long", w.outer(w.command_packet(self.BODY + bytes(1500))), ),
            ("outer valid, inner shorter than a header", w.outer(b"\x01" * 7, bytes(8))),
        ]
        for row in rows:
            with self.subTest(row[0]):
                self.assertIsNone(w.parse_datagram(row[1]))
        for i in range(len(self.DATAGRAM)):
            d = bytearray(self.DATAGRAM)
            d[i] ^= 0x40
            with self.subTest(byte=i):
                self.assertIsNone(w.parse_datagram(bytes(d)))

    def test_pad_counts(self):
        for n in range(9):
            with self.subTest(pad=n):
                self.assertEqual(w.parse_datagram(w.outer(self.INNER, bytes(n))).body, self.BODY)


class Stream(unittest.TestCase):
    VECTOR = H("34120000AFCC06C98A9FD4184F6699925BD8EA28BCBE12757B6FE1B4C4D25103723CD6322EFB118C39")

    def test_rc4_published_vectors(self):
        for key, plain, cipher in [(b"Key", b"Plaintext", "BBF316E8D940AF0AD3"), (b"Wiki", b"pedia", "1021BF0420")]:
            with self.subTest(key=key):
                self.assertEqual(w.RC4(key).apply(plain).hex().upper(), cipher)

    def test_fixed_vector_whole_and_byte_by_byte(self):
        s = w.StreamWriter(seed=0x1234)
        self.assertEqual(s.pack(2, b"abc", header=b"") + s.pack(11, b"", header=b"\0\0"), self.VECTOR)
        expected = [(2, b"abc"), (11, b"")]
        self.assertEqual(w.StreamReader().feed(self.VECTOR), expected)
        r = w.StreamReader()
        got = []
        for i in range(len(self.VECTOR)):
            got += r.feed(self.VECTOR[i:i + 1])
        self.assertEqual(got, expected)

    def test_largest_frame_and_errors(self):
        s = w.StreamWriter(seed=1)
        big = s.pack(10, bytes(w.MAX_BODY), header=bytes(16))
        r = w.StreamReader()
        self.assertEqual(r.feed(big[:30]), [])
        self.assertEqual(r.feed(big[30:]), [(10, bytes(w.MAX_BODY))])
        rows = [("header 17", w.frame(1, b"", bytes(17))), ("body too large", w.frame(1, bytes(w.MAX_BODY + 1)))]
        for name, plain in rows:
            with self.subTest(name):
                writer = w.StreamWriter(seed=3)
                first = writer.pack(1, b"x")
                with self.assertRaises(w.StreamError):
                    w.StreamReader().feed(first + writer.cipher.apply(plain))
        wrong = bytearray(self.VECTOR)
        wrong[5] ^= 1
        with self.assertRaises(w.StreamError):
            w.StreamReader().feed(bytes(wrong))


class Bodies(unittest.TestCase):
    def test_requests(self):
        ident = {"node_type": 5, "user_id": 0x0102030405060708, "lan_ip": "192.168.1.10", "lan_port": 18001,
                 "nat_value": 0xAABBCCDD, "nat_type": 0x13}
        rows = [
            ("register", {"code": 1, "node_type": 5, "build": 36, "subnet_id": 77, "machine_id": MACHINE_ID}),
            ("query", {"code": 72, "node_type": 5, "version": w.VERSION_1_0_3_36, "product_id": 9, "subnet_id": 77}),
            ("login_sp", dict(ident, code=3, subnet_id=77, upload_kb=512, machine_id=MACHINE_ID)),
            ("login_up", dict(ident, code=76, version=w.VERSION_1_0_3_36, subnet_id=77, upload_kb=512,
                              text=b"Super Node".ljust(32, b"\0"), machine_id=MACHINE_ID, tcp_port=18006)),
            ("keepalive", dict(ident, code=6, version=w.VERSION_1_0_3_36, subnet_id=77, machine_id=MACHINE_ID)),
            ("keepalive2", dict(ident, code=80, subnet_id=77, public_ip="127.0.0.1", public_port=4000)),
            ("logout", {"code": 5, "node_type": 5, "user_id": 0x0102030405060708, "machine_id": MACHINE_ID}),
            ("keep_nat", {"code": 18, "node_type": 5, "user_id": 0x0102030405060708, "lan_ip": "192.168.1.10"}),
            ("share", {"code": 28, "node_type": 5, "node_id": 0x0102030405060708, "serial_id": 1,
                       "fids": [FID1, FID2], "values": {100}}),
        ]
        for name, expected in rows:
            with self.subTest(name):
                got = w.parse_request(H(REQUEST_VECTORS[name]))
                for key, value in expected.items():
                    self.assertEqual(got[key], value, key)
                with self.assertRaises(w.BodyError):
                    w.parse_request(H(REQUEST_VECTORS[name])[:-1])

    def test_tcp_requests(self):
        rows = [
            (w.T_REGISTER, {"user_id": 0x0102030405060708, "tcp_port": 18006, "pcid": "".join(
                "%02X" % b for b in MACHINE_ID).encode(), "lan_ip": "192.168.1.10"}),
            (w.T_LOGIN, {"user_id": 0x0102030405060708, "tcp_port": 18006, "upload_kb": 512, "machine_id": MACHINE_ID}),
            (w.T_KEEPALIVE, {"elapsed_ms": 1000, "share_count": 3}),
            (w.T_LOGOUT, {"elapsed_ms": 2000, "zero": 0}),
            (w.T_SHARE_BATCH, {"zero": 0, "type": 1, "fids": [FID1, FID2], "values": {100}}),
        ]
        for command, expected in rows:
            with self.subTest(command=command):
                got = w.parse_tcp_request(command, H(TCP_VECTORS[command]))
                for key, value in expected.items():
                    self.assertEqual(got[key], value, key)

    def test_replies(self):
        rows = [
            ("register", w.register_reply(0x0102030405060708, 77), "020008070605040302014D00"),
            ("servers", w.sp_servers("127.0.0.1", 18002, "127.0.0.2", 18004, keepalive_s=20, batch_max=50),
             "490001" "0200" "100E" "3C00" "0500" "1400" "1E00" "3200" "0000" "7F000001" "5246" "7F000002" "5446"),
            ("list", w.sp_list([(5, 9, "10.0.0.1", 8000, 0x11)]), "0B00" "01" "0100" "05" "09000000" "0A000001" "401F" "11"),
            ("reply 27", w.sp_reply("10.0.0.2", 8001, 600, 30), "1B00" "01" "5802" "1E00" "0A000002" "411F"),
            ("login", w.login_reply("127.0.0.1", 4000, 77), "0400" "7F000001" "A00F" "4D00"),
            ("keepalive", w.keepalive_reply("127.0.0.1", 4000, 2, 1), "0700" "7F000001" "A00F" "02" "01"),
            ("share accepted", w.share_accepted(3), "0D00" "00" "03000000"),
            ("NAT port", w.nat_port_check(4001), "1300" "B17F3905" + "00" * 12 + "A10F"),
            ("NAT call-me", w.nat_probe(w.NAT_CALLME, 1, 5000), "4200" "0100000000000000" "8813"),
            ("TCP register", w.tcp_register_reply(7, "127.0.0.1", 18002, "127.0.0.1", 18004, batch_max=100),
             "0000" "0000" "0000" "0700000000000000" "7F000001" "5246" "7F000001" "5446" "0000" "100E" "6400" "3C00" + "00" * 6),
            ("TCP login", w.tcp_login_reply("127.0.0.1", 4000), "0000" "7F000001" "A00F" "0000"),
        ]
        for name, got, hex_text in rows:
            with self.subTest(name):
                self.assertEqual(got.hex().upper(), hex_text.upper())


class PeerBodies(unittest.TestCase):
    # Built by the library's codec (p2pcore/wire/tests/peer_udp_test.cpp holds them too).
    BLOCK_PACKET = H("02C5B3599F000102030405060708090A0B0C0D0E0F887766554433221101070000000A000001020304050607"
                     "080905000000000000")
    VERIFY_ANSWER = H("3900000102030405060708090A0B0C0D0E0F0700000000040000640000000000000088130000000000007461696C"
                      "3031323333D9712CC5EB0BF18A41ED54A908E4126C0A586B2761EE383BB0E7639C4ED091538442EA7C0A58C20500"
                      "C34788B2C34788B2C34788B2C34788B2471E72DB")

    def test_block_packet(self):
        p = w.parse_block_packet(self.BLOCK_PACKET)
        self.assertEqual((p["fid"], p["sender"], p["block"], p["data"], p["sequence"], p["zeros"]),
                         (FID1, 0x1122334455667788, 7, bytes(range(10)), 5, bytes(3)))
        damaged = bytearray(self.BLOCK_PACKET)
        damaged[40] ^= 1
        self.assertIsNone(w.parse_block_packet(bytes(damaged)))
        wrapped, had_outer = w.unwrap_data(w.outer(self.BLOCK_PACKET, b"\1\2"))
        self.assertTrue(had_outer)
        self.assertEqual(wrapped, self.BLOCK_PACKET)

    def test_verify_answer(self):
        data = bytes((i * 7 + 3) & 255 for i in range(5000))
        request = w.verify_request(FID1, 100, 5000, flags=7, crc_unit=1024)
        self.assertEqual(len(request), 50)
        self.assertEqual(w.verify_expected(request, data), self.VERIFY_ANSWER)
        self.assertEqual(len(w.verify_expected(w.verify_request(FID1, 0, 8192, crc_unit=16), bytes(8192))), 92)

    def test_peer_requests(self):
        rows = [
            ("call-me", w.call_me(0x0102030405060708, "10.1.2.3", 4000, FID1, 5000, target_id=77,
                                  target_ip="127.0.0.1", target_port=18001, nat_type=0x13, public_ip="1.2.3.4"),
             "090008070605040302010A010203A00F130102030400000102030405060708090A0B0C0D0E0F8813000000000000004D00"
             "0000000000007F0000015146"),
            ("getfiledata", w.get_file_data(FID1, 0x55, [7, 8, 9, 20], nat_type=0x12, request_type=8),
             "1000000102030405060708090A0B0C0D0E0F550000000000000012080407000000080000000900000014000000"),
            ("have-map", w.have_map(52, FID1, [(0, 3), (10, 20)]),
             "3400000102030405060708090A0B0C0D0E0F0000000000000000000400000800020000000000030000000A00000014000000"),
            ("Req_data", w.req_data(9, [(1, 600), (700, 700)]), "0900000000000000020000000100000058020000BC020000BC020000"),
        ]
        for name, got, hex_text in rows:
            with self.subTest(name):
                self.assertEqual(got.hex().upper(), hex_text)
        self.assertEqual(len(w.call_me(1, "1.1.1.1", 1, FID1, 1, version=b"v")), 101)
        self.assertEqual(w.parse_have_map(w.have_map(53, FID2, [(0, 5)], width=16))["ranges"], [(0, 5)])
        self.assertEqual(len(w.check_have(1, FID1)), 256)
        self.assertEqual(w.parse_swap_version(w.swap_version(48, FID1, 9, b"x.exe"))["program"], b"x.exe")


class DownloadBodies(unittest.TestCase):
    # The peer query as the library builds it (p2pcore/wire/tests/peer_fetch_test.cpp holds it too).
    QUERY = H("2E00" "0807060504030201" "7F000001" "13" "000102030405060708090A0B0C0D0E0F" "01" "00000000" "E703" "05")

    def test_peer_query(self):
        q = w.parse_peer_query(self.QUERY)
        self.assertEqual((q["user_id"], q["public_ip"], q["nat_type"], q["fid"], q["query"], q["wanted"], q["node"]),
                         (0x0102030405060708, "127.0.0.1", 0x13, bytes(range(16)), 1, 999, 5))
        with self.assertRaises(w.BodyError):
            w.parse_peer_query(self.QUERY[:-1])

    def test_call_me_request_round_trip(self):
        body = w.call_me(77, "127.0.0.1", 18001, FID1, 123456, target_id=5001, target_ip="10.0.0.2", target_port=9,
                         nat_type=0x13, public_ip="1.2.3.4")
        f = w.parse_call_me(body)
        self.assertEqual((f["peer_id"], f["peer_ip"], f["peer_port"], f["nat_type"], f["public_ip"], f["fid"],
                          f["size"], f["target_id"], f["target_ip"], f["target_port"]),
                         (77, "127.0.0.1", 18001, 0x13, "1.2.3.4", FID1, 123456, 5001, "10.0.0.2", 9))

    def test_served_block_and_getfiledata(self):
        packet = w.block_packet(FID1, 5001, 12, b"abc", sequence=4, zeros=2)
        self.assertEqual(len(packet), 36 + 3 + 4 + 2)
        p = w.parse_block_packet(packet)
        self.assertEqual((p["fid"], p["sender"], p["block"], p["data"], p["sequence"]), (FID1, 5001, 12, b"abc", 4))
        r = w.parse_get_file_data(w.get_file_data(FID1, 9, [7, 8, 20]))
        self.assertEqual((r["user_id"], r["blocks"]), (9, [7, 8, 20]))
        with self.assertRaises(w.BodyError):
            w.parse_get_file_data(w.get_file_data(FID1, 9, [7, 8], count=3))


if __name__ == "__main__":
    unittest.main()
