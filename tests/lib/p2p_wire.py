"""Codec of the P2P upload core's wire formats, for the test doubles.

UDP datagrams (a 20-byte command packet under mask table B, optionally inside
an outer layer with a pad under mask table A, both checked by CRC-32), the
enciphered TCP stream (plain seed, RC4 opening block, frames) and the command
bodies the servers exchange with the core. Written from the protocol's
description, apart from the library's own encoder. Standard library only.
"""
import hashlib
import random
import struct

from orchard_channel import _CRC_TABLE as CRC_TABLE, crc_update

# --- CRC-32 of the packets: reflected table, start 0xFFFFFFFE, no final step
# (the same form as the control channel's checksum).


def crc(data, reg=0xFFFFFFFE):
    return crc_update(data, reg)


# The second constant table of the UDP masks; the library holds the same words.
MASK_SALT = [
    0x8158820C, 0x036E2DB3, 0xE6CE2293, 0xE6C45DB3, 0x91C644A1, 0xB9CEF32A,
    0xAA4B1303, 0x4654EB48, 0x58689E6C, 0x0E5F5713, 0xECFDB76B, 0xD67C152C,
    0x70CBEE01, 0xDD432D86, 0xDC5371F2, 0x80FD37A7, 0x81A62F18, 0x9ABB6B8E,
    0xC204417B, 0x54006FB2, 0x349D168D, 0xA296DEB0, 0xFD0C1C2B, 0xA8BA25C4,
    0x1280132F, 0x57BCAFD4, 0x9A834C9E, 0xA70124AB, 0xA9395E49, 0x66153478,
    0x4C599F7C, 0xBDF370D4, 0xCB064F26, 0x7FD6BE27, 0xA2F12828, 0x5CEBE9C2,
    0x64485A40, 0x6D0A8BC2, 0x64FC29B7, 0x6A4E26FA, 0x22C3FF18, 0x687A9817,
    0xF78BD18F, 0xB3DEDB41, 0x6DFEA758, 0x2E5D490F, 0xE66C1B50, 0xACEF526A,
    0x77F67959, 0xB0E9A348, 0x8878A8F9, 0x46776CF4, 0x8CC2E8B5, 0xBC5351AE,
    0x844BDFC2, 0xFF16A28D, 0xE0A5CBF5, 0x96740F00, 0x5C20D835, 0x0B7F176D,
    0x2A7AE2AA, 0xE49617EE, 0x55E3F9C3, 0x317C511B, 0x6D3547FD, 0xB872F340,
    0xC360D555, 0xD27BD316, 0x88069A97, 0xC2638C42, 0xA9825583, 0xB520B6A3,
    0x71C0114F, 0x5114AAC4, 0xE06CC778, 0x5C73CD17, 0xEAC29E68, 0x8611254C,
    0xBFDDD64A, 0x495A3B7B, 0x11B705AA, 0xB716C5BC, 0x13B1603F, 0x9C599079,
    0x03CAAAC5, 0xB81F4A23, 0x8FADA520, 0x0A58BA2E, 0x0CDE9086, 0x33388E2A,
    0x37A702F8, 0xB2B9BA7C, 0xB9F2CBE8, 0xFCF2B231, 0x590D3C25, 0x04326E66,
    0x43458C47, 0x24B095A3, 0x2400CB74, 0xDAB44795, 0x4B56F13C, 0xC505969B,
    0x7D203179, 0x0B5363CD, 0xD0D6760A, 0x4EA8131B, 0x163B3CBD, 0x5A457899,
    0x38636F9E, 0x30D804D3, 0x606EB4E0, 0x171CC46F, 0x504D7DF0, 0x0B32F436,
    0xDC583C98, 0x02C72307, 0x2B06F97F, 0xD89990E1, 0x3A8453DA, 0x7942291A,
    0x73476AF2, 0xDB12AB21, 0xDCF63A08, 0x1124A308, 0x5AEB9B2F, 0xA4750BB3,
    0x42D9289A, 0xCAF6413C, 0xCA6FDA5B, 0x67E8798A, 0x047CA292, 0x285827D8,
    0xBC7438C3, 0x61CDAEF6, 0xC41C015D, 0x60765EF7, 0x74A29841, 0x7E514662,
    0x2474B114, 0x5624BACE, 0xAD1C8997, 0x1C81C330, 0x877462BC, 0xF4EDC779,
    0x4BA6D485, 0xDF93E6D2, 0xA7728C2A, 0x8FC0627D, 0xCB420CDF, 0x6D5CE696,
    0xB7008436, 0x50A886D2, 0x7B285072, 0xB6DA738B, 0x2B7938E0, 0x4FB80BAB,
    0x51DA042D, 0xB4726697, 0x4E76CBBA, 0x85DC426F, 0x7E198AC6, 0x5AAA912E,
    0x74D29FAA, 0x2C65C29C, 0x65B21F91, 0xAE0F75A2, 0xA1C97F60, 0xCAF3495B,
    0x3E25B565, 0xE84B2F41, 0x23B53FAB, 0x74A6F61F, 0xA8E76AC8, 0xD37B5019,
    0xC7831E9F, 0xDFB058C7, 0x75C04607, 0x75D5457B, 0x82AAF40E, 0x472A547A,
    0xAB97057E, 0x8DFD6AE6, 0x3E0DB329, 0x60DAA327, 0xF4835782, 0xF63517A3,
    0xC57F3F88, 0xBC82347A, 0x6E3F6C94, 0x444AD9A4, 0x1C09302E, 0x46A29723,
    0xF19D6FFA, 0xC0CB2C04, 0x908D4D75, 0x4B18F485, 0xF8802093, 0xC9C9C9CE,
    0x6EFBC21C, 0x272A39D6, 0x64E70ECB, 0x13A41945, 0xACCC18B1, 0xA6E984C8,
    0xD9E72DCE, 0x2D866373, 0x1C231C20, 0x7AB5A408, 0x06BE2188, 0x78576934,
    0x571571A6, 0x4919B0DA, 0x90DE000B, 0xD58BA75B, 0x0FD1684B, 0x32A6296A,
    0x2E8B1DB3, 0x8EF02CCB, 0x1635D577, 0x15B687C1, 0xF174CE8E, 0x35429E35,
    0x9930BD6E, 0x8EB43B01, 0x060A657F, 0x667E7706, 0x88674994, 0x6F279F24,
    0xFCCAE34D, 0xCD2AEE16, 0x1567B59B, 0xFE67CA3B, 0xE01887F9, 0x86CDFB57,
    0x5D891727, 0x374CA6A9, 0x46FB6EA9, 0xA76FF280, 0x67D8B511, 0x252AA9BC,
    0x535B98EB, 0x40AAD076, 0x05A59A9B, 0x9BC9BA65, 0x311DC6A9, 0x5BF2A0A8,
    0x369CD82E, 0xF98F44F0, 0x9C302D7D, 0xDFD90E07, 0x75972631, 0x6ADA5D86,
    0x1A676504, 0x72F7E20B, 0xCF3049FC, 0x5DF0BBA9,
]
assert len(MASK_SALT) == 256


