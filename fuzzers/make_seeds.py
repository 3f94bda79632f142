#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/ from the
vectors of the unit tests, built with the independent codecs of tests/lib.
Run it again after changing it; the seeds it writes are kept in the tree.
Targets whose seeds are plain files are not listed here."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "lib"))

import orchard_channel as ch  # noqa: E402
import orchard_records as rec  # noqa: E402
import p2p_wire as pw  # noqa: E402
import p2s_wire as ps  # noqa: E402

SEEDS = {}


def seed(target, name, data):
    if isinstance(data, str):
        data = data.encode("latin-1")
    SEEDS.setdefault(target, {})[name] = bytes(data)


# The control channel: requests and replies as a session reads them.
ask_state = ch.encode_frame(ch.command(1))
publish = ch.encode_frame(ch.command(2, "C:\\media\\film.avi".encode("utf-16-le") + b"\0\0"))
reply = ch.encode_frame(struct.pack("<H", 200) + b"OK")
seed("channel_frame", "request", ask_state)
seed("channel_frame", "publish_request", publish)
seed("channel_frame", "two_frames", ask_state + reply)
seed("channel_frame", "bad_checksum", ch.encode_frame(ch.command(3), checksum=1))
seed("channel_frame", "total_too_large", ch.encode_frame(b"", total=ch.MAX_TOTAL + 1))
seed("channel_frame", "empty_body", ch.encode_frame(b""))
seed("channel_frame", "body_across_mask", ch.encode_frame(bytes(range(256)) * 5))
# Round trip: a u32 and a byte pick the damaged byte, the rest is the body.
for name, body in (("empty", b""), ("command", ch.command(7, b"\x01\x00\x00\x00")), ("long", bytes(range(256)) * 5)):
    seed("channel_frame_roundtrip", name, b"\x05\x00\x00\x00\x10" + body)

# UDP datagrams: command packets bare and in the outer layer, data packets.
def data_packet(file_hash, data):
    tail = bytes(file_hash) + bytes(data)
    return struct.pack("<BI", 2, pw.crc(tail)) + tail


login = struct.pack("<H", 6) + bytes(range(3, 3 + 44))
seed("udp_datagram", "command_bare", pw.command_packet(login, user_id=0x1122334455667788, sequence=42))
for pad in (b"", b"\x01\x02\x03", bytes(range(7)), bytes(8)):
    seed("udp_datagram", "command_pad%d" % len(pad), pw.datagram(login, 0x1122334455667788, 42, pad))
seed("udp_datagram", "command_code_only", pw.command_packet(b"\x01\x00"))
seed("udp_datagram", "data_36", data_packet(bytes([9, 8, 7]) + bytes(13), b"\x5a" * 15))
seed("udp_datagram", "data_block", data_packet(bytes(range(16)), bytes(range(256)) * 4))
seed("udp_datagram", "data_in_outer", pw.outer(data_packet(bytes(16), b"\x5a" * 20), b"\x07"))
seed("udp_datagram", "unknown_protocol", bytes([3]) * 40)
# Round trip: the flags and pad come from the end of the input, the body from its front.
for name, front, back in (("command", login, b"\x03"), ("command_outer", login, b"\x07\x05"),
                          ("data", bytes(range(40)), b"\x00"), ("one_byte", b"\x06", b"\x01")):
    seed("udp_packet_roundtrip", name, front + bytes(range(16)) + back)

# The upload side's peer bodies (UDP): call-me, getfiledata, have-maps, verify, swap version, a data packet.
FID = bytes(range(16))
seed("peer_udp_body", "call_me", pw.call_me(0x0102030405060708, "10.1.2.3", 4000, FID, 5000, target_id=77,
                                            target_ip="127.0.0.1", target_port=18001))
seed("peer_udp_body", "call_me2", pw.call_me(9, "10.1.2.3", 4000, FID, 5000, version=b"peer.exe"))
seed("peer_udp_body", "get_file_data", pw.get_file_data(FID, 0x55, [7, 8, 9, 20]))
seed("peer_udp_body", "get_file_data_cut", pw.get_file_data(FID, 0x55, [1, 2], count=5))
seed("peer_udp_body", "have_map", pw.have_map(52, FID, [(0, 3), (10, 20)]))
seed("peer_udp_body", "have_map_wide", pw.have_map(53, FID, [(0, 2 ** 40)], width=16))
seed("peer_udp_body", "verify", pw.verify_request(FID, 100, 5000, flags=7, crc_unit=1024))
seed("peer_udp_body", "verify_small_unit", pw.verify_request(FID, 0, 4096, flags=7, crc_unit=16))
seed("peer_udp_body", "swap_version", pw.swap_version(48, FID, 9, b"peer.exe"))
tail = FID + struct.pack("<QBIH", 0x1122334455667788, 1, 7, 10) + bytes(range(10)) + struct.pack("<I", 5) + bytes(3)
seed("peer_udp_body", "block_packet", struct.pack("<BI", 2, pw.crc(tail)) + tail)

