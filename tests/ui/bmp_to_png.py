"""Turns the 24-bit BMP screenshots of ui_driver.exe into PNG files, with the
standard library only; optionally cropped to a window's rectangle."""

import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        raise ValueError("only 24-bit BMP files")
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = height - 1 - y if height > 0 else y
        row = data[offset + src * stride: offset + src * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(bytes(rgb))
    return width, abs(height), rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(png)


def convert(bmp, png, crop=None):
    """crop: (left, top, right, bottom) in screen pixels, clipped to the image."""
    width, height, rows = read_bmp(bmp)
    if crop:
        left, top = max(0, crop[0]), max(0, crop[1])
        right, bottom = min(width, crop[2]), min(height, crop[3])
        rows = [r[left * 3:right * 3] for r in rows[top:bottom]]
        width, height = right - left, bottom - top
    write_png(png, width, height, rows)
    return rows


if __name__ == "__main__":
    crop = tuple(int(v) for v in sys.argv[3].split(",")) if len(sys.argv) > 3 else None
    convert(sys.argv[1], sys.argv[2], crop)