def _mask_table(shift):
    words = [((CRC_TABLE[i] >> shift) + MASK_SALT[255 - i]) & 0xFFFFFFFF for i in range(256)]
    return b"".join(struct.pack("<I", w) for w in words)

MASK_OUTER = _mask_table(16)  # table A
MASK_INNER = _mask_table(8)   # table B


def _xor_mask(table, check, data):
    # Whole-integer XOR against the table's bytes from (check mod 1024) on, repeated
    # as long as the data: a byte at a time is too slow for block downloads.
    data = bytes(data)
    start = check % 1024
    n = len(data)
    reps = (start + n) // 1024 + 1
    mask = (table * reps)[start:start + n]
    return (int.from_bytes(data, "little") ^ int.from_bytes(mask, "little")).to_bytes(n, "little")


# --- UDP packets

HEADER = 20
MAX_DATAGRAM = 1500


def command_packet(body, user_id=0, sequence=1):
    """The inner packet: protocol 1, check value, user id, sequence, body."""
    tail = struct.pack("<QIBB", user_id, sequence, 1, 0) + bytes(body)
    check = crc(tail)
    return struct.pack("<BBI", 1, 1, check) + _xor_mask(MASK_INNER, check, tail)


def outer(inner, pad=None):
    """Wraps a packet in the outer layer; pad is the list of pad bytes (0..8 of them)."""
    if pad is None:
        pad = bytes(random.randrange(256) for _ in range(random.randrange(8)))
    rest = bytes([len(pad)]) + bytes(pad) + bytes(inner)
    check = crc(rest)
    return struct.pack("<I", check) + _xor_mask(MASK_OUTER, check, rest)


def datagram(body, user_id=0, sequence=1, pad=None):
    return outer(command_packet(body, user_id, sequence), pad)


