#!/usr/bin/env python3
"""Writes the image strip of the directory tree and the file list: eight
16-pixel images side by side in a 24-bit BMP, white (the mask colour) where
nothing is drawn. 0 folder, 1 open folder, 2 blank page, 3 file, 4 published
file, 5 changed file, 6 unpublished root, 7 directory root."""
import struct
import sys

SIZE = 16
WHITE = (255, 255, 255)
PAPER = (246, 246, 240)   # a page is never pure white, which is the mask
EDGE = (110, 110, 110)
FOLDER = (236, 190, 70)
FOLDER_DARK = (176, 132, 30)
FILM = (60, 100, 170)
GREEN = (40, 150, 60)
ORANGE = (230, 120, 20)
RED = (200, 40, 40)
BLUE_FOLDER = (90, 140, 210)
BLUE_DARK = (40, 80, 150)


def blank():
    return [[WHITE] * SIZE for _ in range(SIZE)]


def rect(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def frame(img, x0, y0, x1, y1, colour):
    for x in range(x0, x1 + 1):
        img[y0][x] = img[y1][x] = colour
    for y in range(y0, y1 + 1):
        img[y][x0] = img[y][x1] = colour


def folder(fill=FOLDER, dark=FOLDER_DARK, open_=False):
    img = blank()
    rect(img, 1, 3, 6, 4, dark)          # the tab
    rect(img, 1, 5, 14, 13, fill)
    frame(img, 1, 5, 14, 13, dark)
    if open_:
        rect(img, 3, 8, 15, 13, fill)
        frame(img, 3, 8, 15, 13, dark)
    return img


def page():
    img = blank()
    rect(img, 3, 1, 12, 14, PAPER)
    frame(img, 3, 1, 12, 14, EDGE)
    return img


def media():
    img = page()
    rect(img, 5, 4, 10, 9, FILM)         # a film frame
    for y in (4, 6, 8):
        img[y][5] = img[y][10] = PAPER
    return img


def check(img, colour):
    for i, (x, y) in enumerate(((8, 11), (9, 12), (10, 13), (11, 12), (12, 11), (13, 10), (14, 9))):
        img[y][x] = img[y - 1][x] = colour


def dot(img, colour, cx=11, cy=11, r=3):
    for y in range(SIZE):
        for x in range(SIZE):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 1:
                img[y][x] = colour


def images():
    published = media()
    check(published, GREEN)
    changed = media()
    dot(changed, ORANGE)
    unpublished = folder()
    dot(unpublished, RED)
    return [folder(), folder(open_=True), page(), media(), published, changed, unpublished,
            folder(BLUE_FOLDER, BLUE_DARK)]


def main():
    strip = images()
    width = SIZE * len(strip)
    stride = (width * 3 + 3) & ~3
    rows = b""
    for y in range(SIZE - 1, -1, -1):     # bottom-up rows
        row = bytearray()
        for img in strip:
            for r, g, b in img[y]:
                row += bytes((b, g, r))
        rows += bytes(row) + b"\0" * (stride - len(row))
    header = struct.pack("<IiiHHIIiiII", 40, width, SIZE, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    data = b"BM" + struct.pack("<IHHI", 14 + len(header) + len(rows), 0, 0, 14 + len(header)) + header + rows
    with open(sys.argv[1], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