# The TCP peer bodies; the last 7 bytes choose the piece size and the file's blocks.
choice = b"\x00\x01" + b"\x00\x00\x10\x00\x00"
seed("peer_tcp_body", "check_have", pw.check_have(42, FID) + choice)
seed("peer_tcp_body", "req_data", pw.req_data(9, [(1, 600), (700, 700)]) + choice)
seed("peer_tcp_body", "req_data_64", pw.req_data(1, [(i * 3, i * 3 + 1) for i in range(64)]) + choice)
seed("peer_tcp_body", "req_data_short", pw.req_data(1, [(0, 1)], count=3) + choice)

# A TCP peer's stream into one connection; the last 4 bytes choose how it is cut.
writer = pw.StreamWriter(seed=77)
stream = (writer.pack(pw.P_CHECK_HAVE, pw.check_have(42, FID), b"") +
          writer.pack(pw.P_REQ_DATA, pw.req_data(1, [(1, 600)]), b"abc") +
          writer.pack(pw.P_FINISH_RANGE, pw.have_map(0, FID, [(0, 4)]), b"") +
          writer.pack(pw.P_REQ_VERIFY, pw.verify_request(FID, 0, 4096), b""))
seed("online_session", "requests", stream + b"\x10\x01\x3f\x07")
early = pw.StreamWriter(seed=5)
seed("online_session", "req_data_first", early.pack(pw.P_REQ_DATA, pw.req_data(1, [(0, 0)]), b"") + b"\x01\x01\x01\x01")
active = pw.StreamWriter(seed=6)
seed("online_session", "req_active", active.pack(pw.P_REQ_ACTIVE, b"", b"") + b"\x40\x40\x40\x40")

# Base64: the texts of links and wrappers; the capacity comes from the last bytes.
for name, text in (("link", "cWVweHA6Ly92eGhkOi8vMTIzfEFCQ0R8bmFtZQ=="), ("padded", "QQ=="),
                   ("unpadded", "QUJD"), ("with_breaks", "QUJD\r\nREVG"), ("zero_inside", "QU\0JD"),
                   ("one_sextet", "QUJDR")):
    seed("base64_decode", name, text.encode() + b"\x00\x04")