class Packet:
    """A received command packet."""

    def __init__(self, had_outer, user_id, sequence, body, pad=None):
        self.had_outer = had_outer
        self.pad = pad  # the outer layer's pad bytes; None without the outer layer
        self.user_id = user_id
        self.sequence = sequence
        self.body = body
        self.command = struct.unpack_from("<H", body)[0]

    def __repr__(self):
        return "Packet(cmd=%d, uid=%d, seq=%d, %d bytes)" % (self.command, self.user_id, self.sequence, len(self.body))


def parse_datagram(data):
    """A command packet from a datagram, or None when any check fails."""
    data = bytes(data)
    if len(data) < HEADER or len(data) > MAX_DATAGRAM:
        return None
    inner, had_outer, pad = data, False, None
    rest = data[4:]
    if 1 <= len(rest) <= 1484:
        check = struct.unpack_from("<I", data)[0]
        plain = _xor_mask(MASK_OUTER, check, rest)
        if crc(plain) == check and plain[0] <= 8:
            inner, had_outer, pad = plain[1 + plain[0]:], True, plain[1:1 + plain[0]]
            if len(inner) < HEADER:
                return None
    if inner[0] != 1 or len(inner) < HEADER + 2:
        return None
    check = struct.unpack_from("<I", inner, 2)[0]
    tail = _xor_mask(MASK_INNER, check, inner[6:])
    if crc(tail) != check:
        return None
    user_id, sequence = struct.unpack_from("<QI", tail)
    return Packet(had_outer, user_id, sequence, tail[14:], pad)


# --- RC4 and the enciphered TCP stream

KEY_OFFSET = 0x5A17C3E9
CHECK_VALUE = 0x2B94D06F
MAX_HEADER = 16
MAX_BODY = 0x20000


class RC4:
    def __init__(self, key):
        s = list(range(256))
        j = 0
        for i in range(256):
            j = (j + s[i] + key[i % len(key)]) & 0xFF
            s[i], s[j] = s[j], s[i]
        self.s, self.i, self.j = s, 0, 0

    def apply(self, data):
        s, i, j = self.s, self.i, self.j
        out = bytearray(data)
        for k in range(len(out)):
            i = (i + 1) & 0xFF
            j = (j + s[i]) & 0xFF
            s[i], s[j] = s[j], s[i]
            out[k] ^= s[(s[i] + s[j]) & 0xFF]
        self.i, self.j = i, j
        return bytes(out)


def stream_cipher(seed):
    return RC4(struct.pack("<I", (seed + KEY_OFFSET) & 0xFFFFFFFF))


def frame(command, body, header=b""):
    header = bytes(header)
    return struct.pack("<IHI", 4 + len(header) + len(body), command, len(header)) + header + bytes(body)


class StreamWriter:
    """One direction of a stream: the first frame carries the opening."""

    def __init__(self, seed=None):
        self.seed = random.randrange(32768) if seed is None else seed
        self.cipher = None

    def pack(self, command, body, header=None):
        if header is None:
            header = bytes(random.randrange(256) for _ in range(random.randrange(16)))
        plain = frame(command, body, header)
        if self.cipher is None:
            self.cipher = stream_cipher(self.seed)
            return struct.pack("<I", self.seed) + self.cipher.apply(struct.pack("<III", CHECK_VALUE, 1, 3) + plain)
        return self.cipher.apply(plain)


class StreamError(Exception):
    pass


class StreamReader:
    """The other direction: feed() returns the complete frames as (command, body)."""

    def __init__(self):
        self.cipher = None
        self.pending = b""
        self.plain = b""

    def feed(self, data):
        if self.cipher is None:
            self.pending += bytes(data)
            if len(self.pending) < 16:
                return []
            seed = struct.unpack_from("<I", self.pending)[0]
            self.cipher = stream_cipher(seed)
            opening = self.cipher.apply(self.pending[4:16])
            if struct.unpack_from("<I", opening)[0] != CHECK_VALUE:
                raise StreamError("opening check value")
            data, self.pending = self.pending[16:], b""
        self.plain += self.cipher.apply(data)
        frames = []
        while len(self.plain) >= 10:
            length, command, header = struct.unpack_from("<IHI", self.plain)
            if header > MAX_HEADER or length < header + 4 or length - header - 4 > MAX_BODY:
                raise StreamError("frame length %d header %d" % (length, header))
            if len(self.plain) < length + 6:
                break
            frames.append((command, self.plain[10 + header:6 + length]))
            self.plain = self.plain[6 + length:]
        return frames


# --- Command bodies. UDP bodies start with their u16 command code; TCP frame
# bodies do not. Addresses travel as the four octets in order.

import socket as _socket

def ip_bytes(text):
    return _socket.inet_aton(text)


def ip_text(raw):
    return _socket.inet_ntoa(bytes(raw))


