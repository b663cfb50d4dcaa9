#!/usr/bin/env python3
"""Draws the program's six icons as 16-colour indexed PNGs, 32 x 32 each
plus a 16 x 16 version (name-16.png), and the larger sizes of the desktop
icon (the floppy disk) into packaging/icons/. Run by hand after changing a
drawing; the PNGs are committed, so that neither a build nor the package
needs an image tool. Needs nothing but Python's standard library."""
import math
import os
import struct
import zlib

# Index 0 is transparent; the rest is the classic 16-colour set less fuchsia.
PALETTE = [
    (0, 0, 0),        # 0 transparent
    (0, 0, 0),        # 1 black
    (128, 0, 0),      # 2 maroon
    (0, 128, 0),      # 3 green
    (128, 128, 0),    # 4 olive
    (0, 0, 128),      # 5 navy
    (128, 0, 128),    # 6 purple
    (0, 128, 128),    # 7 teal
    (192, 192, 192),  # 8 silver
    (128, 128, 128),  # 9 grey
    (255, 0, 0),      # 10 red
    (0, 255, 0),      # 11 lime
    (255, 255, 0),    # 12 yellow
    (0, 0, 255),      # 13 blue
    (0, 255, 255),    # 14 aqua
    (255, 255, 255),  # 15 white
]
T, BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, GREY, RED, LIME, \
    YELLOW, BLUE, AQUA, WHITE = range(16)


class Canvas:
    def __init__(self, n=32):
        self.n = n
        self.px = [[T] * n for _ in range(n)]

    def fill(self, inside, colour):
        """Paints every pixel whose centre satisfies inside(x, y)."""
        for y in range(self.n):
            for x in range(self.n):
                if inside(x + 0.5, y + 0.5):
                    self.px[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour)

    def poly(self, pts, colour):
        self.fill(lambda x, y: in_polygon(pts, x, y), colour)

    def circle(self, cx, cy, r, colour):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)

    def outlined(self, inside, fill, line=BLACK):
        """Fills a shape and draws its one-pixel border."""
        for y in range(self.n):
            for x in range(self.n):
                if not inside(x + 0.5, y + 0.5):
                    continue
                edge = any(not inside(x + 0.5 + dx, y + 0.5 + dy)
                           for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                self.px[y][x] = line if edge else fill

    def half(self):
        """16 x 16 version: each 2 x 2 block becomes its commonest opaque
        colour, or transparent when the block is mostly empty."""
        out = Canvas(self.n // 2)
        for y in range(out.n):
            for x in range(out.n):
                block = [self.px[2 * y + j][2 * x + i] for j in (0, 1) for i in (0, 1)]
                opaque = [c for c in block if c != T]
                if len(opaque) < 2:
                    continue
                # Dark outline colours win ties so shapes keep their edges.
                out.px[y][x] = max(set(opaque), key=lambda c: (opaque.count(c), c == BLACK))
        return out

    def scaled(self, k):
        """Each pixel becomes a k x k block: no smoothing, so a large icon
        keeps the small one's crisp pixels."""
        out = Canvas(self.n * k)
        out.px = [[c for c in row for _ in range(k)] for row in self.px for _ in range(k)]
        return out


def in_polygon(pts, x, y):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def write_png(path, canvas):
    raw = b"".join(b"\x00" + bytes(row) for row in canvas.px)
    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", canvas.n, canvas.n, 8, 3, 0, 0, 0))
    png += chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE))
    png += chunk(b"tRNS", b"\x00")
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def floppy():
    c = Canvas()
    body = [(3, 2), (27, 2), (29, 4), (29, 30), (3, 30)]
    c.poly(body, BLACK)
    c.poly([(4, 3), (26.5, 3), (28, 4.5), (28, 29), (4, 29)], NAVY)
    c.rect(7, 3, 25, 17, WHITE)           # label area
    for y in (7, 10, 13):                 # ruled lines on the label
        c.rect(9, y, 23, y + 1, SILVER)
    c.rect(9, 19, 23, 29, SILVER)         # metal shutter
    c.rect(9, 19, 23, 20, WHITE)
    c.rect(22, 19, 23, 29, GREY)
    c.rect(12, 21, 16, 27, BLACK)         # shutter window
    c.rect(5, 26, 7, 28, BLACK)           # write-protect hole
    return c


