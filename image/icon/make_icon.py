#!/usr/bin/env python3
"""Draws the program icon and writes it as a Windows .ico, plus a preview.

    image/icon/make_icon.py            writes image/icon/tolvarin.ico and
                                       docs/icon-preview.png
    image/icon/make_icon.py OUT_DIR    writes both into OUT_DIR instead

The artwork is drawn here, from shapes: a photo tile with a sky, a sun and two
hills. Every image is a device-independent bitmap, in the order, sizes and
depths the executable carries:

    16x16 4-bit, 32x32 4-bit, 16, 32, 48 8-bit, 16, 32, 48, 128, 256 32-bit

The 4- and 8-bit images get a palette made from their own colours (median
cut) with black kept at index 0 for the transparent pixels; every image has a
1-bit AND mask. Only the Python standard library is used, and the output is
the same on every run.
"""
import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

IMAGES = [(16, 4), (32, 4), (16, 8), (32, 8), (48, 8),
          (16, 32), (32, 32), (48, 32), (128, 32), (256, 32)]

# Colours, as (r, g, b).
SKY_TOP = (132, 206, 255)
SKY_BOTTOM = (38, 120, 222)
OUTLINE = (22, 66, 140)
SUN_CORE = (255, 226, 92)
SUN_EDGE = (255, 170, 20)
HILL_BACK = (34, 112, 84)
SNOW = (244, 250, 255)
HILL_FRONT = (86, 184, 92)
HILL_FRONT_SHADE = (60, 150, 70)


def mix(a, b, t):
    t = min(1.0, max(0.0, t))
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def rounded_box_distance(u, v, radius):
    """Signed distance from (u, v) to the unit box with rounded corners."""
    qx = abs(u - 0.5) - (0.5 - radius)
    qy = abs(v - 0.5) - (0.5 - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def inside_polygon(u, v, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > v) != (yj > v) and u < (xj - xi) * (v - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


BACK_RANGE = [(-0.1, 0.80), (0.20, 0.54), (0.33, 0.64), (0.56, 0.36),
              (0.84, 0.72), (1.1, 0.60), (1.1, 1.1), (-0.1, 1.1)]
SNOW_CAP = [(0.56, 0.36), (0.628, 0.447), (0.60, 0.43), (0.575, 0.46),
            (0.545, 0.435), (0.515, 0.455), (0.496, 0.436)]


def colour_at(u, v, outline_width):
    """The artwork's colour at (u, v) of the tile, or None outside it."""
    edge = rounded_box_distance(u, v, 0.2)
    if edge > 0.0:
        return None
    if edge > -outline_width:
        return OUTLINE
    front = 0.74 + 0.20 * (u - 0.22) ** 2
    if v >= front:
        return mix(HILL_FRONT, HILL_FRONT_SHADE, (v - front) * 5)
    if inside_polygon(u, v, SNOW_CAP):
        return SNOW
    if inside_polygon(u, v, BACK_RANGE):
        return HILL_BACK
    sun = math.hypot(u - 0.70, v - 0.29)
    if sun <= 0.12:
        return mix(SUN_CORE, SUN_EDGE, (sun / 0.12) ** 2)
    return mix(SKY_TOP, SKY_BOTTOM, v)


def render(size):
    """RGBA rows, top-down, supersampled for smooth edges."""
    margin = round(size / 32)
    span = size - 2 * margin
    outline_width = max(1.0, size / 40) / span
    grid = 4 if size >= 48 else 8
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0.0
            for sy in range(grid):
                for sx in range(grid):
                    u = (x + (sx + 0.5) / grid - margin) / span
                    v = (y + (sy + 0.5) / grid - margin) / span
                    colour = colour_at(u, v, outline_width)
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        a += 1
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a),
                            round(255 * a / grid ** 2)))
        rows.append(row)
    return rows


def median_cut(colours, count):
    """A palette of at most count colours for the (r, g, b) of every pixel,
    so that colours covering more pixels weigh more."""
    boxes = [sorted(colours)]
    while len(boxes) < count:
        boxes.sort(key=lambda box: -max(
            max(c[i] for c in box) - min(c[i] for c in box) for i in range(3))
            if len(box) > 1 else 1)
        box = boxes.pop(0)
        if len(set(box)) < 2:
            boxes.append(box)
            break
        axis = max(range(3), key=lambda i: max(c[i] for c in box) -
                   min(c[i] for c in box))
        box.sort(key=lambda c: c[axis])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    return [tuple(round(sum(c[i] for c in box) / len(box)) for i in range(3))
            for box in boxes if box]


def nearest(palette, colour):
    return min(range(len(palette)), key=lambda i: sum(
        (p - c) ** 2 for p, c in zip(palette[i], colour)))


def flatten(pixel):
    """Pixels of the 4- and 8-bit images are opaque or transparent."""
    r, g, b, a = pixel
    return None if a < 128 else (r, g, b)