# UDP commands
REGISTER, REGISTER_REPLY, LOGIN_SP, LOGIN_REPLY, LOGOUT, KEEPALIVE, KEEPALIVE_REPLY = 1, 2, 3, 4, 5, 6, 7
SP_LIST, SHARE_ACCEPTED, KEEP_NAT, NAT_PORT_CHECK, SP_REPLY, SHARE_REPORT, SHARE_ACCEPTED2 = 11, 13, 18, 19, 27, 28, 29
NAT_FULLCONE, NAT_FULLCONE_ANSWER, NAT_CALLME, NAT_CALLME_ANSWER = 63, 64, 66, 67
NAT_RESTRICTED, NAT_RESTRICTED_ANSWER, NAT_RESULT = 68, 69, 71
QUERY_SP, SP_SERVERS, LOGIN_UP, LOGIN_UP_REPLY, KEEPALIVE2, KEEPALIVE2_REPLY, SHARE_NOTICE = 72, 73, 76, 77, 80, 81, 97
# TCP link commands
T_REGISTER, T_REGISTER_REPLY, T_LOGIN, T_LOGIN_REPLY, T_KEEPALIVE, T_KEEPALIVE_REPLY, T_LOGOUT = 1, 2, 3, 4, 5, 6, 7
T_SHARE_BATCH, T_SHARE_ACCEPTED = 10, 11

VERSION_1_0_3_36 = bytes([1, 0, 3, 36])
NAT_PORT_MAGIC = 0x05397FB1

# Request layouts: name -> (size, [(field, struct code)]). "ip" fields are 4 raw bytes.
_IDENT = [("node_type", "B"), ("user_id", "Q"), ("lan_ip", "4s"), ("lan_port", "H"), ("nat_value", "I"), ("nat_type", "B")]
REQUESTS = {
    REGISTER: (23, [("code", "H"), ("node_type", "B"), ("build", "H"), ("subnet_id", "H"), ("machine_id", "16s")]),
    QUERY_SP: (13, [("code", "H"), ("node_type", "B"), ("version", "4s"), ("product_id", "I"), ("subnet_id", "H")]),
    LOGIN_SP: (44, [("code", "H")] + _IDENT + [("subnet_id", "H"), ("upload_kb", "H"), ("machine_id", "16s"), ("zero", "2s")]),
    LOGIN_UP: (84, [("code", "H")] + _IDENT + [("version", "4s"), ("subnet_id", "H"), ("upload_kb", "H"), ("text", "32s"),
                                               ("machine_id", "16s"), ("zero", "4s"), ("tcp_port", "H")]),
    KEEPALIVE: (46, [("code", "H")] + _IDENT + [("version", "4s"), ("zero", "2s"), ("subnet_id", "H"), ("machine_id", "16s")]),
    KEEPALIVE2: (52, [("code", "H")] + _IDENT + [("version", "4s"), ("zero", "2s"), ("subnet_id", "H"), ("machine_id", "16s"),
                                                 ("public_ip", "4s"), ("public_port", "H")]),
    LOGOUT: (27, [("code", "H"), ("node_type", "B"), ("user_id", "Q"), ("machine_id", "16s")]),
    KEEP_NAT: (15, [("code", "H"), ("node_type", "B"), ("user_id", "Q"), ("lan_ip", "4s")]),
    NAT_FULLCONE_ANSWER: (10, [("code", "H"), ("user_id", "Q")]),
    NAT_CALLME_ANSWER: (10, [("code", "H"), ("user_id", "Q")]),
    NAT_RESTRICTED_ANSWER: (10, [("code", "H"), ("user_id", "Q")]),
}
TCP_REQUESTS = {
    T_REGISTER: (108, [("node_type", "B"), ("build", "H"), ("subnet_id", "H"), ("machine_id", "16s"), ("user_id", "Q"),
                       ("lan_ip", "4s"), ("lan_port", "H"), ("tcp_port", "H"), ("version", "4s"), ("product_id", "I"),
                       ("nat_type", "B"), ("nat_value", "I"), ("pcid", "32s"), ("zero", "26s")]),
    T_LOGIN: (142, _IDENT + [("version", "4s"), ("subnet_id", "H"), ("upload_kb", "H"), ("text", "32s"),
                             ("machine_id", "16s"), ("tcp_port", "H"), ("zero", "64s")]),
    T_KEEPALIVE: (6, [("elapsed_ms", "I"), ("share_count", "H")]),
    T_LOGOUT: (8, [("elapsed_ms", "I"), ("zero", "I")]),
}


class BodyError(Exception):
    pass


