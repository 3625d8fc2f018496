#!/usr/bin/env python3
"""Writes serverapp.ico, icon 128 of ServerApp.exe: a server rack drawn in
code (16x16 and 32x32, 32-bit colour with alpha). Run it again after
changing the drawing; the .ico it writes is kept in the repository so that
the build needs no Python."""
import struct
import sys


def pixel(x, y, size):
    """BGRA of one pixel; (0, 0) is the top-left corner."""
    unit = size // 16
    margin = unit * 2
    if not (margin <= x < size - margin and unit <= y < size - unit):
        return (0, 0, 0, 0)  # transparent
    if x in (margin, size - margin - 1) or y in (unit, size - unit - 1):
        return (0x30, 0x20, 0x10, 0xFF)  # frame
    # Three drive bays, each with a green light on the right.
    inner = (y - unit) // (unit * 5) if unit else 0
    row_y = (y - unit) % (unit * 5)
    if row_y < unit:
        return (0x30, 0x20, 0x10, 0xFF)
    if x >= size - margin - 3 * unit and row_y in range(2 * unit, 3 * unit) and inner < 3:
        return (0x40, 0xD0, 0x40, 0xFF)
    return (0xA0, 0x70, 0x30, 0xFF)  # blue-grey face


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, size)) for x in range(size)))
    mask_row = b"\0" * (((size + 31) // 32) * 4)  # alpha decides; AND mask all 0
    return header + b"".join(rows) + mask_row * size


def main(path):
    sizes = (16, 32)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "serverapp.ico")
