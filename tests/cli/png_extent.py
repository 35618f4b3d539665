#!/usr/bin/python3
"""Prints "<width> <height> <left> <top> <right> <bottom>" of a PNG file: its
size and the box of its pixels that are not white (left > right when all
are).  Reads 8-bit RGB and RGBA pictures, as a browser's screenshots are."""
import struct
import sys
import zlib


def main(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("not a PNG file")
    at, chunks, header = 8, [], None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        at += 12 + length
    width, height, depth, colour = header[:4]
    if depth != 8 or colour not in (2, 6):
        sys.exit("unsupported PNG form")
    size = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(chunks))
    stride = width * size
    previous = bytearray(stride)
    left, top, right, bottom = width, height, -1, -1
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = row[i - size] if i >= size else 0
            b = previous[i]
            c = previous[i - size] if i >= size else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        for x in range(width):
            pixel = row[x * size:x * size + 3]
            if min(pixel) < 200:
                left, right = min(left, x), max(right, x)
                top, bottom = min(top, y), max(bottom, y)
        previous = row
    print(width, height, left, top, right, bottom)


if __name__ == "__main__":
    main(sys.argv[1])