def _unpack_fields(layout, body):
    size, fields = layout
    if len(body) != size:
        raise BodyError("body of %d bytes, expected %d" % (len(body), size))
    fmt = "<" + "".join(code for _, code in fields)
    assert struct.calcsize(fmt) == size, fmt
    values = struct.unpack(fmt, body)
    out = {}
    for (name, code), value in zip(fields, values):
        if name.endswith("_ip"):
            value = ip_text(value)
        out[name] = value
    return out


def parse_request(body):
    """Fields of a UDP request body, keyed by name; BodyError on a wrong size."""
    code = struct.unpack_from("<H", body)[0]
    if code == SHARE_REPORT:
        return parse_share_report(body)
    if code not in REQUESTS:
        raise BodyError("unknown command %d" % code)
    return _unpack_fields(REQUESTS[code], body)


def parse_tcp_request(command, body):
    if command == T_SHARE_BATCH:
        return parse_tcp_share_batch(body)
    if command not in TCP_REQUESTS:
        raise BodyError("unknown TCP command %d" % command)
    return _unpack_fields(TCP_REQUESTS[command], body)


def parse_share_report(body):
    """UDP 28: node type, node id, SerialID and the reported file ids."""
    if len(body) < 17:
        raise BodyError("share report of %d bytes" % len(body))
    code, node_type, node_id, serial, count = struct.unpack_from("<HBQIH", body)
    if not 1 <= count <= 60 or len(body) != 17 + 17 * count:
        raise BodyError("share report count %d in %d bytes" % (count, len(body)))
    items = [body[17 + 17 * i:33 + 17 * i] for i in range(count)]
    values = {body[33 + 17 * i] for i in range(count)}
    return {"code": code, "node_type": node_type, "node_id": node_id, "serial_id": serial,
            "fids": items, "values": values}


def parse_tcp_share_batch(body):
    if len(body) < 9:
        raise BodyError("share batch of %d bytes" % len(body))
    zero, kind, count = struct.unpack_from("<BII", body)
    if len(body) != 9 + 17 * count:
        raise BodyError("share batch count %d in %d bytes" % (count, len(body)))
    items = [body[9 + 17 * i:25 + 17 * i] for i in range(count)]
    values = {body[25 + 17 * i] for i in range(count)}
    return {"zero": zero, "type": kind, "fids": items, "values": values}


# Replies the servers send.

def register_reply(user_id, subnet_id=0):
    return struct.pack("<HQH", REGISTER_REPLY, user_id, subnet_id)


def sp_servers(sp_ip, sp_port, up_ip, up_port, login_target=2, share_report_s=3600, second_s=60,
               share_send_s=5, keepalive_s=60, keep_nat_s=30, batch_max=100, result=1):
    """UDP 73: the super node (login endpoint over UDP) and the upload server's TCP endpoint."""
    return (struct.pack("<HBHHHHHHHH", SP_SERVERS, result, login_target, share_report_s, second_s, share_send_s,
                        keepalive_s, keep_nat_s, batch_max, 0)
            + ip_bytes(sp_ip) + struct.pack("<H", sp_port) + ip_bytes(up_ip) + struct.pack("<H", up_port))


def sp_list(entries, result=1, count=None):
    """UDP 11: entries of (node type, user id, ip, port, NAT type)."""
    body = struct.pack("<HBH", SP_LIST, result, len(entries) if count is None else count)
    for node_type, user_id, ip, port, nat in entries:
        body += struct.pack("<BI", node_type, user_id) + ip_bytes(ip) + struct.pack("<HB", port, nat)
    return body


def sp_reply(ip, port, downloaded_s=3600, downloading_s=60, result=1):
    """UDP 27."""
    return struct.pack("<HBHH", SP_REPLY, result, downloaded_s, downloading_s) + ip_bytes(ip) + struct.pack("<H", port)


def login_reply(public_ip, public_port, subnet_id=0, code=LOGIN_REPLY):
    return struct.pack("<H", code) + ip_bytes(public_ip) + struct.pack("<HH", public_port, subnet_id)


def keepalive_reply(seen_ip, seen_port, status=0, flags=0, code=KEEPALIVE_REPLY):
    return struct.pack("<H", code) + ip_bytes(seen_ip) + struct.pack("<HBB", seen_port, status, flags)


def share_accepted(serial_id, code=SHARE_ACCEPTED):
    return struct.pack("<HBI", code, 0, serial_id)


def nat_port_check(seen_port):
    return struct.pack("<HI", NAT_PORT_CHECK, NAT_PORT_MAGIC) + bytes(12) + struct.pack("<H", seen_port)


