#!/usr/bin/env python3
"""Writes the GIF fixtures of the GIF reader tests and their expected pixels.

A small GIF encoder of its own (standard library only): header, logical
screen, colour tables, extensions, image descriptors and LZW image data in
sub-blocks. For every readable fixture NAME.gif it writes NAME.txt: the first
line holds width and height of the logical screen, then one line per screen
row (top row first) with the pixel values of its columns. Screen cells that no
image covers are written as 255, the value the reader treats as nodata.

Run once from any directory: python3 make_fixtures.py
"""

import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------- LZW coding

class BitPacker:
    """Packs variable-width codes, least significant bit first."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.nbits = 0

    def put(self, code, width):
        assert 0 <= code < (1 << width), (code, width)
        self.acc |= code << self.nbits
        self.nbits += width
        while self.nbits >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.nbits -= 8

    def finish(self):
        if self.nbits:
            self.out.append(self.acc & 0xFF)
        return bytes(self.out)


def lzw_compress(pixels, min_size, clear_when_full=True, count=None):
    """Compresses pixel indices. With clear_when_full False the table stays
    full at 4096 entries and coding goes on with 12-bit codes (a deferred
    clear). `count`, when given, collects the number of codes written."""
    clear = 1 << min_size
    stop = clear + 1
    packer = BitPacker()
    codes_written = 0

    def fresh():
        return {bytes([i]): i for i in range(clear)}, clear + 2, min_size + 1

    table, free, width = fresh()
    packer.put(clear, width)
    codes_written += 1
    current = b""
    for p in pixels:
        assert 0 <= p < clear
        candidate = current + bytes([p])
        if not current or candidate in table:
            current = candidate
            continue
        packer.put(table[current], width)
        codes_written += 1
        if free < 4096:
            table[candidate] = free
            if free == (1 << width) and width < 12:
                width += 1
            free += 1
        elif clear_when_full:
            packer.put(clear, width)
            codes_written += 1
            table, free, width = fresh()
        current = bytes([p])
    packer.put(table[current], width)
    packer.put(stop, width)
    codes_written += 2
    if count is not None:
        count.append(codes_written)
    return packer.finish()


def raw_codes(codes, min_size):
    """Packs a given code sequence with the widths a decoder expects when
    every code after the first adds one table entry."""
    packer = BitPacker()
    clear = 1 << min_size
    width = min_size + 1
    entries = clear + 2
    first = True
    for c in codes:
        packer.put(c, width)
        if c == clear:
            width, entries, first = min_size + 1, clear + 2, True
            continue
        if first:
            first = False
            continue
        if entries < 4096:
            entries += 1
            if entries == (1 << width) and width < 12:
                width += 1
    return packer.finish()


def sub_blocks(data, size=255):
    out = bytearray()
    for i in range(0, len(data), size):
        chunk = data[i:i + size]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


# ------------------------------------------------------------- file blocks

def colour_table(bits):
    n = 1 << (bits + 1)
    return bytes((i * 37 % 256, i * 91 % 256, i * 13 % 256)[k] for i in range(n) for k in range(3))


def screen(version, width, height, table_bits=None, background=0):
    flags = 0
    table = b""
    if table_bits is not None:
        flags = 0x80 | (7 << 4) | table_bits
        table = colour_table(table_bits)
    return version + struct.pack("<HHBBB", width, height, flags, background, 0) + table


def interlace_order(height):
    rows = []
    for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)):
        rows.extend(range(start, height, step))
    return rows


def image(rows, left=0, top=0, min_size=8, interlaced=False, table_bits=None, clear_when_full=True,
          count=None, data=None):
    """An image descriptor with its LZW data. `rows` is a list of pixel rows."""
    height = len(rows)
    width = len(rows[0])
    flags = 0
    table = b""
    if table_bits is not None:
        flags |= 0x80 | table_bits
        table = colour_table(table_bits)
    order = range(height)
    if interlaced:
        flags |= 0x40
        order = interlace_order(height)
    pixels = [p for r in order for p in rows[r]]
    if data is None:
        data = lzw_compress(pixels, min_size, clear_when_full, count)
    return (b"\x2C" + struct.pack("<HHHHB", left, top, width, height, flags) + table + bytes([min_size])
            + sub_blocks(data))


def comment(text):
    return b"\x21\xFE" + sub_blocks(text.encode("ascii"))


def application():
    return b"\x21\xFF" + sub_blocks(b"NETSCAPE2.0", 11)[:-1] + sub_blocks(b"\x01\x00\x00")


def graphic_control(delay=0, terminator=0):
    return b"\x21\xF9\x04" + struct.pack("<BHB", 0, delay, 0) + bytes([terminator])


def plain_text():
    header = struct.pack("<HHHHBBBB", 0, 0, 8, 8, 8, 8, 1, 0)
    return b"\x21\x01" + bytes([len(header)]) + header + sub_blocks(b"hello")


TRAILER = b"\x3B"


# -------------------------------------------------------------- fixtures

def compose(width, height, placements):
    """The logical screen after drawing the images in turn; 255 where none."""
    grid = [[255] * width for _ in range(height)]
    for rows, left, top in placements:
        for r, row in enumerate(rows):
            for c, v in enumerate(row):
                grid[top + r][left + c] = v
    return grid


def write(name, content, expected=None):
    with open(os.path.join(HERE, name + ".gif"), "wb") as f:
        f.write(content)
    if expected is not None:
        with open(os.path.join(HERE, name + ".txt"), "w") as f:
            f.write("%d %d\n" % (len(expected[0]), len(expected)))
            for row in expected:
                f.write(" ".join(str(v) for v in row) + "\n")


def main():
    rng = random.Random(20170117)

    # GIF87a, 16 colours, no extensions.
    rows = [[(3 * r + 5 * c) % 16 for c in range(7)] for r in range(5)]
    write("basic87a", screen(b"GIF87a", 7, 5, table_bits=3) + image(rows, min_size=4) + TRAILER, rows)

    # GIF89a with every kind of extension before the image and nodata pixels.
    rows = [[(r * 12 + c * 7) % 256 for c in range(12)] for r in range(9)]
    rows[2][3] = rows[6][11] = rows[8][0] = 255
    content = (screen(b"GIF89a", 12, 9, table_bits=7) + comment("radar composite") + application()
               + plain_text() + graphic_control(delay=10) + image(rows) + TRAILER)
    write("extensions89a", content, rows)

    # Interlaced, 19 rows so that all four passes hold rows, local colour table.
    rows = [[(r * 10 + c) % 250 for c in range(10)] for r in range(19)]
    content = screen(b"GIF89a", 10, 19) + image(rows, interlaced=True, table_bits=7) + TRAILER
    write("interlaced", content, rows)

    # Noise: fills the code table many times over (clear codes in the data).
    rows = [[rng.randrange(256) for _ in range(200)] for _ in range(200)]
    count = []
    content = screen(b"GIF89a", 200, 200, table_bits=7) + image(rows, count=count) + TRAILER
    assert count[0] > 4 * 4096, count
    write("noise200", content, rows)

    # Noise coded with a full table kept in use (no clear code once it fills).
    rows = [[rng.randrange(40) for _ in range(90)] for _ in range(90)]
    count = []
    content = screen(b"GIF89a", 90, 90) + image(rows, clear_when_full=False, count=count) + TRAILER
    assert count[0] > 4096 + 256, count
    write("fulltable", content, rows)

    # A sub-image placed by its descriptor inside a larger screen.
    sub = [[10 * r + c for c in range(4)] for r in range(3)]
    content = screen(b"GIF89a", 9, 8, table_bits=7) + image(sub, left=3, top=2) + TRAILER
    write("positioned", content, compose(9, 8, [(sub, 3, 2)]))

    # A full frame, then a positioned frame drawn over part of it.
    full = [[(r + c) % 7 for c in range(6)] for r in range(5)]
    patch = [[200, 201], [202, 203]]
    content = (screen(b"GIF89a", 6, 5, table_bits=7) + graphic_control() + image(full)
               + graphic_control() + image(patch, left=4, top=3) + TRAILER)
    write("twoframes", content, compose(6, 5, [(full, 0, 0), (patch, 4, 3)]))

    # Refused files.
    write("outside", screen(b"GIF89a", 9, 8) + image(sub, left=6, top=2) + TRAILER)
    write("badgce", screen(b"GIF89a", 7, 5) + graphic_control(terminator=7) + image(full) + TRAILER)
    write("badextension", screen(b"GIF89a", 7, 5) + b"\x21\x2A\x00" + image(full) + TRAILER)
    write("badblock", screen(b"GIF89a", 7, 5) + b"\x77" + image(full) + TRAILER)
    # Codes: clear, 1, then 7 while the next free code is 6 (minimum size 2).
    bad = raw_codes([4, 1, 7, 5], 2)
    write("badcode", screen(b"GIF89a", 3, 1) + image([[1, 1, 1]], min_size=2, data=bad) + TRAILER)
    # The end code after 2 of 12 pixels.
    short = raw_codes([4, 1, 2, 5], 2)
    write("shortdata", screen(b"GIF89a", 4, 3) + image([[0] * 4] * 3, min_size=2, data=short) + TRAILER)
    write("noimage", screen(b"GIF89a", 4, 3) + comment("nothing here") + TRAILER)
    write("hugescreen", screen(b"GIF89a", 65535, 65535) + TRAILER)
    write("emptyscreen", screen(b"GIF89a", 0, 3) + TRAILER)
    write("badversion", screen(b"GIF88a", 7, 5) + image(full) + TRAILER)


if __name__ == "__main__":
    main()
