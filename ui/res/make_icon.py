#!/usr/bin/env python3
"""Writes a small two-size (16 and 32 pixel) .ico: a filled disc of one colour
with a darker rim, used for OrchardUI's window, tray and status-bar icons."""
import struct
import sys


def image(size, rgb):
    r, g, b = rgb
    rim = (r * 3 // 5, g * 3 // 5, b * 3 // 5)
    centre = (size - 1) / 2.0
    radius = size / 2.0 - 0.5
    pixels = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):  # bottom-up rows
        bits = 0
        row_mask = bytearray()
        for x in range(size):
            d = ((x - centre) ** 2 + (y - centre) ** 2) ** 0.5
            if d <= radius - 1.5:
                pixels += bytes((b, g, r, 255))
            elif d <= radius:
                pixels += bytes((rim[2], rim[1], rim[0], 255))
            else:
                pixels += bytes((0, 0, 0, 0))
                bits |= 0x80 >> (x % 8)
            if x % 8 == 7:
                row_mask.append(bits)
                bits = 0
        while len(row_mask) % 4:
            row_mask.append(0)
        mask += row_mask
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def main():
    out, colour = sys.argv[1], sys.argv[2]
    rgb = tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))
    images = [image(16, rgb), image(32, rgb)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip((16, 32), images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        data += img
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