def nat_probe(code, user_id, answer_port=None):
    body = struct.pack("<HQ", code, user_id)
    if code == NAT_CALLME:
        body += struct.pack("<H", answer_port or 0)
    return body


def nat_result(nat_type):
    return struct.pack("<HB", NAT_RESULT, nat_type)


def tcp_register_reply(user_id, sp_ip, sp_port, up_ip, up_port, result=0, login_target=0, share_report_s=3600,
                       batch_max=100, keepalive_s=60):
    """TCP 2, 40 bytes: result, login target, user id, super node, upload server, periods, batch maximum."""
    body = (struct.pack("<HHHQ", result, 0, login_target, user_id) + ip_bytes(sp_ip) + struct.pack("<H", sp_port)
            + ip_bytes(up_ip) + struct.pack("<HHHHH", up_port, 0, share_report_s, batch_max, keepalive_s))
    return body + bytes(40 - len(body))


def tcp_login_reply(public_ip, public_port, subnet_id=0, result=0):
    return struct.pack("<H", result) + ip_bytes(public_ip) + struct.pack("<HH", public_port, subnet_id)


def tcp_result(result):
    return struct.pack("<H", result)


# --- The peer protocol: what a downloading peer sends to an uploader and what
# it gets back. UDP bodies start with their u16 command code.

BLOCK = 1024
CALL_ME, HANDSHAKE_ANSWER, GET_FILE_DATA, CHOKE_NOTICE = 9, 15, 16, 36
SWAP_VERSION, SWAP_VERSION_ANSWER, CALL_ME2 = 48, 49, 50
HAVE_MAP, HAVE_MAP_ANSWER, VERIFY_RANGE, VERIFY_ANSWER = 52, 53, 56, 57
# TCP peer commands
P_REQ_ACTIVE, P_RSP_ACTIVE, P_CHECK_HAVE, P_CHECK_HAVE_ANSWER = 8, 9, 16, 17
P_REQ_DATA, P_BLOCK_DATA, P_FINISH_RANGE, P_VERIFY_ANSWER, P_REQ_VERIFY, P_BACK_OFF = 18, 20, 21, 22, 23, 25
HANDSHAKE_RESULTS = {0: "accepted", 1: "no file", 2: "full", 3: "offline"}


def call_me(peer_id, peer_ip, peer_port, fid, file_size, target_id=0, target_ip="0.0.0.0", target_port=0,
            nat_type=0x11, public_ip=None, version=None):
    """UDP 9 (or 50 with the 40-byte version block): a downloading peer asks,
    through the super node, to be served a file."""
    code = CALL_ME if version is None else CALL_ME2
    body = (struct.pack("<HQ", code, peer_id) + ip_bytes(peer_ip) + struct.pack("<HB", peer_port, nat_type)
            + ip_bytes(public_ip or peer_ip) + b"\0" + bytes(fid) + struct.pack("<QBQ", file_size, 0, target_id)
            + ip_bytes(target_ip) + struct.pack("<H", target_port))
    assert len(body) == 61
    if version is not None:
        body += bytes(version).ljust(40, b"\0")[:40]
    return body


def parse_handshake_answer(body):
    if len(body) != 36 or struct.unpack_from("<H", body)[0] != HANDSHAKE_ANSWER:
        raise BodyError("handshake answer of %d bytes" % len(body))
    fid = body[2:18]
    own_id, size, nat = struct.unpack_from("<QQB", body, 18)
    return {"fid": fid, "user_id": own_id, "size": size, "nat_type": nat, "result": body[35]}


def get_file_data(fid, user_id, blocks, nat_type=0x11, request_type=0, count=None):
    body = struct.pack("<H", GET_FILE_DATA) + bytes(fid) + struct.pack(
        "<QBBB", user_id, nat_type, request_type, len(blocks) if count is None else count)
    return body + b"".join(struct.pack("<I", b) for b in blocks)


def parse_block_packet(data):
    """A served block (protocol 2): dict with fid, sender, block, data,
    sequence; None when its CRC or lengths are wrong."""
    data = bytes(data)
    if len(data) < 40 or data[0] != 2 or crc(data[5:]) != struct.unpack_from("<I", data, 1)[0]:
        return None
    sender, one, block, length = struct.unpack_from("<QBIH", data, 21)
    if length > BLOCK or 36 + length + 4 > len(data):
        return None
    return {"fid": data[5:21], "sender": sender, "block": block, "data": data[36:36 + length],
            "sequence": struct.unpack_from("<I", data, 36 + length)[0], "zeros": data[40 + length:]}


