#!/usr/bin/env python3
"""Writes the seed corpus of the live map's, the characters' and the player's save-part fuzz target.

Each seed is three selector bytes (part, format index, UTF-8 flag; see WorldSaveFuzzEntry.h)
followed by a save part in the layout of that format.
Usage: make-save-seeds.py OUTPUT_FOLDER
"""
import struct
import sys
from pathlib import Path

FORMATS = [99, 104, 105, 112, 114, 115, 120, 133, 137, 138, 139, 140]


def i8(v):
    return struct.pack("<B", v & 0xFF)


def i16(v):
    return struct.pack("<h", v)


def i32(v):
    return struct.pack("<i", v)


def short_text(t):
    b = t.encode()
    return i16(len(b) + 1) + b + b"\0"


def long_text(t):
    b = t.encode()
    return i32(len(b) + 1) + b + b"\0"


def route(commands):
    out = bytes([3, 3, 3, 0, 3, 2]) + i32(len(commands))
    for code, args in commands:
        out += bytes([code, len(args)]) + b"".join(i32(a) for a in args) + bytes([1, 0])
    return out


def character(fmt, cid, x, y, name, overlays=()):
    out = i32(cid) + i32(x) + i32(y) + i32(0) + i8(0) + i32(-1) + short_text(name)
    out += i16(255) + i16(0) + i16(2) + i16(1) + i8(0) + i8(0)
    out += route([(1, []), (40, [3, 4])]) + route([])
    out += i16(0) + i16(3) + i16(6) + i16(2) + i16(0) + i16(0) + bytes(3)
    out += i32(1) + i32(77)
    if fmt >= 112:
        out += bytes([1, 0])
    if fmt >= 115:
        out += i32(0x123456) + i32(4) + i32(1) + i32(0)
    if fmt >= 120:
        out += i32(1)
    if fmt >= 133:
        out += i32(10) + i32(5) + i32(2)
    if fmt >= 138:
        out += i16(len(overlays)) + b"".join(short_text(o) for o in overlays)
        out += i32(0) + i8(0) + i32(3) + i32(0)
    if fmt >= 139:
        out += i32(0)
    if fmt >= 140:
        out += i16(1) + i16(2)
    return out


def map_part(fmt, omit_layers=False):
    w, h = 3, 2
    out = i32(1) + i32(8) + i32(0)
    if fmt >= 105:
        out += i32(w) + i32(h)
        if omit_layers:
            out += i32(-1)
        else:
            for layer in range(3):
                for cell in range(w * h):
                    out += i32([cell, 100000, 200000 + cell][layer])
    names = 7 if fmt < 115 else 15 if fmt < 138 else 31
    out += long_text("Base.png") + b"".join(long_text("A%d.png" % i) for i in range(names))
    flags = [0, 0xF, 0x20 | 0x5, 0x200, 0x10, 0x40, 0x80] * 8
    out += i32(len(flags))
    out += b"".join(i8(f) if fmt <= 99 else i32(f) for f in flags)
    events = [character(fmt, 0, 2, 2, "Hero.png", ("Hat.png",)), character(fmt, 1, 4, 0, "")]
    out += i32(len(events)) + b"".join(events)
    if fmt >= 114:
        out += b"".join(i32(v) for v in (1, 2, 3, 4, 150, 100, 8, 3, 2, 3, 120))
    out += i32(2) + i32(5) + i32(-5)
    return out


def player_part(fmt):
    out = character(fmt, -2, 10, 12, "")
    out += i32(5) + b"".join(character(fmt, -3 - i, 10, 12, "") for i in range(5))
    out += i8(0) + i8(1)
    steps = [2, 2, 6, 0, 0]
    out += i32(len(steps)) + b"".join(i32(d) for d in steps)
    if fmt >= 138:
        trail = [(3, 0), (0, -2)]
        out += i32(len(trail)) + b"".join(i32(dx) + i32(dy) for dx, dy in trail)
    return out


def main():
    folder = Path(sys.argv[1])
    folder.mkdir(parents=True, exist_ok=True)
    for index, fmt in enumerate(FORMATS):
        (folder / ("map-%d" % fmt)).write_bytes(bytes([0, index, 1]) + map_part(fmt))
        (folder / ("character-%d" % fmt)).write_bytes(
            bytes([1, index, fmt % 2]) + character(fmt, 3, 5, 6, "DoorT.png", ("A.png", "", "B.png")))
        (folder / ("player-%d" % fmt)).write_bytes(bytes([2, index, 1]) + player_part(fmt))
    (folder / "map-140-no-layers").write_bytes(bytes([0, 11, 1]) + map_part(140, True))


if __name__ == "__main__":
    main()
