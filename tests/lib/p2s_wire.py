"""The p2s command packet and its field lists, written for the test doubles
from the protocol alone (independent of the C++ code under test).

Packet: 44-byte head (magic 16 23 34 48, u32 IPv4 field, u32 body length,
u32 check value, 28 zero bytes; big-endian), then the body, XOR-scrambled
with a key derived from the check value. The check value is CRC-32 over up
to ten sampled body bytes followed by the whole body.

Field list: u32 count (big-endian), a header entry per field in name order
(name, ":", type byte, u32 size big-endian), then the values back to back.
Values: u8; u32 big-endian; u64 little-endian; bytes and texts as a u32
little-endian count and the bytes. Type 2 plain values, 4 nested list,
8 vector of lists (u32 count, u32 sizes, the lists).

  packet = build_packet(body)         body = read_packet(packet)   (ValueError when invalid)
  kind, info = read_commit(packet)    a "commit?cmd=finfo" packet: kind 3, the file information
  reply = reply_packet(1, info)       a reply with a status and, for status 1, a field list
"""
import struct
import zlib

MAGIC = b"\x16#4H"
HEAD = 44
MAX_BODY = 0x100000
SAMPLE_OFFSETS = (7, 3, 2, 0, 1, 6, 4, 5, 9, 8)
T_VALUE, T_LIST, T_VECTOR = 2, 4, 8

# Kinds of the members of the two records, by one-letter name.
URL_FIELDS = {"U": "bytes", "I": "text", "R": "text", "L": "text", "N": "text", "J": "u64", "K": "u32", "S": "u32",
              "B": "u64"}
FILE_INFO_FIELDS = {"F": "bytes", "Z": "u64", "T": "u64", "H": "bytes", "C": "urls"}

STATUS_OK, STATUS_REFUSED, STATUS_REFUSED_INFO = 1, 2, 6


def sampled_crc32(body):
    samples = bytes(body[10 * i + SAMPLE_OFFSETS[i]] for i in range(min(len(body) // 10, 10)))
    return zlib.crc32(body, zlib.crc32(samples)) & 0xFFFFFFFF


def scramble(body, check):
    key = check % 331 + 1
    return bytes(b ^ ((i + key) & 0xFF) for i, b in enumerate(body))


def build_packet(body, check=None):
    """A packet of a plain body; `check` replaces the true check value (to send a broken one)."""
    true_check = sampled_crc32(body)
    return (MAGIC + struct.pack(">III", 0, len(body), true_check if check is None else check) + bytes(28)
            + scramble(body, true_check))


def read_packet(data):
    if len(data) < HEAD or data[:4] != MAGIC:
        raise ValueError("not a p2s packet")
    _, n, check = struct.unpack_from(">III", data, 4)
    if n > MAX_BODY or len(data) < HEAD + n:
        raise ValueError("body length %d does not fit" % n)
    body = scramble(data[HEAD:HEAD + n], check)
    if sampled_crc32(body) != check:
        raise ValueError("check value does not match")
    return body


# --- plain values

def enc_value(kind, v):
    if kind == "u8":
        return struct.pack("<B", v)
    if kind == "u32":
        return struct.pack(">I", v)
    if kind == "u64":
        return struct.pack("<Q", v)
    if kind in ("bytes", "text"):
        raw = v.encode("latin-1") if kind == "text" else bytes(v)
        return struct.pack("<I", len(raw)) + raw
    if kind == "urls":
        return enc_vector([encode_fields(u, URL_FIELDS) for u in v])
    raise KeyError(kind)


def dec_value(kind, raw):
    if kind == "u32":
        (v,) = struct.unpack(">I", raw[:4])
        return v
    if kind == "u64":
        (v,) = struct.unpack("<Q", raw[:8])
        return v
    if kind in ("bytes", "text"):
        (n,) = struct.unpack("<I", raw[:4])
        if n == 0 or n > len(raw) - 4:
            b = b""
        else:
            b = raw[4:4 + n]
        return b.decode("latin-1") if kind == "text" else b
    if kind == "urls":
        return [decode_fields(e, URL_FIELDS) for e in dec_vector(raw)]
    raise KeyError(kind)


def type_of(kind):
    return {"urls": T_VECTOR}.get(kind, T_VALUE)


# --- lists and vectors

def enc_list(entries):
    """entries: (name, type, raw value) in any order; written in name order."""
    entries = sorted(entries, key=lambda e: e[0].encode("latin-1"))
    out = struct.pack(">I", len(entries))
    for name, typ, raw in entries:
        out += name.encode("latin-1") + b":" + bytes([typ]) + struct.pack(">I", len(raw))
    return out + b"".join(raw for _, _, raw in entries)


def dec_list(data):
    """(name, type, raw value) in the order they came; ValueError when anything lies outside."""
    if len(data) < 4:
        raise ValueError("short list")
    (n,) = struct.unpack_from(">I", data, 0)
    if 4 + 6 * n > len(data):
        raise ValueError("count %d does not fit" % n)
    pos, heads = 4, []
    for _ in range(n):
        colon = data.find(b":", pos)
        if colon < 0 or b"\0" in data[pos:colon] or colon + 6 > len(data):
            raise ValueError("bad header entry")
        typ = data[colon + 1]
        (size,) = struct.unpack_from(">I", data, colon + 2)
        heads.append((data[pos:colon].decode("latin-1"), typ, size))
        pos = colon + 6
    out = []
    for name, typ, size in heads:
        if pos + size > len(data):
            raise ValueError("value of %s outside the list" % name)
        out.append((name, typ, data[pos:pos + size]))
        pos += size
    return out


def enc_vector(elements):
    return struct.pack(">I", len(elements)) + b"".join(struct.pack(">I", len(e)) for e in elements) + b"".join(elements)


def dec_vector(data):
    (n,) = struct.unpack_from(">I", data, 0)
    if 4 + 4 * n > len(data):
        raise ValueError("vector count does not fit")
    sizes = struct.unpack_from(">%dI" % n, data, 4)
    pos, out = 4 + 4 * n, []
    for size in sizes:
        if pos + size > len(data):
            raise ValueError("vector element outside")
        out.append(data[pos:pos + size])
        pos += size
    return out


def encode_fields(record, schema):
    """A dict of known names (and "?": [(name, type, raw)] for others) as a field list."""
    entries = [(name, type_of(schema[name]), enc_value(schema[name], v)) for name, v in record.items() if name != "?"]
    return enc_list(entries + list(record.get("?", [])))


def decode_fields(data, schema):
    record = {}
    for name, typ, raw in dec_list(data):
        if name in schema:
            record[name] = dec_value(schema[name], raw)
        else:
            record.setdefault("?", []).append((name, typ, raw))
    return record


# --- commands

def commit_packet(info):
    """What a client sends for "commit?cmd=finfo": kind 3, a zero byte, the file information."""
    return build_packet(b"\x03\x00" + encode_fields(info, FILE_INFO_FIELDS))


def read_commit(packet):
    body = read_packet(packet)
    if len(body) < 2 or body[0] != 3 or body[1] != 0:
        raise ValueError("not a set-value command")
    return body[0], decode_fields(body[2:], FILE_INFO_FIELDS)


def reply_packet(status, info=None, check=None):
    body = bytes([status])
    if status == STATUS_OK:
        body += encode_fields(info or {}, FILE_INFO_FIELDS)
    return build_packet(body, check)