# The lookup and p2s server's answers: the first byte of an HTTP seed picks
# the block size the response arrives in.
FID, QID, CID = "00112233445566778899AABBCCDDEEFF", "A1" * 20, "C3" * 20
lookup_body = "fid=%s|qid=%s|cid=%s|size=134221825|\r\n" % (FID, QID, CID)
for name, response in (("lookup", "HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s" % (len(lookup_body), lookup_body)),
                       ("not_found", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot Found"),
                       ("no_length", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nbody"),
                       ("trailing", "HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nokEXTRA"),
                       ("bare_line_feeds", "HTTP/1.1 200 OK\nContent-Length: 3\n\nabc")):
    seed("http_response", name, b"\x07" + response.encode())
seed("lookup_reply", "ids", lookup_body)
seed("lookup_reply", "empty_segments", "|qid=%s||cid=%s|" % (QID, CID))
seed("lookup_reply", "last_byte", "QID=%s|CID=%sx" % (QID, CID))
link = "ftp://bob:pw@ftp.test:2121/0123456789ABCDEF0123456789ABCDEF/a.avi"
info = {"F": bytes.fromhex(FID), "Z": 134221825, "H": bytes(range(48)),
        "C": [{"U": bytes(range(16)), "I": link, "R": "", "L": "", "N": "", "J": 0, "K": 0, "S": 200, "B": 0}],
        "?": [("X", 4, b"\0\0\0\0")]}
info_list = ps.encode_fields(info, ps.FILE_INFO_FIELDS)
seed("p2s_field_list_roundtrip", "file_info", info_list)
seed("p2s_field_list_roundtrip", "empty", ps.enc_list([]))
seed("p2s_field_list_roundtrip", "one_u32", ps.enc_list([("K", 2, ps.enc_value("u32", 1))]))
seed("p2s_packet", "commit", ps.commit_packet(info))
seed("p2s_packet", "reply_ok", ps.reply_packet(ps.STATUS_OK, info))
seed("p2s_packet", "reply_refused", ps.reply_packet(ps.STATUS_REFUSED))
seed("p2s_packet", "broken_check", ps.reply_packet(ps.STATUS_OK, {}, check=0x12345678))
seed("p2s_packet", "example", ps.build_packet(b"0123456789"))
for name, body in (("commit", b"\x03\x00" + info_list), ("get_by_hex_key", b"\x02\x01\x10\0\0\0" + bytes(16) + bytes(9)),
                   ("validate_url", b"\x04\x01\0\0\0a\x01\0\0\0b"), ("example", b"0123456789")):
    seed("p2s_packet_roundtrip", name, b"\x05" + body)

# Crash records as faultpost reads them: the memory's name (a length byte at
# the end, the UTF-16 units at the front), then the shared memory.
RECORD_SIZE = 22324


def crash_record(code=0, address=0, pid=0, thread=0, registers=(), command_line=""):
    record = bytearray(RECORD_SIZE)
    struct.pack_into("<IIIIII", record, 0, 0, address, 0x0022FE10, code, pid, thread)
    struct.pack_into("<I", record, 24, 0x0001003F)
    for offset, value in registers:  # offsets in the 716-byte x86 context
        struct.pack_into("<I", record, 24 + offset, value)
    line = command_line.encode("utf-16-le")[:8192]  # 4,096 units: may lack its terminator
    record[740:740 + len(line)] = line
    return bytes(record)


def crash_seed(name, memory_name, memory):
    units = memory_name.encode("utf-16-le")
    seed("crash_record", name, units + memory + bytes([len(units) // 2]))


crash_seed("fault", "vodedorozuv_4660",
           crash_record(0xC0000005, 0x40001234, 4660, 77, ((0xB0, 0x11111111), (0xB8, 0x40001234)),
                        '"C:\\Orchard\\OrchardSvc.exe" /start'))
crash_seed("zeros", "vodedorozuv_1", bytes(RECORD_SIZE))
crash_seed("one_short", "vodedorozuv_1", bytes(RECORD_SIZE - 1))
crash_seed("line_breaks", "a\nb", crash_record(command_line="x\r\ny\t" + "z" * 5000))
crash_seed("unterminated_line", "..\\up", crash_record(command_line="q" * 4096) + b"\xff" * 16)


# FTP requests after the command code; the first byte picks 66 (even) or 68 (odd).
seed("ftp_requests", "account", b"\x00" + rec.ftp_account_request("alice", "s3cret"))
seed("ftp_requests", "account_full_fields", b"\x00" + rec.ftp_account_request("u" * 64, "p" * 64))
seed("ftp_requests", "account_cut", b"\x00" + rec.ftp_account_request("bob", "secret")[:132])
seed("ftp_requests", "address", b"\x01" + rec.ftp_setting_request(1, "192.168.1.20", 2121))
seed("ftp_requests", "domain_no_port", b"\x01" + rec.ftp_setting_request(2, "ftp.example.org", 0))
seed("ftp_requests", "address_cut", b"\x01" + rec.ftp_setting_request(2, "ftp.example.org", 21)[:10])


# The directory watcher's change records: u32 next offset, u32 action, u32 name bytes, the name.
def change(next_offset, action, name, pad=0):
    raw = name.encode("utf-16-le")
    return struct.pack("<III", next_offset, action, len(raw)) + raw + bytes(pad)


seed("dir_changes", "added_and_modified", change(24, 1, "a.avi", 2) + change(0, 3, "a.avi"))
seed("dir_changes", "rename", change(24, 4, "a.avi", 2) + change(0, 5, "b.avi"))
seed("dir_changes", "sub_directory", change(0, 1, "sub\\c.mkv"))
seed("dir_changes", "offset_past_end", change(64, 2, "a.avi"))
seed("dir_changes", "length_past_end", struct.pack("<III", 0, 1, 200) + b"a\0")


# The publishing page: list replies of commands 34 and 33.
def text_field(text, units=260):
    raw = text.encode("utf-16-le")[:units * 2]
    return raw + b"\0" * (units * 2 - len(raw))


def file_record(path, size, state, attributes=0x20, fid=bytes(range(16))):
    head = struct.pack("<IqqqiB", attributes, size, 133500000000000000, 133510000000000000, 0, state)
    return head + bytes(16) + bytes(16) + text_field(path) + fid + bytes(16)


published = file_record("D:\\Video\\\u8282\u76ee\\\u7b2c01\u96c6.avi", 1536000, 8)
subdir = file_record("D:\\Video\\\u8282\u76ee\\sub", 0, 1, attributes=0x10, fid=bytes(16))
unterminated = file_record("E:\\" + "x" * 300, -1, 2)
seed("file_list_reply", "two_files", struct.pack("<HI", 200, 2) + published + subdir)
seed("file_list_reply", "unterminated_name", struct.pack("<HI", 200, 1) + unterminated)
seed("file_list_reply", "count_beyond_bytes", struct.pack("<HI", 200, 5) + published + published[:100])
seed("file_list_reply", "directories", struct.pack("<HI", 200, 2) + bytes(16) + text_field("D:\\Video\\New")
     + struct.pack("<I", 1) + bytes(16) + b"z" * 520 + struct.pack("<I", 0))


def main():
    for target, files in sorted(SEEDS.items()):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        print("%s: %d seeds" % (target, len(files)))


if __name__ == "__main__":
    main()
