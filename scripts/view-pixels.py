#!/usr/bin/python3
"""Counts the pixels of a screenshot in given colours, for scripts/check-view.sh.

    view-pixels.py SHOT.png [--region X0,Y0,X1,Y1] NAME=#RRGGBB:MIN ...

A pixel counts for a colour when its hue lies within 20 degrees of the
colour's and it is clearly coloured (saturation above 0.12: a mesh drawn
see-through over the light background is still that saturated, the
background, the panels and the text are not). Shading changes brightness,
not hue, so one named colour covers a lit mesh. Exits 1, naming the colour,
when fewer than MIN pixels of the region have it. Reads 8-bit RGB or RGBA
PNGs without interlacing (what Chromium writes), with the standard library
alone.
"""
import colorsys
import struct
import sys
import zlib


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                sys.exit(f"{path}: only 8-bit RGB(A) PNGs without interlacing are read")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(row)
        previous = row
    return width, height, channels, rows


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    path, args = argv[1], argv[2:]
    width, height, channels, rows = read_png(path)
    region = (0, 0, width, height)
    wanted = []
    i = 0
    while i < len(args):
        if args[i] == "--region":
            region = tuple(int(v) for v in args[i + 1].split(","))
            i += 2
            continue
        name, rule = args[i].split("=")
        colour, least = rule.split(":")
        r, g, b = (int(colour[k:k + 2], 16) / 255 for k in (1, 3, 5))
        wanted.append((name, colorsys.rgb_to_hsv(r, g, b)[0] * 360, int(least)))
        i += 1
    counts = [0] * len(wanted)
    x0, y0, x1, y1 = region
    for y in range(max(0, y0), min(height, y1)):
        row = rows[y]
        for x in range(max(0, x0), min(width, x1)):
            r, g, b = (row[channels * x + k] / 255 for k in range(3))
            h, s, v = colorsys.rgb_to_hsv(r, g, b)
            if s <= 0.12 or v < 0.25:
                continue
            for k, (_, hue, _) in enumerate(wanted):
                d = abs(h * 360 - hue)
                if min(d, 360 - d) <= 20:
                    counts[k] += 1
    failed = False
    for (name, _, least), n in zip(wanted, counts):
        print(f"  {name}: {n} pixels (at least {least})")
        failed = failed or n < least
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
