"""What OrchardSvc keeps on disk, read back apart from the server for the
durability tests: "ZEDURE.db" as the next start would open it, the hash
records under HashSerial, and the link log "PublishList.Log".

Each reader returns what it found and a list of problems (empty when the
stored data is whole)."""

import glob
import os
import re
import shutil
import sqlite3
import struct
import tempfile
import zlib

import orchard_proc as op
from orchard_server import read_text

DB = "ZEDURE.db"
VXHD = re.compile(r"^vxhd://([1-9][0-9]{0,19})\|([0-9A-F]{32})\|(.+)$")
FTP = re.compile(r"^ftp://.*/([^/]+)$")


def snapshot_db(db_dir, tables):
    """The database as a start would find it: its file with its write-ahead
    log or rollback journal, copied while no server runs (or beside a running
    one, for a look). {table: {path: (size, fid, sid)}} and the problems."""
    problems, rows = [], {}
    tmp = tempfile.mkdtemp(prefix="orchard_dbcopy_")
    try:
        for suffix in ("", "-wal", "-journal"):
            src = os.path.join(db_dir, DB + suffix)
            if os.path.exists(src):
                shutil.copy2(src, os.path.join(tmp, DB + suffix))
        if not os.path.exists(os.path.join(tmp, DB)):
            return rows, problems
        con = sqlite3.connect(os.path.join(tmp, DB))
        try:
            check = [r[0] for r in con.execute("PRAGMA integrity_check")]
            if check != ["ok"]:
                problems.append("integrity_check: %s" % check)
            names = {r[0] for r in con.execute("SELECT name FROM sqlite_master WHERE type='table'")}
            for table in tables:
                rows[table] = {}
                if table not in names:
                    continue
                for rid, path, size, fid, sid in con.execute(
                        "SELECT ID, FileName, FileSize, FID, SID FROM %s" % table):
                    if path in rows[table]:
                        problems.append("%s listed twice in %s" % (path, table))
                    rows[table][path] = (size, bytes(fid).hex().upper(), bytes(sid).hex().upper())
                for (rid,) in con.execute("SELECT ID FROM %s GROUP BY ID HAVING count(*) > 1" % table):
                    problems.append("id %s has two rows in %s" % (bytes(rid).hex(), table))
        finally:
            con.close()
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    return rows, problems


def crc_register(data):
    """CRC-32 on the reflected table, register started at 0, no final inversion."""
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def hash_record_problem(path):
    """None when the record file at path is whole, else what is wrong with it."""
    with open(path, "rb") as f:
        raw = f.read()
    if len(raw) < 72:
        return "%d bytes" % len(raw)
    version, check, body_len = struct.unpack_from("<iII", raw, 0)
    if version != 1 or body_len + 48 != len(raw) or (body_len - 24) % 16:
        return "header %d/%d for %d bytes" % (version, body_len, len(raw))
    if crc_register(raw[48:]) != check:
        return "check value"
    return None


def hash_record_dir():
    """The HashSerial folder of the data directory: ODStore in the
    application data of the Wine prefix's user (it may not exist yet)."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    users = [u for u in glob.glob(os.path.join(prefix, "drive_c", "users", "*")) if os.path.basename(u) != "Public"]
    user = os.path.join(prefix, "drive_c", "users", os.environ.get("USER", "root"))
    if user not in users and users:
        user = users[0]
    return os.path.join(user, "AppData", "Roaming", "ODStore", "HashSerial")


def hash_records(root):
    """{record name: path} of the records in place (not those being written beside)."""
    out = {}
    for sub in glob.glob(os.path.join(root, "*")):
        for path in glob.glob(os.path.join(sub, "*")):
            name = os.path.basename(path)
            if re.fullmatch(r"[0-9A-F]{32}", name):
                out[name] = path
    return out


def link_log(work):
    """The link pairs of "PublishList.Log" as [(time, directory, vxhd link,
    ftp link)] and the problems: an entry that is not whole, or a vxhd line
    without its FTP line right after it."""
    pairs, problems = [], []
    messages = op.log_messages(os.path.join(work, "PublishList.Log")) or []
    pending = None
    for m in messages:
        parts = m.split(",", 1)
        scheme = m.find("://")
        link_at = m.rfind(",", 0, scheme) if scheme > 0 else -1
        if len(parts) < 2 or link_at < 0 or not parts[0].lstrip("-").isdigit():
            problems.append("not an entry: %r" % m)
            pending = None
            continue
        time, directory, link = int(parts[0]), m[len(parts[0]) + 1:link_at], m[link_at + 1:]
        v = VXHD.match(link)
        if v:
            if pending:
                problems.append("vxhd line without its FTP line: %r" % pending[2])
            pending = (time, directory, link, v.group(3))
            continue
        f = FTP.match(link)
        if not f or not pending or (time, directory, f.group(1)) != (pending[0], pending[1], pending[3]):
            problems.append("FTP line without its vxhd line: %r" % m)
        else:
            pairs.append((time, directory, pending[2], link))
        pending = None
    if pending:
        problems.append("vxhd line without its FTP line: %r" % pending[2])
    return pairs, problems


def last_publish_links(path, pattern):
    """The link lines of "LastPublish.txt" or "LastPublishFtp.txt" (the lines
    after each directory heading) and the problems: a line that is not a whole
    link, or a link written twice."""
    text = read_text(path)
    links, problems = [], []
    blocks = text.split("\r\n\r\n") if text else []
    for block in blocks:
        lines = [l for l in block.split("\r\n") if l]
        for line in lines[1:]:
            if not re.match(pattern, line):
                problems.append("not a whole link: %r" % line)
            links.append(line)
    for link in set(links):
        if links.count(link) > 1:
            problems.append("written twice: %r" % link)
    return links, problems