def row_bytes(bits, width):
    return (bits * width + 31) // 32 * 4


def pack_bits(values, bits, width):
    out = bytearray(row_bytes(bits, width))
    for x, value in enumerate(values):
        bit = x * bits
        out[bit // 8] |= value << (8 - bits - bit % 8)
    return bytes(out)


def bitmap(rows, bits):
    """BITMAPINFOHEADER, palette, XOR image and AND mask of one icon image."""
    size = len(rows)
    mask_rows = [[1 if (p[3] == 0 if bits == 32 else flatten(p) is None)
                  else 0 for p in row] for row in rows]
    palette = []
    if bits == 32:
        xor_rows = [b"".join(struct.pack("<4B", p[2], p[1], p[0], p[3])
                             for p in row) for row in rows]
    else:
        opaque = [flatten(p) for row in rows for p in row]
        palette = [(0, 0, 0)] + median_cut(
            [c for c in opaque if c is not None], (1 << bits) - 1)
        xor_rows = [pack_bits([0 if flatten(p) is None
                               else nearest(palette, flatten(p)) for p in row],
                              bits, size) for row in rows]
        palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
    xor = b"".join(reversed(xor_rows))
    mask = b"".join(reversed([pack_bits(m, 1, size) for m in mask_rows]))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colours = b"".join(struct.pack("<4B", c[2], c[1], c[0], 0)
                       for c in palette)
    return header + colours + xor + mask


def write_ico(images):
    """images: list of (size, bits, bitmap bytes)."""
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    data = b""
    for size, bits, image in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256,
                                 16 if bits == 4 else 0, 0, 1, bits,
                                 len(image), offset + len(data))
        data += image
    return directory + data


def decode(image):
    """Back from a bitmap to RGBA rows: the preview shows what the file holds."""
    _, width, height, _, bits, *_ = struct.unpack_from("<IiiHHIIiiII", image)
    size = height // 2
    colours = 0 if bits == 32 else 1 << bits
    palette = [struct.unpack_from("<4B", image, 40 + 4 * i)
               for i in range(colours)]
    xor_at = 40 + 4 * colours
    mask_at = xor_at + row_bytes(bits, width) * size
    rows = []
    for y in range(size):
        line = image[xor_at + row_bytes(bits, width) * (size - 1 - y):]
        mask = image[mask_at + row_bytes(1, width) * (size - 1 - y):]
        row = []
        for x in range(width):
            masked = mask[x // 8] >> (7 - x % 8) & 1
            if bits == 32:
                b, g, r, a = line[4 * x:4 * x + 4]
            else:
                value = line[x * bits // 8] >> (8 - bits - x * bits % 8)
                b, g, r, _ = palette[value & ((1 << bits) - 1)]
                a = 0 if masked else 255
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def write_png(path, rows):
    width, height = len(rows[0]), len(rows)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6,
                                             0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def preview(images):
    """Every image of the icon at its own size, and the 16 and 32 pixel ones
    enlarged 8 times, on a light background."""
    decoded = [(size, bits, decode(image)) for size, bits, image in images]
    enlarged = [d for d in decoded if d[0] <= 32]
    width = 16 + max(sum(s + 16 for s, _, _ in decoded),
                     sum(8 * s + 16 for s, _, _ in enlarged))
    height = 16 + 256 + 16 + max(8 * s for s, _, _ in enlarged) + 16
    canvas = [[(240, 240, 240, 255)] * width for _ in range(height)]

    def paste(rows, left, top, scale):
        for y, row in enumerate(rows):
            for x, (r, g, b, a) in enumerate(row):
                for dy in range(scale):
                    for dx in range(scale):
                        bg = canvas[top + y * scale + dy][left + x * scale + dx]
                        canvas[top + y * scale + dy][left + x * scale + dx] = (
                            *[round(c * a / 255 + k * (255 - a) / 255)
                              for c, k in zip((r, g, b), bg[:3])], 255)

    left = 16
    for size, _, rows in decoded:
        paste(rows, left, 16 + 256 - size, 1)
        left += size + 16
    left = 16
    for size, _, rows in enlarged:
        paste(rows, left, 16 + 256 + 16, 8)
        left += 8 * size + 16
    return canvas


def main(out_dir=None):
    ico_path = os.path.join(out_dir or HERE, "tolvarin.ico")
    preview_path = os.path.join(out_dir or os.path.join(ROOT, "docs"),
                                "icon-preview.png")
    renders = {}
    images = []
    for size, bits in IMAGES:
        if size not in renders:
            renders[size] = render(size)
        images.append((size, bits, bitmap(renders[size], bits)))
    with open(ico_path, "wb") as out:
        out.write(write_ico(images))
    os.makedirs(os.path.dirname(preview_path), exist_ok=True)
    write_png(preview_path, preview(images))
    print(f"wrote {ico_path} and {preview_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else None))