def unwrap_data(data):
    """A datagram that may carry a data packet inside the outer layer."""
    data = bytes(data)
    if len(data) >= 5:
        check = struct.unpack_from("<I", data)[0]
        plain = _xor_mask(MASK_OUTER, check, data[4:])
        if crc(plain) == check and plain[0] <= 8:
            return plain[1 + plain[0]:], True
    return data, False


def swap_version(code, fid, user_id, program=b"peer.exe", build=36):
    body = struct.pack("<H", code) + bytes(fid) + struct.pack("<Q", user_id) + VERSION_1_0_3_36 + struct.pack("<I", build)
    body += bytes(8) + bytes(program)[:31].ljust(31, b"\0")
    return body.ljust(106, b"\0")


def parse_swap_version(body):
    if len(body) != 106:
        raise BodyError("swap version of %d bytes" % len(body))
    code = struct.unpack_from("<H", body)[0]
    user_id, build = struct.unpack_from("<Q4xI", body, 18)
    return {"code": code, "fid": body[2:18], "user_id": user_id, "version": body[26:30], "build": build,
            "program": body[42:73].split(b"\0", 1)[0]}


def have_map(code, fid, ranges, unit=BLOCK, width=8, flag=0):
    """UDP 52/53 (and, without its first two bytes meaning anything, the TCP
    finish_range body): ranges of (start, end) in units."""
    half = width // 2
    entries = b"".join(s.to_bytes(half, "little") + e.to_bytes(half, "little") for s, e in ranges)
    return struct.pack("<H", code) + bytes(fid) + bytes([flag]) + bytes(7) + struct.pack(
        "<IHH", unit, width, len(ranges)) + entries


def parse_have_map(body):
    if len(body) < 34:
        raise BodyError("have-map of %d bytes" % len(body))
    unit, width, count = struct.unpack_from("<IHH", body, 26)
    if width not in (2, 4, 8, 16) or len(body) != 34 + width * count:
        raise BodyError("have-map width %d count %d in %d bytes" % (width, count, len(body)))
    half = width // 2
    ranges = []
    for i in range(count):
        e = body[34 + i * width:34 + (i + 1) * width]
        ranges.append((int.from_bytes(e[:half], "little"), int.from_bytes(e[half:], "little")))
    return {"code": struct.unpack_from("<H", body)[0], "fid": body[2:18], "flag": body[18], "unit": unit,
            "ranges": ranges}


def verify_request(fid, start, length, flags=7, crc_unit=1024, tail=b"tail0123"):
    return struct.pack("<H", VERIFY_RANGE) + bytes(fid) + struct.pack("<IIQQ", flags, crc_unit, start, length) + tail


def verify_expected(request, data):
    """The verify answer a correct uploader sends for this request over these bytes."""
    flags, unit, start, length = struct.unpack_from("<IIQQ", request, 18)
    chunks = 0 if unit == 0 else (length - 1) // unit + 1
    if chunks > 256:
        chunks = 0
    body = bytearray(92 + 4 * chunks)
    body[0:2] = struct.pack("<H", VERIFY_ANSWER)
    body[2:50] = request[2:50]
    if flags & 1:
        body[50:66] = hashlib.md5(data).digest()
    if flags & 2:
        body[66:86] = hashlib.sha1(data).digest()
    if flags & 4:
        body[86:90] = struct.pack("<I", crc(data, 0))
    body[90:92] = struct.pack("<H", chunks)
    for i in range(chunks):
        body[92 + 4 * i:96 + 4 * i] = struct.pack("<I", crc(data[i * unit:(i + 1) * unit], 0))
    return bytes(body)


def check_have(user_id, fid, value=0):
    return struct.pack("<Q", user_id) + bytes(160) + bytes(fid) + struct.pack("<Q", value) + bytes(64)


def parse_check_have_answer(body):
    if len(body) != 203:
        raise BodyError("check-have answer of %d bytes" % len(body))
    result, = struct.unpack_from("<H", body)
    size, own_id = struct.unpack_from("<QQ", body, 18)
    return {"result": result, "fid": body[2:18], "size": size, "user_id": own_id}


def req_data(request_id, ranges, count=None):
    body = struct.pack("<III", request_id, 0, len(ranges) if count is None else count)
    return body + b"".join(struct.pack("<II", first, last) for first, last in ranges)


def parse_block_frame(body):
    if len(body) < 6:
        raise BodyError("block frame of %d bytes" % len(body))
    block, length = struct.unpack_from("<IH", body)
    if len(body) != 6 + length:
        raise BodyError("block frame says %d bytes, holds %d" % (length, len(body) - 6))
    return block, body[6:]


