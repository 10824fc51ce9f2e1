#!/usr/bin/env python3
"""Assembles quorvane.ico from the icon PNGs: 48, 32, 24 and 16 pixels at 4 and at 8 bits per
pixel, then 256, 48, 32, 24 and 16 pixels at 32 bits per pixel (the 256 one stored as PNG).
ImageMagick reduces the colours; the images are written here so that every bit depth is exactly
the one asked for. Run by resources/icons/make-icons.sh."""
import struct
import subprocess
import sys
from pathlib import Path

ICONS = Path(__file__).resolve().parent.parent / "icons"
LAYOUT = [(s, 4) for s in (48, 32, 24, 16)] + [(s, 8) for s in (48, 32, 24, 16)] + \
         [(s, 32) for s in (256, 48, 32, 24, 16)]


def pixels(png, *options):
    """The image's pixels as RGBA bytes, top row first."""
    return subprocess.run(["convert", str(png), *options, "-depth", "8", "rgba:-"],
                          check=True, capture_output=True).stdout


def rows_bottom_up(data, size, row_bytes):
    return b"".join(data[y * row_bytes:(y + 1) * row_bytes] for y in reversed(range(size)))


def pad(row):
    return row + b"\0" * (-len(row) % 4)


def and_mask(rgba, size):
    """1 where the pixel is transparent."""
    rows = []
    for y in range(size):
        bits = bytearray((size + 7) // 8)
        for x in range(size):
            if rgba[(y * size + x) * 4 + 3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        rows.append(pad(bytes(bits)))
    return b"".join(reversed(rows))


def dib(size, bpp):
    png = ICONS / f"quorvane-{size}.png"
    rgba = pixels(png)
    header_size = 40
    if bpp == 32:
        bgra = bytearray()
        for i in range(0, len(rgba), 4):
            r, g, b, a = rgba[i:i + 4]
            bgra += bytes((b, g, r, a))
        xor = rows_bottom_up(bytes(bgra), size, size * 4)
        palette = b""
        colours = 0
    else:
        count = 1 << bpp
        # Transparent pixels are masked out, so they take the colour of the background they sit on.
        quantised = pixels(png, "-background", "white", "-alpha", "remove", "+dither",
                           "-colors", str(count))
        table = []
        indices = []
        for i in range(0, len(quantised), 4):
            colour = quantised[i:i + 3]
            if colour not in table:
                table.append(colour)
            indices.append(table.index(colour))
        if len(table) > count:
            sys.exit(f"{png}: {len(table)} colours do not fit in {bpp} bits")
        table += [b"\0\0\0"] * (count - len(table))
        palette = b"".join(bytes((c[2], c[1], c[0], 0)) for c in table)
        rows = []
        for y in range(size):
            row = indices[y * size:(y + 1) * size]
            if bpp == 4:
                row = row + [0] * (len(row) % 2)
                packed = bytes((row[x] << 4) | row[x + 1] for x in range(0, len(row), 2))
            else:
                packed = bytes(row)
            rows.append(pad(packed))
        xor = b"".join(reversed(rows))
        colours = count
    mask = and_mask(rgba, size)
    header = struct.pack("<IiiHHIIiiII", header_size, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, colours, 0)
    return header + palette + xor + mask


def main(target):
    images = []
    for size, bpp in LAYOUT:
        data = (ICONS / "quorvane-256.png").read_bytes() if size == 256 else dib(size, bpp)
        images.append((size, bpp, data))
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for size, bpp, data in images:
        colour_count = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colour_count, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    Path(target).write_bytes(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent / "quorvane.ico")
