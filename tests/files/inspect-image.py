#!/usr/bin/env python3
"""Reads what the metadata checks compare, independently of the host:
  inspect-image.py alpha FILE.png   the SHA-256 of an 8-bit RGBA PNG's alpha
  inspect-image.py tables FILE.jpg  a JPEG's quantisation tables, in hex"""
import hashlib
import struct
import sys
import zlib


def png_alpha(path):
    data = open(path, "rb").read()
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 6 or interlace != 0:
        return "not an 8-bit RGBA PNG"
    raw = zlib.decompress(idat)
    stride, bpp = width * 4, 4
    previous = bytearray(stride)
    alpha = bytearray()
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - bpp] if i >= bpp else 0
            up = previous[i]
            corner = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                row[i] = (row[i] + pred) & 255
        alpha += row[3::4]
        previous = row
    return hashlib.sha256(bytes(alpha)).hexdigest()


def jpeg_tables(path):
    data = open(path, "rb").read()
    at, tables = 2, []
    while at + 4 <= len(data) and data[at] == 0xFF:
        marker = data[at + 1]
        length = struct.unpack(">H", data[at + 2:at + 4])[0]
        if marker == 0xDB:
            tables.append(data[at + 4:at + 2 + length].hex())
        if marker == 0xDA:
            break
        at += 2 + length
    return "".join(tables)


command, path = sys.argv[1], sys.argv[2]
print(png_alpha(path) if command == "alpha" else jpeg_tables(path))
