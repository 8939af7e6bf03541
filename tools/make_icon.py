#!/usr/bin/env python3
"""Draws Orvex's icon: a blue shield with a white check mark, 48 x 48 in 256
colours, and writes it as res/Orvex.ico (one BMP image, 8 bits per pixel)."""
import math
import struct
import sys

SIZE = 48


def shield_inside(x, y):
    # Flat top with rounded corners, straight sides, tapering to a point.
    cx = SIZE / 2
    if y < 4 or y > 45:
        return False
    if y < 28:
        half = 19
        if y < 8:  # rounded top corners
            half = 19 - (8 - y) ** 2 / 8
        return abs(x - cx) <= half
    # lower part narrows along a curve to the tip at y = 45
    t = (y - 28) / 17
    half = 19 * math.cos(t * math.pi / 2)
    return abs(x - cx) <= half


def dist_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return math.hypot(px - qx, py - qy)


def pixel(x, y):
    """Returns (r, g, b) or None for a transparent pixel; x, y at the centre."""
    px, py = x + 0.5, y + 0.5
    if not shield_inside(px, py):
        return None
    edge = not (shield_inside(px - 1.5, py) and shield_inside(px + 1.5, py)
                and shield_inside(px, py - 1.5) and shield_inside(px, py + 1.5))
    if edge:
        return (16, 40, 96)
    # check mark
    d = min(dist_to_segment(px, py, 14, 24, 21, 32), dist_to_segment(px, py, 21, 32, 35, 15))
    if d < 2.6:
        return (255, 255, 255)
    if d < 3.6:
        return (200, 220, 240)
    # vertical gradient, lighter at the top
    k = (py - 4) / 41
    return (int(40 + 30 * (1 - k)), int(110 + 60 * (1 - k)), int(200 + 40 * (1 - k)))


def main(out):
    colours = {}
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            c = pixel(x, y)
            if c is None:
                row.append(None)
                continue
            c = (c[0] & 0xFC, c[1] & 0xFC, c[2] & 0xFC)
            if c not in colours:
                colours[c] = len(colours) + 1  # index 0 stays black for transparent pixels
            row.append(colours[c])
        rows.append(row)
    assert len(colours) < 256

    palette = bytearray(256 * 4)
    for (r, g, b), i in colours.items():
        palette[i * 4:i * 4 + 4] = bytes((b, g, r, 0))

    xor = bytearray()
    andmask = bytearray()
    for row in reversed(rows):  # bottom-up
        xor += bytes(i if i is not None else 0 for i in row)
        bits = 0
        line = bytearray()
        for x, i in enumerate(row):
            bits = (bits << 1) | (1 if i is None else 0)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        line += b"\0" * (-len(line) % 4)
        andmask += line

    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, len(xor) + len(andmask), 0, 0, 256, 0)
    image = header + bytes(palette) + bytes(xor) + bytes(andmask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "res/Orvex.ico")
