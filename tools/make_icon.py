#!/usr/bin/env python3
"""Draws Orvex's icon: a blue shield with a white check mark, and writes it as
res/Orvex.ico (or the path given as the first argument).

The icon group holds four images, in this order: 16 x 16, 32 x 32 and 48 x 48
as 32-bit BMP images (BGRA with alpha, plus a 1-bit AND mask that is set where
a pixel is fully transparent), and 256 x 256 as a PNG image (8-bit RGBA).
Every size is drawn from the shapes at its own resolution, with anti-aliased
edges; 16 and 32 use their own, pixel-aligned and bolder, geometry so that
they stay crisp. Only the Python standard library is used, and the output is
the same, byte for byte, on every run."""
import math
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)

OUTLINE = (16, 40, 96)
CHECK = (255, 255, 255)
CHECK_RIM = (200, 220, 240)
FILL_TOP = (70, 170, 240)
FILL_BOTTOM = (40, 110, 200)
HIGHLIGHT = (140, 205, 250)

# The design, on a 48-unit grid: the shield is flat on top with rounded
# corners, runs straight down to the shoulder and then narrows along a
# quarter cosine to the tip. "stroke" is half the check mark's width and
# "rim" the width of its soft edge.
DESIGN = {
    "cx": 24, "top": 4, "shoulder": 28, "tip": 45, "half": 19, "corner": 3,
    "outline": 1.5, "highlight": 1.0,
    "check": ((14, 24), (21, 32), (35, 15)), "stroke": 2.6, "rim": 1.0,
}

# Small sizes are not a scaled-down 48: their edges sit on pixel boundaries
# (straight sides, top and the outline's inner edge), the outline is a whole
# pixel, the check mark is thicker for its size and placed so its strokes
# cover whole pixels where they can, and the soft details (the check's rim,
# the highlight inside the outline) are left out because at these sizes they
# only blur the shapes. At 16 the lower half narrows along straight lines at
# 45 degrees, which land as even steps where a curve would smear.
HINTED = {
    16: {
        "cx": 8, "top": 1, "shoulder": 9, "tip": 16, "half": 7, "corner": 1.5,
        "straight_taper": True,
        "outline": 1, "highlight": 0,
        "check": ((4.3, 8.2), (7, 10.9), (11.8, 5.2)), "stroke": 1.2, "rim": 0,
    },
    32: {
        "cx": 16, "top": 2, "shoulder": 18, "tip": 30.6, "half": 13, "corner": 2.5,
        "outline": 1, "highlight": 0,
        "check": ((9, 16), (14, 21), (23.2, 10.2)), "stroke": 1.9, "rim": 0,
    },
}


def geometry(size):
    if size in HINTED:
        return dict(HINTED[size])
    k = size / 48
    g = {name: value * k for name, value in DESIGN.items() if name != "check"}
    g["check"] = tuple((x * k, y * k) for x, y in DESIGN["check"])
    return g


def shield_distance(g, x, y):
    """Approximate signed distance from (x, y) to the shield's edge, in pixels:
    positive inside. Exact along the straight edges and the round corners; along
    the taper it is the distance to the tangent at the same height, which is
    close enough for an outline a few pixels wide."""
    top, shoulder, tip, half, r = g["top"], g["shoulder"], g["tip"], g["half"], g["corner"]
    dx = abs(x - g["cx"])
    if y <= shoulder:
        if y < top + r and dx > half - r:
            return r - math.hypot(dx - (half - r), top + r - y)
        return min(y - top, half - dx)
    if y >= tip:
        return -math.hypot(dx, y - tip)
    span = tip - shoulder
    if g.get("straight_taper"):
        width = half * (tip - y) / span
        slope = half / span
    else:
        a = (y - shoulder) / span * math.pi / 2
        width = half * math.cos(a)
        slope = half * math.sin(a) * math.pi / 2 / span
    return (width - dx) / math.sqrt(1 + slope * slope)


def check_distance(g, x, y):
    d = float("inf")
    pts = g["check"]
    for (ax, ay), (bx, by) in zip(pts, pts[1:]):
        ex, ey = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * ex + (y - ay) * ey) / (ex * ex + ey * ey)))
        d = min(d, math.hypot(x - ax - t * ex, y - ay - t * ey))
    return d


def sample(g, x, y):
    """The colour at one point, or None outside the shield."""
    d = shield_distance(g, x, y)
    if d < 0:
        return None
    if d < g["outline"]:
        return OUTLINE
    c = check_distance(g, x, y)
    if c < g["stroke"]:
        return CHECK
    if c < g["stroke"] + g["rim"]:
        return CHECK_RIM
    if d < g["outline"] + g["highlight"]:
        return HIGHLIGHT
    # vertical gradient, lighter at the top
    t = (y - g["top"]) / (g["tip"] - g["top"])
    return tuple(a + (b - a) * t for a, b in zip(FILL_TOP, FILL_BOTTOM))


def render(size):
    """Returns size rows of (r, g, b, a) tuples, top row first, with straight
    (not premultiplied) colour; fully transparent pixels are (0, 0, 0, 0)."""
    g = geometry(size)
    # Distances at which the colour changes; a pixel whose centre is more
    # than a margin away from all of them is one colour and needs one sample.
    shield_edges = (0, g["outline"], g["outline"] + g["highlight"])
    check_edges = (g["stroke"], g["stroke"] + g["rim"])
    margin = 1.5
    n = 8 if size > 64 else 16  # samples per pixel side where it matters
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            cx, cy = px + 0.5, py + 0.5
            d = shield_distance(g, cx, cy)
            c = check_distance(g, cx, cy)
            if all(abs(d - e) > margin for e in shield_edges) and \
                    all(abs(c - e) > margin for e in check_edges):
                colour = sample(g, cx, cy)
                row.append((0, 0, 0, 0) if colour is None else
                           tuple(int(v + 0.5) for v in colour) + (255,))
                continue
            r = gr = b = 0.0
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    colour = sample(g, px + (sx + 0.5) / n, py + (sy + 0.5) / n)
                    if colour is not None:
                        r += colour[0]
                        gr += colour[1]
                        b += colour[2]
                        hits += 1
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((int(r / hits + 0.5), int(gr / hits + 0.5), int(b / hits + 0.5),
                            (hits * 255 * 2 + n * n) // (2 * n * n)))
        rows.append(row)
    return rows


def bmp_image(rows):
    size = len(rows)
    xor = bytearray()
    andmask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        bits = 0
        for x, (r, g, b, a) in enumerate(row):
            xor += bytes((b, g, r, a))
            # Systems that ignore alpha draw from the mask: leave only the
            # fully transparent pixels out.
            bits = (bits << 1) | (1 if a == 0 else 0)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        if size % 8:
            line.append(bits << (8 - size % 8))
        line += b"\0" * (-len(line) % 4)
        andmask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(andmask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(andmask)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_image(rows):
    size = len(rows)
    raw = bytearray()
    previous = bytes(size * 4)
    for row in rows:
        line = bytes(v for pixel in row for v in pixel)
        # Filter "up": the gradient changes little from row to row, so the
        # differences are mostly runs of the same few bytes.
        raw.append(2)
        raw += bytes((a - b) & 0xFF for a, b in zip(line, previous))
        previous = line
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def main(out):
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_image(rows) if size >= 256 else bmp_image(rows)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    for size, data in images:
        side = size if size < 256 else 0  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(directory + b"".join(data for _, data in images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "res/Orvex.ico")
