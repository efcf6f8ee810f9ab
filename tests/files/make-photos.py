#!/usr/bin/env python3
"""Writes the plain pictures the metadata checks start from, into FOLDER:
base.ppm (8-bit RGB, for cjpeg), base.png (8-bit RGB), rgba.png (8-bit RGB
with a graded alpha), deep.tif (16-bit RGB, uncompressed) and profile.icc
(a small display profile of about 3 KB). Each is written byte by byte here,
so that the host's own writers have no part in its inputs."""
import struct
import sys
import zlib

W, H = 96, 64


def pixel(x, y):
    # Dark lower left, bright upper right: shadows for the filter to lift.
    r = (x * 255 // (W - 1) + (H - 1 - y) * 60 // (H - 1)) // 2
    g = (x * 200 // (W - 1) + (H - 1 - y) * 90 // (H - 1)) // 2
    b = ((x + y) * 7) % 90
    return r, g, b


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(path, colour_type, rows):
    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, colour_type, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw)))
        f.write(chunk(b"IEND", b""))


def tiff16(path):
    samples = bytearray()
    for y in range(H):
        for x in range(W):
            for v in pixel(x, y):
                samples += struct.pack("<H", v * 257 + (x % 7))
    entries = [
        (256, 4, 1, W), (257, 4, 1, H), (258, 3, 3, None), (259, 3, 1, 1), (262, 3, 1, 2),
        (273, 4, 1, None), (277, 3, 1, 3), (278, 4, 1, H), (279, 4, 1, len(samples)), (284, 3, 1, 1),
    ]
    ifd_at = 8
    ifd_size = 2 + 12 * len(entries) + 4
    bits_at = ifd_at + ifd_size
    data_at = bits_at + 6
    out = bytearray(b"II*\0" + struct.pack("<I", ifd_at))
    out += struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        if tag == 258:
            value = bits_at
        if tag == 273:
            value = data_at
        if kind == 3 and count == 1:
            out += struct.pack("<HHIHH", tag, kind, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, count, value)
    out += struct.pack("<I", 0)
    out += struct.pack("<HHH", 16, 16, 16)
    out += samples
    with open(path, "wb") as f:
        f.write(out)


def profile(path):
    desc = b"desc" + b"\0" * 4 + struct.pack(">I", 13) + b"Umbrolux test\0" + b"\0" * 67
    white = b"XYZ " + b"\0" * 4 + struct.pack(">iii", 63190, 65536, 54061)
    # A private tag of filler: the profile is about the size of a camera's.
    private = b"data" + b"\0" * 4 + bytes((i * 37 + 11) & 255 for i in range(2800))
    tags = [(b"desc", desc), (b"wtpt", white), (b"priv", private)]
    table = 4 + 12 * len(tags)
    at = 128 + table
    body, entries = b"", b""
    for signature, data in tags:
        while (at + len(body)) % 4:
            body += b"\0"
        entries += signature + struct.pack(">II", at + len(body), len(data))
        body += data
    size = 128 + table + len(body)
    header = (struct.pack(">I", size) + b"none" + bytes([4, 0x20, 0, 0]) + b"mntr" + b"RGB " + b"XYZ " +
              b"\0" * 12 + b"acsp" + b"\0" * 24 + b"\0" * 4 +
              struct.pack(">iii", 63190, 65536, 54061) + b"\0" * 48)
    assert len(header) == 128
    with open(path, "wb") as f:
        f.write(header + struct.pack(">I", len(tags)) + entries + body)


def main():
    folder = sys.argv[1]
    with open(folder + "/base.ppm", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (W, H))
        for y in range(H):
            for x in range(W):
                f.write(bytes(pixel(x, y)))
    png(folder + "/base.png", 2, [b"".join(bytes(pixel(x, y)) for x in range(W)) for y in range(H)])
    png(folder + "/rgba.png", 6,
        [b"".join(bytes(pixel(x, y)) + bytes([0 if x < 8 else (x * 255) // (W - 1)]) for x in range(W))
         for y in range(H)])
    tiff16(folder + "/deep.tif")
    profile(folder + "/profile.icc")


main()
