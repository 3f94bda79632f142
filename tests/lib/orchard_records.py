"""Control-channel fields and records in Python, written from their layouts
apart from the C++ code: PATH and NAME fields, record ids, the file record
and the FTP replies of commands 65, 67 and 69. Little-endian, byte-packed.
"""

import hashlib
import os
import struct

FILE_RECORD = 617
FTP_DIR_ENTRY = 1044


def win(path):
    """The path as the programs under Wine see it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def text_field(text, size):
    raw = text.encode("utf-16-le")[:size]
    return raw + b"\0" * (size - len(raw))


def path_field(text):
    return text_field(text, 520)


def name_field(text):
    return text_field(text, 128)


def text_of(raw):
    """A fixed-size UTF-16LE field's text, up to its first zero unit."""
    return raw.decode("utf-16-le").split("\0", 1)[0]


def record_id(text):
    """MD5 of the path's UTF-16LE units: the record id of a file or directory."""
    return hashlib.md5(text.encode("utf-16-le")).digest()


def password_digest(password):
    """How the FTP side shows a password: 32 upper-case hex digits of the MD5 of its ANSI text."""
    return hashlib.md5(password.encode("gbk")).hexdigest().upper() if password else ""


def parse_file(raw):
    attrs, size, lmt, pubt, maxconn, state = struct.unpack_from("<IqqqiB", raw, 0)
    return {"attrs": attrs, "size": size, "lmt": lmt, "pubTime": pubt, "state": state,
            "name": text_of(raw[65:585]), "fid": raw[585:601].hex().upper(), "sid": raw[601:617].hex().upper()}


def parse_file_list(payload):
    """Command 34's payload after the status: {path: file record}."""
    (n,) = struct.unpack_from("<I", payload, 0)
    assert len(payload) == 4 + n * FILE_RECORD, "%d records in %d bytes" % (n, len(payload))
    return {r["name"]: r for r in (parse_file(payload[4 + i * FILE_RECORD:4 + (i + 1) * FILE_RECORD])
                                   for i in range(n))}


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
