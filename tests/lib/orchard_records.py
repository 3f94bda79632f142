"""The FTP records of the control channel in Python, written from their
layouts apart from the C++ code: the NAME field and the requests and replies
of commands 65 to 69. Little-endian, byte-packed. (PATH fields, record ids and
file records are in orchard_server.)
"""

import hashlib
import struct

FTP_DIR_ENTRY = 1044


def name_field(text):
    """The 128-byte NAME field."""
    raw = text.encode("utf-16-le")[:128]
    return raw + b"\0" * (128 - len(raw))


def text_of(raw):
    """A fixed-size UTF-16LE field's text, up to its first zero unit."""
    return raw.decode("utf-16-le").split("\0", 1)[0]


def password_digest(password):
    """How the FTP side shows a password: 32 upper-case hex digits of the MD5 of its ANSI text."""
    return hashlib.md5(password.encode("gbk")).hexdigest().upper() if password else ""


def parse_ftp_account(payload):
    """Command 65's payload: (user, password digest, [(first, second, flag), ...])."""
    user, password = text_of(payload[0:128]), text_of(payload[128:256])
    (n,) = struct.unpack_from("<I", payload, 256)
    assert len(payload) == 260 + n * FTP_DIR_ENTRY, "%d entries in %d bytes" % (n, len(payload))
    entries = []
    for i in range(n):
        e = payload[260 + i * FTP_DIR_ENTRY:260 + (i + 1) * FTP_DIR_ENTRY]
        entries.append((text_of(e[0:520]), text_of(e[520:1040]), struct.unpack_from("<I", e, 1040)[0]))
    return user, password, entries


def parse_ftp_setting(payload):
    """Command 67's payload: (host, port)."""
    assert len(payload) == 130
    return text_of(payload[0:128]), struct.unpack_from("<H", payload, 128)[0]


def ftp_account_request(user, password):
    """Command 66's arguments."""
    return name_field(user) + name_field(password)


def ftp_setting_request(host_type, host, port):
    """Command 68's arguments, as the user interface sends them."""
    return struct.pack("<I", host_type) + name_field(host) + struct.pack("<H", port)