def parse_back_off(body):
    if len(body) != 8:
        raise BodyError("back-off of %d bytes" % len(body))
    return struct.unpack("<II", body)


# --- The download side: what a downloading core sends to the super node and
# to the peers that seed a file, and what it gets back.

QUERY_PEERS, CALL_ME_REQUEST, TASK_COMMAND = 46, 8, 14
PEER_LIST, PEER_LIST2 = 32, 47


def parse_peer_query(body):
    """UDP 46, 39 bytes: the querier, its public address and NAT type, the file."""
    if len(body) != 39 or struct.unpack_from("<H", body)[0] != QUERY_PEERS:
        raise BodyError("peer query of %d bytes" % len(body))
    user_id, = struct.unpack_from("<Q", body, 2)
    public_ip = ip_text(body[10:14])
    nat_type = body[14]
    fid = body[15:31]
    query = body[31]
    zero, wanted, node = struct.unpack_from("<IHB", body, 32)
    return {"user_id": user_id, "public_ip": public_ip, "nat_type": nat_type, "fid": fid, "query": query,
            "zero": zero, "wanted": wanted, "node": node}


def peer_entry(user_id, ip, port, nat_type=0x11, second_ip="0.0.0.0", second_port=0, kept=0, call_ip=None,
               call_port=None, node_type=5, percent=100):
    """One 33-byte entry of a peer list (the first 31 bytes for command 32)."""
    return (struct.pack("<Q", user_id) + ip_bytes(ip) + struct.pack("<H", port) + ip_bytes(second_ip)
            + struct.pack("<HIB", second_port, kept, nat_type) + ip_bytes(call_ip or ip)
            + struct.pack("<HBB", port if call_port is None else call_port, node_type, percent))


def peer_list(user_id, fid, entries, code=PEER_LIST2, count=None):
    """UDP 47 (33-byte entries) or 32 (31-byte entries) for the querier's user id."""
    size = 33 if code == PEER_LIST2 else 31
    body = struct.pack("<HQ", code, user_id) + bytes(fid) + struct.pack("<H", len(entries) if count is None else count)
    return body + b"".join(bytes(e)[:size] for e in entries)


def parse_call_me(body):
    """A call-me body (8 from a downloader, 9 or 50 relayed by the super node, 14 for a task)."""
    if len(body) < 61:
        raise BodyError("call-me of %d bytes" % len(body))
    code, peer_id = struct.unpack_from("<HQ", body)
    peer_port, nat_type = struct.unpack_from("<HB", body, 14)
    file_size, = struct.unpack_from("<Q", body, 38)
    target_id, = struct.unpack_from("<Q", body, 47)
    target_port, = struct.unpack_from("<H", body, 59)
    return {"code": code, "peer_id": peer_id, "peer_ip": ip_text(body[10:14]), "peer_port": peer_port,
            "nat_type": nat_type, "public_ip": ip_text(body[17:21]), "fid": body[22:38], "size": file_size,
            "target_id": target_id, "target_ip": ip_text(body[55:59]), "target_port": target_port}


def handshake_answer(fid, user_id, size, nat_type, result):
    """UDP 15, 36 bytes: the seeder's answer to a call-me, the result last."""
    return struct.pack("<H", HANDSHAKE_ANSWER) + bytes(fid) + struct.pack("<QQBB", user_id, size, nat_type, result)


def parse_get_file_data(body):
    """UDP 16 as an uploader reads it: the file, the requester, and the blocks present."""
    if len(body) < 29:
        raise BodyError("getfiledata of %d bytes" % len(body))
    user_id, nat_type, request_type, count = struct.unpack_from("<QBBB", body, 18)
    if count > 16 or len(body) < 29 + 4 * count:
        raise BodyError("getfiledata count %d in %d bytes" % (count, len(body)))
    blocks = list(struct.unpack_from("<%dI" % count, body, 29))
    return {"fid": body[2:18], "user_id": user_id, "nat_type": nat_type, "request_type": request_type,
            "blocks": blocks}


def block_packet(fid, sender_id, block, data, sequence=0, zeros=1):
    """A served block (protocol 2): 36-byte head, the data, the sequence, 1 to 5 zero bytes."""
    data = bytes(data)
    body = (bytes(fid) + struct.pack("<QBIH", sender_id, 1, block, len(data)) + data
            + struct.pack("<I", sequence) + bytes(zeros))
    return struct.pack("<BI", 2, crc(body)) + body


def wrap_data(packet, pad=None):
    """A data packet in the outer layer, as it goes to a peer that asked in that layer."""
    return outer(packet, pad)
