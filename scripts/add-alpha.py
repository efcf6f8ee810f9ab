#!/usr/bin/env python3
"""Writes a binary PPM (8-bit RGB) as an RGBA PNG whose alpha is a gradient
from transparent at the left edge to opaque at the right, with a fully
transparent band across the middle: a layer with transparency for the
benchmarks."""
import struct
import sys
import zlib


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise SystemExit("add-alpha: only 8-bit binary PPM files are read")
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[at + 1:at + 1 + width * height * 3]


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: add-alpha.py IN.ppm OUT.png")
    width, height, rgb = read_ppm(sys.argv[1])
    gradient = bytes(x * 255 // max(1, width - 1) for x in range(width))
    clear = bytes(width)
    band = range(height * 2 // 5, height * 3 // 5)
    raw = bytearray()
    row = bytearray(width * 4)
    for y in range(height):
        line = rgb[y * width * 3:(y + 1) * width * 3]
        row[0::4] = line[0::3]
        row[1::4] = line[1::3]
        row[2::4] = line[2::3]
        row[3::4] = clear if y in band else gradient
        raw += b"\0" + row
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(sys.argv[2], "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 1)) +
                chunk(b"IEND", b""))


main()