def tilted_floppy():
    c = Canvas()
    a = math.radians(45)
    cos, sin = math.cos(a), math.sin(a)
    def local(x, y):
        dx, dy = x - 16, y - 16
        return dx * cos + dy * sin, -dx * sin + dy * cos
    def disk(x, y):
        u, v = local(x, y)
        return -10 <= u <= 10 and -10 <= v <= 10 and not (u > 7 and v < -7 and u - v > 17)
    def label(x, y):
        u, v = local(x, y)
        return -6.5 <= u <= 6.5 and -10 <= v <= -1
    def shutter(x, y):
        u, v = local(x, y)
        return -5 <= u <= 5 and 2 <= v <= 10
    c.outlined(disk, SILVER)
    c.outlined(label, WHITE)
    c.outlined(shutter, WHITE)
    return c


def arrow():
    c = Canvas()
    shape = [(2, 11), (17, 11), (17, 4), (30, 16), (17, 28), (17, 21), (2, 21)]
    c.outlined(lambda x, y: in_polygon(shape, x, y), BLUE)
    # Shade the lower half for depth.
    for y in range(17, 32):
        for x in range(32):
            if c.px[y][x] == BLUE:
                c.px[y][x] = NAVY
    for x in range(3, 17):
        c.px[12][x] = AQUA
    return c


def drive():
    c = Canvas()
    c.rect(1, 7, 31, 26, BLACK)
    c.rect(2, 8, 30, 25, SILVER)
    c.rect(2, 8, 30, 9, WHITE)            # lit top edge
    c.rect(2, 24, 30, 25, GREY)           # shaded bottom edge
    c.rect(5, 13, 27, 16, BLACK)          # disk slot
    c.rect(5, 16, 27, 17, WHITE)
    c.rect(21, 19, 27, 22, GREY)          # eject button
    c.rect(21, 19, 27, 20, WHITE)
    c.rect(6, 20, 9, 22, LIME)            # indicator light
    return c


def warning():
    c = Canvas()
    tri = [(16, 2), (30.5, 28), (1.5, 28)]
    c.outlined(lambda x, y: in_polygon(tri, x, y), YELLOW)
    c.rect(14.5, 10, 17.5, 20, BLACK)
    c.rect(14.5, 22, 17.5, 25, BLACK)
    return c


def information():
    c = Canvas()
    c.outlined(lambda x, y: (x - 16) ** 2 + (y - 16) ** 2 <= 14.5 ** 2, BLUE, NAVY)
    c.rect(14, 7, 18, 11, WHITE)
    c.rect(14, 13, 18, 24, WHITE)
    c.rect(12, 13, 14, 15, WHITE)
    c.rect(12, 23, 20, 25, WHITE)
    return c


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    here = os.path.join(root, "ui", "resources", "icons")
    os.makedirs(here, exist_ok=True)
    for name, draw in (("floppy", floppy), ("tilted-floppy", tilted_floppy),
                       ("arrow", arrow), ("drive", drive), ("warning", warning),
                       ("information", information)):
        big = draw()
        write_png(os.path.join(here, name + ".png"), big)
        write_png(os.path.join(here, name + "-16.png"), big.half())

    # The desktop icon's larger sizes, each from the drawing whose size
    # divides it: 48 from the 16-pixel version, the rest from the 32.
    desktop = os.path.join(root, "packaging", "icons")
    os.makedirs(desktop, exist_ok=True)
    disk = floppy()
    for size, source in ((48, disk.half()), (64, disk), (128, disk), (256, disk)):
        write_png(os.path.join(desktop, "hoguren-%d.png" % size), source.scaled(size // source.n))


if __name__ == "__main__":
    main()
