#!/usr/bin/env python3
"""Draws the dialog's logo, resources/logo.bmp: 54 x 48 pixels, 24 bits per
pixel, rows bottom-up, no colour table. A dark field whose lower left corner
is lifted into warm light by a tone curve, the filter's idea in one picture.
Run it again only to change the picture; the bitmap is committed."""
import math
import struct
import sys

W, H = 54, 48


def pixel(x, y):
    # y grows downwards here; u, v in 0..1 with v growing upwards.
    u = (x + 0.5) / W
    v = 1.0 - (y + 0.5) / H
    # Background: a deep blue-grey that brightens to the right.
    base = 0.10 + 0.30 * u
    r, g, b = base * 0.75, base * 0.85, base * 1.10
    # The lifted shadows: a curve v = u ** 0.45 splits the field; below it
    # the light is warm, strongest near the curve.
    curve = u ** 0.45
    if v < curve:
        t = 1.0 - (curve - v) / max(curve, 1e-6)
        warmth = 0.35 + 0.65 * t
        r, g, b = r + 0.95 * warmth, g + 0.62 * warmth, b + 0.18 * warmth
    # The curve itself, drawn bright with a soft edge.
    distance = abs(v - curve) * H
    if distance < 1.6:
        a = 1.0 - distance / 1.6
        r, g, b = r + (1.0 - r) * a, g + (0.93 - g) * a, b + (0.70 - b) * a
    # The identity diagonal, faint, to show what the curve lifts from.
    if abs(v - u) * H < 0.6:
        r, g, b = r + 0.12, g + 0.12, b + 0.14
    clamp = lambda c: max(0, min(255, int(round(c * 255))))
    return clamp(r), clamp(g), clamp(b)


def main(path):
    row_bytes = (W * 3 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(H)):  # bottom-up
        row = bytearray()
        for x in range(W):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(row_bytes - len(row))
        pixels += row
    header_size = 14 + 40
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(file_header + info + pixels)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/logo.bmp")
