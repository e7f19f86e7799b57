#!/usr/bin/env python3
"""Converts a binary PPM (P6, maxval 255) into a PNG, optionally enlarged by a whole factor.

Standard library only; used to put rendered maps into the README.
    tools/ppm_to_png.py <in.ppm> <out.png> [scale]
"""
import struct
import sys
import zlib


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit(f"{path}: not a binary PPM with maxval 255")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + 3 * width * height]
    if len(pixels) != 3 * width * height:
        sys.exit(f"{path}: image data ends early")
    return width, height, pixels


def write_png(path, width, height, pixels, scale):
    rows = []
    for y in range(height):
        row = pixels[3 * width * y:3 * width * (y + 1)]
        wide = b"".join(row[3 * x:3 * x + 3] * scale for x in range(width))
        rows.extend([b"\x00" + wide] * scale)

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width * scale, height * scale, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    w, h, px = read_ppm(sys.argv[1])
    write_png(sys.argv[2], w, h, px, int(sys.argv[3]) if len(sys.argv) == 4 else 1)
