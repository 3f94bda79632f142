#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/ from the
vectors of the unit tests, built with the independent codecs of tests/lib.
Run it again after changing it; the seeds it writes are kept in the tree.
Targets whose seeds are plain files are not listed here."""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "lib"))

import orchard_channel as ch  # noqa: E402
import orchard_records as rec  # noqa: E402
import p2p_wire as pw  # noqa: E402
import p2s_wire as ps  # noqa: E402

SEEDS = {}


class Provider:
    """Lays out an input the way the targets' FuzzedDataProvider takes it
    apart: bytes and strings from the front, numbers from the back (the
    first number consumed is the last bytes, most significant byte last)."""

    def __init__(self):
        self.front = b""
        self.back = []

    def num(self, value, lo, hi):
        span = hi - lo
        n = 0
        while n < 8 and (span >> (8 * n)) > 0:
            n += 1
        self.back.append(((value - lo) % (1 << (8 * max(n, 1)))).to_bytes(max(n, 1), "little")[:n])
        return self

    def u(self, value, bits):
        return self.num(value, 0, (1 << bits) - 1)

    def flag(self, value):
        return self.u(1 if value else 0, 8)

    def data(self, raw):
        self.front += bytes(raw)
        return self

    def text(self, raw):
        """A ConsumeRandomLengthString: backslashes doubled, ended by a backslash pair."""
        raw = bytes(raw, "latin-1") if isinstance(raw, str) else bytes(raw)
        self.front += raw.replace(b"\\", b"\\\\") + b"\\x"
        return self

    def bytes(self):
        return self.front + b"".join(reversed(self.back))


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
# Bodies that the receiver unscrambles and checks in more than one 4 KiB piece.
seed("channel_frame", "body_two_pieces", ch.encode_frame(ch.command(33) + bytes(range(256)) * 16))
seed("channel_frame", "body_three_pieces_then_request", ch.encode_frame(bytes(range(251)) * 40) + ask_state)
seed("channel_frame", "body_two_pieces_bad_checksum", ch.encode_frame(bytes(range(256)) * 20, checksum=7))
# The server's gathering of requests: two u32 pick the receive and send sizes.
export = ch.encode_frame(ch.command(49, bytes(range(256)) * 4 + bytes(44)))
for name, pieces, sends, stream in (
        ("requests_whole", 5000, 5000, ask_state + publish + ch.encode_frame(b"")),
        ("requests_byte_by_byte", 1, 3, ask_state + ch.encode_frame(ch.command(3), checksum=1) + publish),
        ("largest_request", 700, 100, export + ask_state[:6]),
        ("request_then_too_large", 9, 5000, ask_state + struct.pack("<I", 4097) + b"\xAA" * 20)):
    seed("channel_connection", name, Provider().num(pieces, 1, 5000).num(sends, 1, 5000).data(stream).bytes())
# Round trip: a u32 and a byte pick the damaged byte, the rest is the body.
for name, body in (("empty", b""), ("command", ch.command(7, b"\x01\x00\x00\x00")), ("long", bytes(range(256)) * 5),
                   ("two_pieces", bytes(range(256)) * 16 + b"\x01"), ("three_pieces", bytes(range(253)) * 50)):
    seed("channel_frame_roundtrip", name, Provider().u(5, 32).u(0x10, 8).data(body).bytes())

# UDP datagrams: command packets bare and in the outer layer, data packets.
def data_packet(file_hash, data):
    tail = bytes(file_hash) + bytes(data)
    return struct.pack("<BI", 2, pw.crc(tail)) + tail


login = struct.pack("<H", 6) + bytes(range(3, 3 + 44))


def plain_command(body, user_id=0, sequence=1):
    return struct.pack("<BBIQIBB", 1, 1, 0, user_id, sequence, 1, 0) + bytes(body)


# The target's first number says which layers it seals itself: 0 none, 1 inner, 2 both.
def as_is(datagram):
    return Provider().num(0, 0, 2).data(datagram).bytes()


seed("udp_datagram", "command_bare", as_is(pw.command_packet(login, user_id=0x1122334455667788, sequence=42)))
for pad in (b"", b"\x01\x02\x03", bytes(range(7)), bytes(8)):
    seed("udp_datagram", "command_pad%d" % len(pad), as_is(pw.datagram(login, 0x1122334455667788, 42, pad)))
seed("udp_datagram", "command_code_only", as_is(pw.command_packet(b"\x01\x00")))
seed("udp_datagram", "data_36", as_is(data_packet(bytes([9, 8, 7]) + bytes(13), b"\x5a" * 15)))
seed("udp_datagram", "data_block", as_is(data_packet(bytes(range(16)), bytes(range(256)) * 4)))
seed("udp_datagram", "data_in_outer", as_is(pw.outer(data_packet(bytes(16), b"\x5a" * 20), b"\x07")))
seed("udp_datagram", "unknown_protocol", as_is(bytes([3]) * 40))
seed("udp_datagram", "largest_datagram", as_is(pw.datagram(struct.pack("<H", 6) + bytes(1456 - 2), pad=bytes(7))))
seed("udp_datagram", "datagram_too_long", as_is(bytes([1]) * 1501))
seed("udp_datagram", "inner_sealed_here", Provider().num(1, 0, 2).data(plain_command(login, 7, 8)).bytes())
seed("udp_datagram", "header_only_sealed_here", Provider().num(1, 0, 2).data(plain_command(b"")).bytes())
seed("udp_datagram", "pad9_sealed_here", Provider().num(2, 0, 2).num(9, 0, 10).num(9, 0, 10)
     .data(bytes(9) + plain_command(login)).bytes())
seed("udp_datagram", "short_inner_sealed_here", Provider().num(2, 0, 2).num(3, 0, 10).num(3, 0, 10)
     .data(bytes(3) + b"\x01\x01\x00\x00\x00\x00\x05").bytes())
# Round trip: kind, layer, user id, sequence, pad; then hash, pad bytes and body.
for name, command, outer_layer, pad, body in (("command", True, False, 0, login), ("command_outer", True, True, 5, login),
                                              ("data", False, False, 0, bytes(range(40))),
                                              ("data_outer", False, True, 3, bytes(range(10))),
                                              ("one_byte", True, True, 1, b"\x06")):
    seed("udp_packet_roundtrip", name, Provider().flag(command).flag(outer_layer).u(0x1122334455667788, 64)
         .u(42, 32).num(pad, 0, 7).data(bytes(range(16)) + bytes(range(0xA0, 0xA0 + pad)) + body).bytes())
# At the size limits: the largest command body with the largest pad, and just above the limits.
for name, command, pad, n in (("command_largest", True, 7, 1456), ("command_too_long", True, 0, 1457),
                              ("outer_too_long", True, 7, 1457 - 8), ("data_largest", False, 0, 1479),
                              ("data_too_long", False, 0, 1480)):
    body = (struct.pack("<H", 6) + bytes(range(256)) * 6)[:n]
    seed("udp_packet_roundtrip", name, Provider().flag(command).flag(True).u(1, 64).u(2, 32).num(pad, 0, 7)
         .data(bytes(16) + bytes(pad) + body).bytes())

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

# A TCP peer's stream into one connection, and what the upload side does
# between the receives: four bytes a step (kind, a, b, c): 0 answers the
# oldest owed answer (c 1 to 3 makes it stale), 2 a block answer of (a, b) x 8
# bytes, 3 sets the socket (a: 0 takes all, 1 a budget of (b, c) x 64 bytes, 2
# nothing, 3 fails), 4 flushes, 5 asks the time-out, 6 moves the clock.
def session_input(stream, steps, plain=False, piece_blocks=256, cuts=(64, 64, 64, 64), seed_value=77):
    p = Provider().flag(plain).u(seed_value, 16).num(piece_blocks, 1, 512)
    for c in cuts:
        p.num(c, 1, 64)
    p.num(len(steps), 0, 48)
    return p.data(b"".join(bytes(op) for op in steps)).data(stream).bytes()


ANSWER, BLOCK_ANSWER, SOCKET, FLUSH, TIMEOUT, CLOCK = 0, 2, 3, 4, 5, 6
WAIT_STEP = (CLOCK, 0, 0, 0)
requests = [(pw.P_CHECK_HAVE, pw.check_have(42, FID), b""), (pw.P_REQ_DATA, pw.req_data(1, [(1, 600)]), b"abc"),
            (pw.P_FINISH_RANGE, pw.have_map(0, FID, [(0, 4)]), b""),
            (pw.P_REQ_VERIFY, pw.verify_request(FID, 0, 4096), b"")]
writer = pw.StreamWriter(seed=77)
stream = b"".join(writer.pack(c, b, h) for c, b, h in requests)
answer_all = [WAIT_STEP] * 14 + [(ANSWER, 0, 0, 4)] * 6 + [(FLUSH, 0, 0, 0)]
seed("online_session", "requests", session_input(stream, answer_all))
plain_requests = b"".join(pw.frame(c, b, h) for c, b, h in requests)
seed("online_session", "plain_requests", session_input(plain_requests, answer_all, plain=True))
# 64 ranges are accepted, 65 refused with the connection kept.
ranges64 = [(i * 3, i * 3 + 1) for i in range(64)]
seed("online_session", "plain_req_data_64_ranges",
     session_input(pw.frame(pw.P_CHECK_HAVE, pw.check_have(7, FID)) + pw.frame(pw.P_REQ_DATA, pw.req_data(5, ranges64)),
                   [WAIT_STEP] * 14 + [(ANSWER, 0, 0, 4)] * 30 + [(SOCKET, 1, 0, 9), (ANSWER, 0, 0, 4), (FLUSH, 0, 0, 0)],
                   plain=True))
seed("online_session", "plain_req_data_65_ranges",
     session_input(pw.frame(pw.P_CHECK_HAVE, pw.check_have(7, FID))
                   + pw.frame(pw.P_REQ_DATA, pw.req_data(5, [(i, i) for i in range(65)]))
                   + pw.frame(pw.P_REQ_DATA, pw.req_data(6, [(0, 700)])),
                   [WAIT_STEP] * 20 + [(ANSWER, 0, 0, 4)] * 4, plain=True, piece_blocks=256))
early = pw.StreamWriter(seed=5)
seed("online_session", "req_data_first", session_input(early.pack(pw.P_REQ_DATA, pw.req_data(1, [(0, 0)]), b""), [],
                                                       cuts=(1, 1, 1, 1)))
active = pw.StreamWriter(seed=6)
seed("online_session", "req_active", session_input(active.pack(pw.P_REQ_ACTIVE, b"", b""), []))
seed("online_session", "plain_timeouts", session_input(pw.frame(pw.P_REQ_ACTIVE, b"x"),
                                                        [(TIMEOUT, 0, 9, 0), (CLOCK, 9, 0, 0), (TIMEOUT, 1, 2, 0),
                                                         (TIMEOUT, 0, 1, 0)], plain=True))
# Answers to the buffer's limit: a socket that takes nothing, then block answers of 512 KiB.
check_only = pw.frame(pw.P_CHECK_HAVE, pw.check_have(9, FID))
seed("online_session", "plain_send_limit",
     session_input(check_only, [(SOCKET, 2, 0, 0)] + [WAIT_STEP] * 5 + [(ANSWER, 0, 0, 4), (BLOCK_ANSWER, 0xFF, 0xFF, 0),
                                                                        (BLOCK_ANSWER, 0x32, 0x00, 1),
                                                                        (BLOCK_ANSWER, 0xFF, 0xFF, 2)], plain=True))
# A socket that takes 500,000 bytes and then nothing: what waits moves to the
# front of the buffer when the next answers reach its end.
seed("online_session", "plain_send_compaction",
     session_input(check_only, [(SOCKET, 1, 0x1E, 0x84)] + [WAIT_STEP] * 5
                   + [(ANSWER, 0, 0, 4), (BLOCK_ANSWER, 0xFF, 0xFF, 0), (BLOCK_ANSWER, 0xFF, 0xFF, 1),
                      (SOCKET, 1, 0x10, 0), (FLUSH, 0, 0, 0), (BLOCK_ANSWER, 0x80, 0, 2), (SOCKET, 0, 0, 0),
                      (FLUSH, 0, 0, 0)], plain=True))
# Stale answers (another login time, user id or flag), a failing socket, time-outs.
seed("online_session", "plain_stale_and_failing",
     session_input(check_only + pw.frame(pw.P_REQ_DATA, pw.req_data(2, [(10, 20)])),
                   [WAIT_STEP] * 6 + [(ANSWER, 0, 0, 1), (ANSWER, 0, 0, 2), (ANSWER, 0, 0, 3), (TIMEOUT, 0, 5, 0),
                                      (SOCKET, 3, 0, 0), (BLOCK_ANSWER, 0, 9, 0), (ANSWER, 0, 0, 4)],
                   plain=True))

# Base64: the texts of links and wrappers, decoded into a capacity of 64.
for name, text in (("link", "cWVweHA6Ly92eGhkOi8vMTIzfEFCQ0R8bmFtZQ=="), ("padded", "QQ=="),
                   ("unpadded", "QUJD"), ("with_breaks", "QUJD\r\nREVG"), ("zero_inside", "QU\0JD"),
                   ("one_sextet", "QUJDR")):
    seed("base64_decode", name, Provider().num(64, 0, 4096).data(text.encode()).bytes())

# The enciphered TCP stream: streams as a sender writes them, and plain frames.
def tcp_stream_bytes(frames, seed_value=0x1234):
    w = pw.StreamWriter(seed_value)
    return b"".join(w.pack(c, b, h) for c, b, h in frames)


login_frames = [(pw.T_LOGIN, bytes(range(30)), b"\x01\x02"), (pw.T_KEEPALIVE, b"\x00" * 6, b"")]
seed("tcp_stream", "stream", Provider().flag(False).u(0, 16).num(3, 0, 32).data(b"\x03\x07\x40")
     .data(tcp_stream_bytes(login_frames)).bytes())
seed("tcp_stream", "plain_frames", Provider().flag(True).u(0x1234, 16).num(2, 0, 32).data(b"\x05\x11")
     .data(pw.frame(2, bytes(40), b"\xAA" * 3) + pw.frame(11, b"\x01\x00\x00\x00", b"")).bytes())
seed("tcp_stream", "plain_header_too_long", Provider().flag(True).u(7, 16).num(0, 0, 32)
     .data(struct.pack("<IHI", 30, 1, 17) + bytes(26)).bytes())
# At the body limit: 0x20000 bytes with the largest header pass, one byte more
# fails; a stream cut into receives holds the largest frame across them.
seed("tcp_stream", "plain_largest_body", Provider().flag(True).u(7, 16).num(0, 0, 32)
     .data(pw.frame(1, bytes(range(256)) * 512, bytes(16)) + pw.frame(5, bytes(6))).bytes())
seed("tcp_stream", "plain_body_one_too_many", Provider().flag(True).u(7, 16).num(0, 0, 32)
     .data(pw.frame(1, bytes(0x20001))).bytes())
seed("tcp_stream", "largest_body_in_pieces", Provider().flag(False).u(0, 16).num(8, 0, 32).data(bytes([255] * 8))
     .data(tcp_stream_bytes([(3, bytes(range(256)) * 512, b"\x01" * 16), (5, bytes(6), b"")])).bytes())
seed("tcp_stream", "bad_check", Provider().flag(False).u(0, 16).num(0, 0, 32).data(bytes(range(32))).bytes())
# Round trip: seed, then frames of command, header length and body, then receive sizes.
def frames_input(frames, cuts):
    p = Provider().u(0x4321, 16).num(len(frames), 1, 8)
    for command, header, body in frames:
        p.u(command, 16).num(header, 0, 20).num(len(body), 0, 600).data(body)
    for c in cuts:
        p.u(c, 8)
    return p.bytes()


seed("tcp_stream_roundtrip", "two_frames", frames_input([(3, 2, bytes(range(30))), (5, 0, bytes(6))], [3, 40]))
seed("tcp_stream_roundtrip", "header_cut_to_16", frames_input([(10, 20, bytes(range(200)))], [0, 0, 0, 200]))

# Replies of the P2P servers, as the doubles send them.
for name, body in (("register", pw.register_reply(0x1122334455667788, 3)),
                   ("sp_list", pw.sp_list([(1, 7, "10.0.0.1", 18002, 1), (2, 8, "0.0.0.0", 1, 2)])),
                   ("sp_reply", pw.sp_reply("10.0.0.2", 18002)),
                   ("sp_servers", pw.sp_servers("10.0.0.3", 18002, "10.0.0.4", 18004)),
                   ("login", pw.login_reply("1.2.3.4", 5000, 2)),
                   ("keepalive", pw.keepalive_reply("1.2.3.4", 5000, 2, 1)),
                   ("nat_port_check", pw.nat_port_check(4321)),
                   ("nat_probe_callme", pw.nat_probe(66, 99, 4000)),
                   ("nat_result", pw.nat_result(0x13)),
                   ("peer_list", struct.pack("<HQ", 47, 5) + bytes(range(16)) + struct.pack("<H", 2) + bytes(66)),
                   ("tcp_register", pw.tcp_register_reply(77, "10.0.0.3", 18002, "10.0.0.4", 18004)),
                   ("tcp_login", pw.tcp_login_reply("1.2.3.4", 5000)),
                   ("share_accepted", pw.share_accepted(0x01020304))):
    seed("server_reply", name, body)


# Runs of the session machine: the numbers in the order the target takes
# them (its steps, clock steps, and how each lookup and connect ends), the
# reply bodies in the order they are read.
class SessionRun:
    PASS, REPLY, BREAK, RESTART, SHARE_ACK = 0, 4, 7, 8, 9
    REGISTER, SP_LIST, SP_REPLY, SP_SERVERS, LOGIN, KEEPALIVE, NAT_CHECK, NAT_RESULT = range(8)
    TCP_REGISTER, TCP_LOGIN, TCP_RESULT = 8, 9, 10

    def __init__(self, force_tcp=True, node_type=5, stored_id=False, now=1000000):
        self.p = Provider().num(1 if force_tcp else 0, 0, 3).num(node_type, 0, 8).flag(stored_id).u(now, 32)

    def step(self, ms, lookup=None, connect=None):
        """A pass `ms` after the last one (3000 ms or less, or at least 1000);
        lookup (ok, passes until it ends) or connect (ok) when it starts one."""
        self.p.num(self.PASS, 0, 9)
        if ms <= 40:
            self.p.num(0, 0, 7).num(ms, 0, 40)
        elif ms < 1000:
            self.p.num(1, 0, 7).num(ms, 0, 1500)
        elif ms <= 6000:
            self.p.num(3, 0, 7).num(ms, 1000, 6000)
        else:
            self.p.num(5, 0, 7).num(ms, 1000, 200000)
        if lookup is not None:
            self.p.num(1 if lookup[0] else 0, 0, 3).num(lookup[1], 0, 3)
        if connect is not None:
            self.p.num(1 if connect else 0, 0, 3)
        return self

    def reply(self, which, body, connect=None):
        self.p.num(self.REPLY, 0, 9).num(which, 0, 10).num(len(body), 0, 48).data(body)
        if connect is not None:
            self.p.num(1 if connect else 0, 0, 3)
        return self

    def event(self, kind):
        self.p.num(kind, 0, 9)
        return self

    def bytes(self):
        return self.p.bytes()


r = SessionRun
udp_login = (SessionRun().step(2000, lookup=(True, 0)).step(2000).step(2000)
             .reply(r.REGISTER, pw.register_reply(0x1122334455667788, 3)).step(100)
             .reply(r.SP_SERVERS, pw.sp_servers("10.0.0.3", 18002, "10.0.0.4", 18004)).step(100)
             .reply(r.LOGIN, pw.login_reply("1.2.3.4", 5000, 2)).step(100).step(6000)
             .reply(r.KEEPALIVE, pw.keepalive_reply("1.2.3.4", 5000, 0, 1)).step(200000)
             .reply(r.NAT_CHECK, pw.nat_port_check(4321)).reply(r.NAT_RESULT, pw.nat_result(0x13)).step(200000)
             .reply(r.KEEPALIVE, pw.keepalive_reply("1.2.3.4", 4321, 2, 0)).step(2000))
seed("session_machine", "udp_login", udp_login.bytes())
stored = (SessionRun(stored_id=True, node_type=3).step(2000, lookup=(False, 1)).step(40).step(6000).step(200000)
          .step(200000, lookup=(True, 0)).step(2000).step(2000)
          .reply(r.SP_LIST, pw.sp_list([(1, 7, "10.0.0.1", 18002, 1)])).step(100)
          .reply(r.LOGIN, pw.login_reply("1.2.3.4", 5000)).step(200000).step(200000).step(200000).step(200000)
          .step(200000).event(r.RESTART).step(100))
seed("session_machine", "stored_id_dns_fails", stored.bytes())
# Five resends, then the TCP path to the registration server and back to UDP.
to_tcp = SessionRun().step(2000, lookup=(True, 0)).step(2000).step(2000)
for _ in range(6):
    to_tcp.step(3500)
to_tcp.step(100, connect=True).step(100).reply(r.TCP_REGISTER, pw.tcp_register_reply(77, "10.0.0.3", 18002, "10.0.0.4", 18004))
to_tcp.step(100).reply(r.SP_REPLY, pw.sp_reply("10.0.0.2", 18002)).step(100)
for _ in range(6):
    to_tcp.step(3500)
to_tcp.step(100, connect=True).step(100).reply(r.TCP_LOGIN, pw.tcp_login_reply("1.2.3.4", 5000)).step(70000)
to_tcp.reply(r.TCP_RESULT, pw.tcp_result(0)).event(r.SHARE_ACK).step(70000).event(r.BREAK).step(100)
seed("session_machine", "udp_timeouts_to_tcp", to_tcp.bytes())
# ForceTcp 0: the TCP path only, through the upload server.
tcp_only = (SessionRun(force_tcp=False).step(2000, lookup=(True, 0)).step(2000, connect=True).step(100)
            .reply(r.TCP_REGISTER, pw.tcp_register_reply(77, "10.0.0.3", 18002, "10.0.0.4", 18004), connect=True)
            .step(100).reply(r.TCP_LOGIN, pw.tcp_login_reply("1.2.3.4", 5000)).step(11000).step(70000)
            .reply(r.TCP_RESULT, pw.tcp_result(0)).step(70000).step(70000).step(70000).step(70000).step(70000)
            .step(100).step(2000, connect=False).step(500).step(2000, connect=True))
seed("session_machine", "tcp_only", tcp_only.bytes())

# Share-list files: records scrambled as the library's writer does it.
def crc_table_byte(index):
    index %= 1024
    return (pw.CRC_TABLE[index // 4] >> (8 * (index % 4))) & 0xFF


def share_list(records, new_pattern=True, seed_value=0x1234567):
    size = 297 if new_pattern else 293
    payload = b"".join(r[:size] for r in records)
    check = pw.crc(payload)
    out = bytearray()
    for i, b in enumerate(payload):
        r = 7 - i % 7
        b ^= crc_table_byte(seed_value + i + 0x2C5)
        out.append(((b >> r) | (b << (8 - r))) & 0xFF)
    magic = b"VX\x00\x01" if new_pattern else b"AC\x00\x01"
    return magic + struct.pack("<II", seed_value, check) + bytes(out)


def share_record(size, fid_seed, path, last_access=0):
    fid = bytes((fid_seed + i * 7) & 0xFF for i in range(16))
    raw_path = path.encode("latin-1")
    return (struct.pack("<Q", size) + fid + struct.pack("<IQBB", 0, 0, 0, len(raw_path))
            + raw_path.ljust(255, b"\0") + struct.pack("<I", last_access))


films = [share_record(700 << 20, 1, "C:\\media\\a.avi", 5), share_record(1 << 30, 2, "C:\\media\\b.mkv")]
seed("share_list_file", "new_pattern", Provider().flag(False).num(8, 0, 8).num(len(share_list(films)), 0, 4096)
     .data(share_list(films)).bytes())
seed("share_list_file", "old_pattern", Provider().flag(False).num(8, 0, 8).num(len(share_list(films, False)), 0, 4096)
     .data(share_list(films, False)).bytes())
seed("share_list_file", "sealed_duplicates", Provider().flag(True).num(1, 0, 8).flag(True).u(99, 32).num(0, 0, 300)
     .num(3, 0, 6).data(films[0] + films[1] + films[0]).bytes())

# Hash records, as the record store writes them.
def crc_raw(data):
    # Start 0, no final inversion: zlib inverts on both ends.
    return ~zlib.crc32(data, 0xFFFFFFFF) & 0xFFFFFFFF


def hash_record(file_size, fid, digests):
    body = struct.pack("<Q", file_size) + bytes(fid) + bytes(digests)
    return struct.pack("<III", 1, crc_raw(body), len(body)) + bytes(36) + body


one_piece = hash_record(1000, range(16), bytes(range(16)))
seed("hash_record", "one_piece", Provider().flag(True).u(0, 64).data(one_piece).bytes())
seed("hash_record", "wrong_size", Provider().flag(False).u(999, 64).data(one_piece).bytes())
seed("hash_record", "no_pieces", Provider().flag(True).u(0, 64).data(hash_record(0, bytes(16), b"")).bytes())
seed("hash_record", "one_piece_short", Provider().flag(True).u(0, 64).data(hash_record(600 << 20, bytes(16), bytes(16))).bytes())
tiny_body = bytes(8)
seed("hash_record", "body_below_fixed", Provider().flag(False).u(0, 64)
     .data(struct.pack("<III", 1, crc_raw(tiny_body), 8) + bytes(36) + tiny_body).bytes())
# Round trip: file size, fid, the damaged byte and bits, the piece count, the digests.
seed("hash_record_roundtrip", "one_piece", Provider().u(1000, 64).u(7, 32).u(1, 8).num(1, 0, 64)
     .data(bytes(range(16)) * 2).bytes())
seed("hash_record_roundtrip", "three_pieces", Provider().u(600 << 20, 64).u(70, 32).u(0x81, 8)
     .num(3, 0, 64).data(bytes(range(16)) + bytes(range(48))).bytes())

# The stream reader: a read sequence over bytes, and values written and read back.
seed("stream_reader", "reads", Provider().flag(False).num(8, 0, 24).data(bytes(range(8)))
     .data(struct.pack("<HIQ", 7, 3, 9) + struct.pack("<I", 3) + b"abc" + bytes(8)).bytes())
seed("stream_reader", "round_trip", Provider().flag(True).u(6, 8).text("file.avi").u(2, 8).u(0x10000, 64)
     .u(1, 8).u(7, 64).bytes())


# Control requests as the user interface builds them, and raw ones.
def path_field(text, units=260):
    raw = text.encode("utf-16-le")[:2 * units]
    return raw.ljust(2 * units, b"\0")


export_body = (struct.pack("<HIIIQQ", 49, 1, 0, 1, 0, 0) + path_field("avi") + path_field("C:\\media"))
for name, body in (("add_dir", ch.command(1, path_field("C:\\media"))), ("export", export_body),
                   ("speed", ch.command(114, struct.pack("<I", 512))), ("port", ch.command(116, struct.pack("<H", 9000))),
                   ("code_only", ch.command(34))):
    seed("control_request", name, Provider().flag(False).data(body).bytes())
seed("control_request", "built_path", Provider().flag(True).num(0, 0, 2).num(3, 0, 6).text("C:\\media\\film.avi".encode("utf-16-le")).bytes())
seed("control_request", "built_export", Provider().flag(True).num(1, 0, 2).u(1, 32).u(1, 32).u(0, 32).u(5, 64).u(9, 64)
     .text("key".encode("utf-16-le")).text("C:\\media".encode("utf-16-le")).bytes())

# Control replies as the server writes them.
dir_record = bytes(16) + path_field("C:\\media") + struct.pack("<I", 1)
file_record = struct.pack("<IqqqiB", 0x20, 1000, 5, 6, 0, 8) + bytes(32) + path_field("C:\\media\\a.avi") + bytes(32)
ftp_entry = path_field("C:\\media") + path_field("/media") + struct.pack("<I", 0)
name_field = lambda t: path_field(t, 64)
for name, body in (("dir_list", struct.pack("<HI", 200, 2) + dir_record * 2),
                   ("file_list_short", struct.pack("<HI", 200, 3) + file_record),
                   ("ftp_account", struct.pack("<H", 200) + name_field("user") + name_field("pass")
                    + struct.pack("<I", 1) + ftp_entry),
                   ("export_text", struct.pack("<HI", 200, 5) + "ab\r\nc".encode("utf-16-le")),
                   ("port_error", struct.pack("<H", 501) + path_field("\u4e0d\u80fd", 32)),
                   ("status_only", struct.pack("<H", 200))):
    seed("control_reply", name, body)

# Link texts.
ID32 = "0123456789ABCDEF0123456789ABCDEF"
for name, link in (("plain", "vxhd://1000000|%s|a.avi" % ID32), ("escaped", "vxhd://1|%s|a%%20b%%E4%%B8%%AD.avi" % ID32),
                   ("unsafe", "vxhd://1|%s|a%%7Cb:c*d?e\"f<g>h/i\\j\r\nk.avi" % ID32),
                   ("qepxp_fields", "qepxp://1000|%s|a.avi" % ID32),
                   ("qepxp_base64", "qepxp://dnhoZDovLzEwMDB8MDEyMzQ1Njc4OUFCQ0RFRjAxMjM0NTY3ODlBQkNERUZ8Yi5hdmk="),
                   ("gbk", "vxhd://1|%s|\xd6\xd0\xce\xc4.avi" % ID32)):
    seed("share_link", name, Provider().flag(False).num(0, 0, 2).data(link.encode("latin-1")).bytes())
seed("share_link", "wrapped", Provider().flag(True).num(1, 0, 2).data(("5|%s|%%D6%%D0.avi" % ID32).encode()).bytes())
for name, url in (("http", "http://user:pw@example.com:8080/dir/file.avi?x=1"), ("ftp", "ftp://host/a/b.avi"),
                  ("backslashes", "http:\\\\host\\a\\b"), ("no_path", "http://host"), ("bad_port", "http://h:70000/"),
                  ("at_in_path", "http://h/a@b/c")):
    seed("url_parse", name, url.encode())
for name, wrapper, text in (("thunder", 1, "http://example.com/a b.avi"), ("qqdl", 2, "ftp://h/\xd6\xd0.avi"),
                            ("qedpxp", 3, "vxhd://1|%s|a.avi|/rest" % ID32), ("plain_http", 0, "http://h:80/%E4.avi"),
                            ("no_scheme", 0, "somewhere/file.avi"), ("mms", 0, "mms://h/a")):
    seed("download_link", name, Provider().num(wrapper, 0, 3).flag(True).data(text.encode("latin-1")).bytes())
for name, text in (("escapes", "a%20b%E4%B8%AD%2"), ("gbk", "\xd6\xd0\xce\xc4"), ("lone", "100%")):
    seed("percent_decode", name, Provider().flag(name == "gbk").data(text.encode("latin-1")).bytes())
line = "[2026-01-02 03:04:05.678] 1767312000,C:\\media,vxhd://1|%s|a.avi\r\n" % ID32
I64, I32 = (-(1 << 63), (1 << 63) - 1), (-(1 << 31), (1 << 31) - 1)
seed("link_log", "two_lines", Provider().num(1767312000, *I64).num(1767312000, *I32).text("C:\\media")
     .text("ftp://h/a.avi").data((line + line.replace("vxhd://1|", "ftp://host/")).encode()).bytes())
seed("link_log", "torn_last_line", Provider().num(1767312000, *I64).num(5, *I32).text("D:\\x").text("vxhd://2|%s|b" % ID32)
     .data((line + line[:40]).encode()).bytes())


# Stored rows: ID, FID, SID and DIRID blobs, the numbers, then the FileName text.
def row(blobs, numbers, path):
    p = Provider()
    for blob in blobs:
        p.num(len(blob), 0, 40).data(blob).flag(blob is None)
    for value in numbers[:3]:
        p.num(value, *I64)
    p.num(numbers[3], *I32)
    return p.data(path.encode("utf-16-le")).bytes()


seed("stored_record", "file_row", row([bytes(range(16))] * 4, [1 << 30, 5, 6, 0], "C:\\media\\a.avi"))
seed("stored_record", "odd_blobs", row([b"", bytes(3), bytes(range(20)), bytes(16)], [-1, 0, 0, -1], "C:\\x\0y"))
seed("stored_record", "long_path", row([bytes(16)] * 4, [0, 0, 0, 0], "C:\\" + "x" * 300))


# Dialog templates as the resource compiler lays them out.
class Template:
    def __init__(self):
        self.b = b""

    def u16(self, v):
        self.b += struct.pack("<H", v)
        return self

    def u32(self, v):
        self.b += struct.pack("<I", v)
        return self

    def u8(self, v):
        self.b += bytes([v])
        return self

    def text(self, t):
        self.b += t.encode("utf-16-le") + b"\0\0"
        return self

    def align(self):
        self.b += bytes(-len(self.b) % 4)
        return self


ext = Template().u16(1).u16(0xFFFF).u32(0).u32(0).u32(0x80C800C0 | 0x40).u16(2).u16(0).u16(0).u16(532).u16(372)
ext.u16(0xFFFF).u16(242).u16(0).text("Orchard").u16(9).u16(400).u8(0).u8(1).text("MS Shell Dlg")
ext.align().u32(0).u32(0).u32(0x50000000).u16(7).u16(5).u16(500).u16(350).u32(1095).text("SysTabControl32").text("").u16(0)
ext.align().u32(0).u32(0).u32(0x50010000).u16(400).u16(340).u16(50).u16(14).u32(1042)
ext.u16(0xFFFF).u16(0x80).text("\u4fdd\u5b58").u16(2).u8(0xAA).u8(0xBB)
seed("dialog_template", "extended", ext.b)
std = Template().u32(0x80C80000).u32(0).u16(1).u16(1).u16(2).u16(200).u16(90).u16(0).u16(0).text("Orchard - Login")
std.align().u32(0x50010000).u32(0).u16(10).u16(12).u16(64).u16(10).u16(1173).u16(0xFFFF).u16(0x85).u16(0).u16(0)
seed("dialog_template", "standard", std.b)

# Settings values: a text, then the keys of "P2PCfg.ini" present or missing.
p = Provider().text("18446744073709551615").flag(True)
for v in (0, 512, 8000, 8006, 1, 0, 9, 5, 1):
    p.flag(True).num(v, -(1 << 31), (1 << 31) - 1)
seed("settings_values", "user_id_and_numbers", p.bytes())
seed("settings_values", "address", Provider().text("192.168.001.20").flag(False).bytes())
seed("ip_list", "limits", Provider().u(0x0A000001, 32).u(0xC0A80101, 32).u(0, 32).u(0xFFFFFFFF, 32)
     .data(b"10.0.0.0/8\r\n192.168.1.0 / 24\n1.2.3.4/40\nbad line\n0.0.0.0/0\n1.1.1.1,2.2.2.2\n").bytes())
seed("ui_input", "port_and_sites", Provider().text("9090").num(2, 0, 4).text("127.0.0.1".encode("utf-16-le"))
     .text("LOCALHOST".encode("utf-16-le")).text("localhost".encode("utf-16-le"))
     .data("OrchardUI.exe /close".encode("utf-16-le")).bytes())

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


# The last 9 bytes say what the file system answers for each change (2 bits
# a change: 0 gone, 1 a file, 2 an empty file, 3 a directory) and whether the
# watched directory ends in a backslash.
def changes_input(records, looks=0x5555555555555555, slash=False):
    return Provider().u(looks, 64).flag(slash).data(records).bytes()


seed("dir_changes", "added_and_modified", changes_input(change(24, 1, "a.avi", 2) + change(0, 3, "a.avi")))
seed("dir_changes", "rename", changes_input(change(24, 4, "a.avi", 2) + change(0, 5, "b.avi"), slash=True))
seed("dir_changes", "sub_directory", changes_input(change(0, 1, "sub\\c.mkv"), looks=3))
seed("dir_changes", "added_empty_then_removed", changes_input(change(24, 1, "a.avi", 2) + change(0, 2, "a.avi"), looks=2))
seed("dir_changes", "offset_past_end", changes_input(change(64, 2, "a.avi")))
seed("dir_changes", "length_past_end", changes_input(struct.pack("<III", 0, 1, 200) + b"a\0"))
seed("dir_changes", "long_name", changes_input(change(0, 1, "x" * 250 + ".avi")))


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
