#!/usr/bin/env python3
"""Checks the four content ids of generated files against an independent
implementation written here with hashlib, from the rules of the ids alone."""
import argparse
import hashlib
import os
import random
import subprocess
import sys
import tempfile

K, M, G = 1 << 10, 1 << 20, 1 << 30


def md5_piece_size(size):
    if size == 0:
        return 0
    if size <= 4 * G:
        n, piece = (size - 1) // (64 * K) + 1, 64 * K
        while n > 512:
            piece, n = piece * 2, n // 2
        return min(piece, M)
    n, piece = (size - 1) // M + 1, M
    while n > 4096:
        piece, n = piece * 2, n // 2
    return piece


def sha1_piece_size(size):
    for bound, piece in ((1, 0), (0x400000, 0x4000), (0x1000000, 0x8000), (0x3FFFFFE, 0x10000),
                         (0xFFFFFF8, 0x20000), (0x3FFFFFE0, 0x40000), (0xFFFFFF80, 0x80000)):
        if size < bound:
            return piece
    return 0x100000


def pieces(data, piece):
    return [data[i:i + piece] for i in range(0, len(data), piece)]


def ids(data):
    size = len(data)
    md5s = [hashlib.md5(p).digest() for p in pieces(data, md5_piece_size(size))]
    sha1s = [hashlib.sha1(p).digest() for p in pieces(data, sha1_piece_size(size))]
    n = len(md5s)
    fid = hashlib.md5(b"".join(md5s)).digest()
    sid = hashlib.md5(md5s[0] + md5s[n // 2] + md5s[n - 1]).digest()
    cid = hashlib.sha1(b"".join(sha1s)).digest()
    if size <= 0xEFFF:
        qid = hashlib.sha1(data).digest()
    else:
        s = 20480
        qid = hashlib.sha1(data[:s] + data[size // 3:size // 3 + s] + data[size - s:]).digest()
    return {k: v.hex().upper() for k, v in (("fid", fid), ("sid", sid), ("cid", cid), ("qid", qid))}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--wine")
    a = ap.parse_args()
    sizes = [
        ("one byte", 1),
        ("qid hashed whole", 61439),
        ("qid sampled, samples cover it exactly", 61440),
        ("one MD5 piece", 64 * K),
        ("two MD5 pieces", 64 * K + 1),
        ("MD5 64 KiB, SHA-1 32 KiB pieces, odd tail", 5 * M + 3),
        ("MD5 128 KiB pieces, odd count", 32 * M + 1),
    ]
    rng = random.Random(5)
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, size in sizes:
            path = os.path.join(tmp, "f%d.bin" % size)
            data = rng.randbytes(size)
            with open(path, "wb") as f:
                f.write(data)
            cmd = ([a.wine] if a.wine else []) + [a.tool, path]
            out = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
            got = dict(line.strip().split("=", 1) for line in out.stdout.splitlines() if "=" in line)
            want = ids(data)
            if out.returncode != 0 or got != want:
                failures += 1
                print("FAIL %s (%d bytes): rc=%d\n  got  %s\n  want %s\n%s"
                      % (name, size, out.returncode, got, want, out.stderr))
            else:
                print("ok   %s (%d bytes)" % (name, size))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
