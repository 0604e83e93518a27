#!/usr/bin/python3
"""Draws the program's icon (a log sheet over a meter's display) into
ActionLog.ico at the sizes Windows asks for, 16 to 64 pixels."""
import struct
import sys

BLUE = (0x1F, 0x4E, 0x79)
WHITE = (0xFF, 0xFF, 0xFF)
SIZES = (16, 20, 24, 32, 40, 48, 64)


def colour_at(x, y):
    """The picture on a 64 x 64 canvas: None where transparent."""
    # Rounded square 4..60, corner radius 8.
    if not (4 <= x < 60 and 4 <= y < 60):
        return None
    cx = min(max(x, 12), 52)
    cy = min(max(y, 12), 52)
    if (x - cx) ** 2 + (y - cy) ** 2 > 64:
        return None
    if 16 <= x < 48 and 12 <= y < 52:
        for line in (20, 28, 36, 44):
            if 21 <= x < 43 and line - 1.5 <= y < line + 1.5:
                return BLUE
        return WHITE
    return BLUE


def image(size, samples=4):
    """BGRA rows, bottom row first, averaged over samples x samples points."""
    rows = []
    for row in range(size - 1, -1, -1):
        pixels = bytearray()
        for col in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (col + (sx + 0.5) / samples) * 64 / size
                    y = (row + (sy + 0.5) / samples) * 64 / size
                    c = colour_at(x, y)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = samples * samples
            if a:
                pixels += bytes((b // a, g // a, r // a, 255 * a // n))
            else:
                pixels += bytes(4)
        rows.append(bytes(pixels))
    return b"".join(rows)


def dib(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + image(size) + bytes(mask_row * size)


def main(path):
    images = [dib(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = 6 + 16 * len(SIZES)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "ActionLog.ico")
