#!/usr/bin/env python3
"""Writes the favicon test fixtures of this folder (standard library only)."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width, height, rgba):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    rows = b"".join(b"\0" + bytes(rgba) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def and_mask(size):
    return b"\0" * (((size + 31) // 32) * 4 * size)


def bmp32(size, bgra):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + bytes(bgra) * (size * size) + and_mask(size)


def bmp8(size, palette_bgr):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    palette = bytes(palette_bgr) + b"\0" + b"\0" * (255 * 4)
    return header + palette + b"\0" * (size * size) + and_mask(size)


def ico(entries):
    """entries: (size, bit count, image bytes) in file order."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, bits, data in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in entries)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# 16x16 twice (a grey 8-bit image first, then red 32-bit), 32x32 green, 48x48 blue as PNG.
multisize = ico([(16, 8, bmp8(16, (128, 128, 128))), (16, 32, bmp32(16, (0, 0, 255, 255))),
                 (32, 32, bmp32(32, (0, 255, 0, 255))), (48, 32, png(48, 48, (0, 0, 255, 255)))])
write("multisize.ico", multisize)
write("png_as_ico.ico", png(32, 32, (255, 128, 0, 255)))
write("html_page.ico", b"<!DOCTYPE html><html><body><h1>Welcome</h1></body></html>\n")
write("truncated.ico", multisize[:40])
