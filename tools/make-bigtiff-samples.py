#!/usr/bin/python3
# Writes tests/data/exif/bigtiff-*.tif: tiny TIFF files of 64-bit offsets (BigTIFF) tagged as a
# camera tags its photos, in both byte orders, and one whose metadata is damaged in the ways a
# hostile file damages it (a count that runs past the end, a directory that points back at
# another, a directory of absurdly many entries, a 64-bit value that fits no classic tag), for
# the Info panel's tests. The metadata tools cannot write BigTIFF, so the bytes are laid here.
# The tests read the committed files; this script is only needed to make them again.
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'data', 'exif')
WIDTH, HEIGHT = 8, 6
PIXELS = bytes((x * 30) % 256 for x in range(WIDTH * HEIGHT * 3))

# (tag, type, values): A text, H short, L long, R rational, r signed rational, Q 64-bit long.
PAGE = [(0x010F, 'A', 'Kestrel Optics'), (0x0110, 'A', 'KX-9 Scan'), (0x0112, 'H', [6])]
EXIF = [(0x829A, 'R', [(1, 500)]), (0x829D, 'R', [(56, 10)]), (0x8827, 'H', [800]),
        (0x9003, 'A', '2021:05:04 10:11:12'), (0x9204, 'r', [(-1, 3)]), (0x920A, 'R', [(240, 10)]),
        (0x9209, 'H', [9]), (0x9207, 'H', [3]), (0x8822, 'H', [2]), (0xA403, 'H', [1]),
        (0x9203, 'r', [(-25, 100)]), (0xA408, 'H', [0]), (0xA409, 'H', [0]), (0xA434, 'A', 'KX 24mm F5.6')]
GPS = [(1, 'A', 'S'), (2, 'R', [(33, 1), (51, 1), (2448, 100)]), (3, 'A', 'W'),
       (4, 'R', [(151, 1), (12, 1), (5508, 100)])]
CODES = {'A': (2, 1), 'H': (3, 2), 'L': (4, 4), 'R': (5, 8), 'r': (10, 8), 'Q': (16, 8)}


def values(order, kind, vals):
    if kind == 'A':
        data = vals.encode() + b'\0'
        return len(data), data
    if kind in 'Rr':
        fmt = 'II' if kind == 'R' else 'ii'
        return len(vals), b''.join(struct.pack(order + fmt, a, b) for a, b in vals)
    fmt = {'H': 'H', 'L': 'I', 'Q': 'Q'}[kind]
    return len(vals), b''.join(struct.pack(order + fmt, v) for v in vals)


def bigtiff(order, page, exif, gps, damage=None):
    out = bytearray((b'II' if order == '<' else b'MM') + struct.pack(order + 'HHHQ', 43, 8, 0, 16))
    fields = {}  # (directory, tag) -> offset of its count field

    def directory(name, entries):
        entries = sorted(entries, key=lambda e: e[0])
        start = len(out)
        out.extend(struct.pack(order + 'Q', len(entries)))
        later = []
        for tag, kind, vals in entries:
            code, _ = CODES[kind]
            count, data = values(order, kind, vals)
            fields[(name, tag)] = len(out) + 4
            out.extend(struct.pack(order + 'HHQ', tag, code, count))
            if len(data) <= 8:
                out.extend(data + b'\0' * (8 - len(data)))
            else:
                later.append((len(out), data))
                out.extend(b'\0' * 8)
        out.extend(b'\0' * 8)
        for at, data in later:
            struct.pack_into(order + 'Q', out, at, len(out))
            out.extend(data)
        return start

    layout = [(0x0100, 'H', [WIDTH]), (0x0101, 'H', [HEIGHT]), (0x0102, 'H', [8, 8, 8]), (0x0103, 'H', [1]),
              (0x0106, 'H', [2]), (0x0111, 'Q', [0]), (0x0115, 'H', [3]), (0x0116, 'H', [HEIGHT]),
              (0x0117, 'Q', [len(PIXELS)]), (0x8769, 'Q', [0]), (0x8825, 'Q', [0])]
    first = directory('page', page + layout)
    exif_at = directory('exif', exif)
    gps_at = directory('gps', gps)
    pixels_at = len(out)
    out.extend(PIXELS)

    def set_value(name, tag, value):
        struct.pack_into(order + 'Q', out, fields[(name, tag)] + 8, value)

    set_value('page', 0x0111, pixels_at)
    set_value('page', 0x8769, exif_at)
    set_value('page', 0x8825, gps_at)
    if damage:
        damage(out, fields, set_value, first, exif_at)
    return bytes(out)


def hostile(out, fields, set_value, first, exif_at):
    order = '<'
    # The model's text runs past the end of the file.
    struct.pack_into(order + 'Q', out, fields[('page', 0x0110)], 0x7FFFFFFF)
    # The lens's text says it lies far past the end.
    set_value('exif', 0xA434, 1 << 62)
    # The position's directory is the EXIF directory again.
    set_value('page', 0x8825, exif_at)
    # An ISO of 64 bits that no classic tag holds.
    struct.pack_into(order + 'HHQQ', out, fields[('exif', 0x8827)] - 4, 0x8827, 16, 1, 1 << 40)


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, order in (('bigtiff-little-endian.tif', '<'), ('bigtiff-big-endian.tif', '>')):
        with open(os.path.join(OUT, name), 'wb') as f:
            f.write(bigtiff(order, PAGE, EXIF, GPS))
    with open(os.path.join(OUT, 'bigtiff-damaged-metadata.tif'), 'wb') as f:
        f.write(bigtiff('<', PAGE, EXIF, GPS, hostile))


if __name__ == '__main__':
    main()
