"""Unit tests of the p2s doubles' codec (tests/lib/p2s_wire.py) against the
protocol's own byte examples."""
import hashlib
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import p2s_wire as w  # noqa: E402

H = bytes.fromhex


class Checksum(unittest.TestCase):
    def test_examples(self):
        for body, crc in [(b"", 0), (b"abc", 0x352441C2), (b"123456789", 0xCBF43926),
                          (b"0123456789", 0x2FD840C3)]:
            with self.subTest(body=body):
                self.assertEqual(w.sampled_crc32(body), crc)

    def test_scrambled_example(self):
        packet = w.build_packet(b"0123456789")
        self.assertEqual(packet[:16], H("16233448" "00000000" "0000000A" "2FD840C3"))
        self.assertEqual(packet[16:44], bytes(28))
        self.assertEqual(packet[44:], H("2C2C2C2C141414141C1C"))
        self.assertEqual(w.read_packet(packet), b"0123456789")

    def test_reader_refuses(self):
        good = w.build_packet(bytes(range(200)))
        altered = bytearray(good)
        altered[100] ^= 1
        too_long = w.MAGIC + struct.pack(">III", 0, w.MAX_BODY + 1, 0) + bytes(28)
        for name, data in [("altered", bytes(altered)), ("short", good[:-1]), ("head only", good[:44]),
                           ("magic", b"x" + good[1:]), ("too long", too_long + bytes(w.MAX_BODY + 1))]:
            with self.subTest(name):
                with self.assertRaises(ValueError):
                    w.read_packet(data)


class Fields(unittest.TestCase):
    def test_examples(self):
        self.assertEqual(w.enc_list([]), H("00000000"))
        self.assertEqual(w.enc_list([("K", 2, w.enc_value("u32", 1))]), H("00000001" "4B3A0200000004" "00000001"))
        self.assertEqual(w.enc_value("bytes", b"abc"), H("03000000616263"))
        self.assertEqual(w.enc_value("u64", 1), H("0100000000000000"))

    def test_file_info_round_trip_keeps_unknown_names(self):
        link = "ftp://bob:pw@host/a.avi"
        info = {"F": bytes(range(16)), "Z": 70000000, "H": bytes(32),
                "C": [{"U": hashlib.md5(link.upper().encode()).digest(), "I": link, "R": "", "L": "", "N": "",
                       "J": 0, "K": 0, "S": 200, "B": 0}],
                "?": [("X", 4, H("00000000"))]}
        data = w.encode_fields(info, w.FILE_INFO_FIELDS)
        self.assertEqual(w.decode_fields(data, w.FILE_INFO_FIELDS), info)
        kind, back = w.read_commit(w.commit_packet(info))
        self.assertEqual((kind, back), (3, info))

    def test_damaged_lists(self):
        for name, data in [("count", H("FFFFFFFF4B3A0200000000")), ("zero in name", H("000000014B003A020000000109")),
                           ("value outside", H("000000014B3A02FFFFFFFF01"))]:
            with self.subTest(name):
                with self.assertRaises(ValueError):
                    w.dec_list(data)


if __name__ == "__main__":
    unittest.main(verbosity=2)
