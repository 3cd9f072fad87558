#!/usr/bin/env python3
"""Draws the wizard's side picture (res/wizard.bmp, 158 x 278, 16 colours)
and the program's icon (res/setup.ico, 32 x 32 and 16 x 16, 16 colours)."""

import os
import struct

PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)

BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


class Canvas:
    def __init__(self, width, height, fill=0):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1):
            self.put(x, y0, colour)
            self.put(x, y1 - 1, colour)
        for y in range(y0, y1):
            self.put(x0, y, colour)
            self.put(x1 - 1, y, colour)

    def disc(self, cx, cy, r, colour):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, colour)

    def line(self, points, colour, thickness=1):
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            steps = max(abs(x1 - x0), abs(y1 - y0), 1)
            for i in range(steps + 1):
                x = round(x0 + (x1 - x0) * i / steps)
                y = round(y0 + (y1 - y0) * i / steps)
                for d in range(thickness):
                    self.put(x, y + d, colour)


def blend(canvas, y0, y1, top, bottom):
    """A vertical gradient between two palette colours, ordered-dithered."""
    for y in range(y0, y1):
        level = (y - y0) * 16 // max(y1 - y0, 1)
        for x in range(canvas.width):
            canvas.put(x, y, bottom if BAYER[y % 4][x % 4] < level else top)


def bezier(p0, p1, p2, n=40):
    return [(round((1 - t) ** 2 * p0[0] + 2 * (1 - t) * t * p1[0] + t * t * p2[0]),
             round((1 - t) ** 2 * p0[1] + 2 * (1 - t) * t * p1[1] + t * t * p2[1]))
            for t in (i / n for i in range(n + 1))]


def wizard_picture():
    c = Canvas(158, 278)
    blend(c, 0, 70, NAVY, BLUE)
    blend(c, 70, 140, BLUE, CYAN)
    blend(c, 140, 190, CYAN, WHITE)
    c.disc(34, 40, 14, YELLOW)
    # Clouds.
    for cx, cy in ((92, 96), (104, 92), (116, 97), (40, 150), (52, 146)):
        c.disc(cx, cy, 7, WHITE)
    # Hills and a field.
    for x in range(c.width):
        top = 196 + round(10 * ((x - 79) / 79.0) ** 2) - 6
        for y in range(top, c.height):
            c.put(x, y, GREEN)
    blend(c, 236, 278, GREEN, OLIVE)
    # Telephone pole with its cross arm and insulators.
    c.rect(128, 70, 133, 214, MAROON)
    c.rect(114, 80, 148, 84, MAROON)
    for x in (116, 126, 136, 144):
        c.rect(x, 76, x + 3, 80, WHITE)
    # The wires leave the picture towards the next pole.
    c.line(bezier((117, 77), (60, 100), (0, 82)), BLACK)
    c.line(bezier((145, 77), (152, 88), (158, 84)), BLACK)
    # The modem board: circuit board, chips, edge connector, phone jack.
    c.rect(14, 200, 122, 246, GREEN)
    c.frame(14, 200, 122, 246, TEAL)
    for x0, w in ((24, 26), (58, 18), (84, 14)):
        c.rect(x0, 210, x0 + w, 226, BLACK)
        for x in range(x0 + 1, x0 + w - 1, 3):
            c.put(x, 209, SILVER)
            c.put(x, 226, SILVER)
    c.rect(24, 232, 40, 238, SILVER)       # crystal
    c.disc(52, 236, 3, NAVY)               # capacitor
    c.put(52, 236, CYAN)
    c.rect(30, 246, 106, 252, YELLOW)      # gold contacts
    for x in range(32, 106, 4):
        c.rect(x, 246, x + 1, 252, OLIVE)
    c.rect(104, 232, 122, 244, SILVER)     # RJ-11 jack
    c.rect(108, 236, 118, 242, BLACK)
    c.put(66, 234, RED)                    # status light
    c.put(70, 234, LIME)
    # Copper traces.
    for y in (230, 240):
        c.line([(44, y), (100, y)], YELLOW)
    # The phone line from the jack up to the pole.
    c.line(bezier((121, 239), (150, 240), (131, 205)), BLACK, 2)
    return c


def bmp_rows(canvas, bottom_up=True):
    rows = canvas.pixels[::-1] if bottom_up else canvas.pixels
    stride = ((canvas.width * 4 + 31) // 32) * 4
    out = bytearray()
    for row in rows:
        line = bytearray()
        for x in range(0, canvas.width, 2):
            hi = row[x]
            lo = row[x + 1] if x + 1 < canvas.width else 0
            line.append(hi << 4 | lo)
        line += b"\0" * (stride - len(line))
        out += line
    return bytes(out)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def write_bmp(path, canvas):
    pixels = bmp_rows(canvas)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + 64
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + palette_bytes() + pixels)


def icon_image(size):
    c = Canvas(size, size, fill=-1)
    s = size / 32.0

    def r(v):
        return round(v * s)
    # A desktop modem: grey case with a dark outline, lights on the front,
    # and the phone cord curling off to the side.
    c.rect(r(2), r(12), r(30), r(24), SILVER)
    c.rect(r(2), r(20), r(30), r(24), GRAY)
    c.frame(r(2), r(12), r(30), r(24), BLACK)
    for i, colour in enumerate((LIME, LIME, RED, YELLOW)):
        x = r(7 + 5 * i)
        c.rect(x, r(21), x + max(r(2), 1), r(22) + 1, colour)
    c.rect(r(4), r(14), r(12), r(16), NAVY)
    c.line(bezier((r(26), r(12)), (r(28), r(3)), (r(18), r(4))), BLACK)
    c.rect(r(12), r(3), r(19), r(7), BLACK)
    mask = [[1 if v < 0 else 0 for v in row] for row in c.pixels]
    c.pixels = [[0 if v < 0 else v for v in row] for row in c.pixels]
    xor = bmp_rows(c)
    and_stride = ((size + 31) // 32) * 4
    and_bits = bytearray()
    for row in mask[::-1]:
        line = bytearray(and_stride)
        for x, bit in enumerate(row):
            if bit:
                line[x // 8] |= 0x80 >> (x % 8)
        and_bits += line
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(and_bits), 0, 0, 16, 0)
    return info + palette_bytes() + xor + bytes(and_bits)


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def main():
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    write_bmp(os.path.join(res, "wizard.bmp"), wizard_picture())
    write_ico(os.path.join(res, "setup.ico"), [32, 16])


if __name__ == "__main__":
    main()
