#!/usr/bin/env python3
"""Makes the thumbnail picture of docs/application-library.md with the
sample application library.

    python3 docs/make_thumbnail_preview.py

draws a 640 x 400 landscape into docs/thumbnail-source.png, has the launcher
make its thumbnail under Wine (scripts/run-sample.sh /SATELLITE ...), decodes
that JPEG with djpeg and writes docs/thumbnail-preview.png: the source and
its thumbnail side by side, each at its own size. Only Python's standard
library and Debian's djpeg are used.
"""
import math
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import pictures  # noqa: E402

SOURCE = os.path.join("docs", "thumbnail-source.png")
THUMBNAIL = os.path.join("build", "thumbnail.jpg")
PREVIEW = os.path.join("docs", "thumbnail-preview.png")


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def landscape(width, height):
    """A sky, a sun, two hills and a lake that mirrors them."""
    horizon = height * 0.68

    def hill(x, base, amplitude, period, phase):
        return base - amplitude * math.sin(2 * math.pi * x / period + phase)

    def above(x, y):
        sun = math.hypot(x - width * 0.72, y - height * 0.28)
        if y > hill(x, horizon, height * 0.08, width * 0.9, 0.6):
            return mix((60, 120, 60), (40, 90, 50), (y - horizon) / height)
        if y > hill(x, horizon - height * 0.1, height * 0.1, width * 1.3, 2):
            return (110, 140, 170)
        if sun < height * 0.09:
            return (255, 236, 170)
        glow = max(0.0, 1 - sun / (height * 0.5)) ** 2
        sky = mix((70, 120, 200), (250, 190, 140), y / horizon)
        return mix(sky, (255, 220, 160), glow * 0.6)

    rows = []
    for y in range(height):
        if y < horizon + height * 0.04:
            rows.append([above(x, y) for x in range(width)])
        else:
            mirrored = 2 * (horizon + height * 0.04) - y
            rows.append([mix(above(x, mirrored), (30, 60, 110), 0.45)
                         for x in range(width)])
    return rows


def compose(left, right, margin=16, gap=24, background=(246, 246, 246)):
    """Both pictures on one canvas, bottom-aligned, each with a thin frame."""
    height = max(len(left), len(right)) + 2 * margin
    width = len(left[0]) + len(right[0]) + 2 * margin + gap
    canvas = [[background] * width for _ in range(height)]
    x = margin
    for rows in (left, right):
        top = height - margin - len(rows)
        for dy in range(-1, len(rows) + 1):
            for dx in range(-1, len(rows[0]) + 1):
                inside = 0 <= dy < len(rows) and 0 <= dx < len(rows[0])
                canvas[top + dy][x + dx] = (rows[dy][dx] if inside
                                            else (150, 150, 150))
        x += len(rows[0]) + gap
    return canvas


def main():
    os.chdir(ROOT)
    source = landscape(640, 400)
    with open(SOURCE, "wb") as out:
        out.write(pictures.png(source))
    if os.path.exists(THUMBNAIL):
        os.remove(THUMBNAIL)
    subprocess.run(["scripts/run-sample.sh", "/SATELLITE", SOURCE, THUMBNAIL],
                   check=True)
    with open(PREVIEW, "wb") as out:
        out.write(pictures.png(compose(source,
                                       pictures.jpeg_pixels(THUMBNAIL))))
    print(f"wrote {SOURCE} and {PREVIEW}")


if __name__ == "__main__":
    main()
