"""Pictures for the thumbnail tests, made and read with Python's standard
library: PNG and TIFF writers, the size in a JPEG header, and JPEG pixels
through Debian's djpeg."""
import re
import struct
import subprocess
import zlib


def quadrants(width, height):
    """Rows of RGB pixels: red, green, blue and white quarters, so that a
    thumbnail shows whether it kept orientation and channel order."""
    colours = [[(255, 0, 0), (0, 160, 0)], [(0, 0, 255), (255, 255, 255)]]
    return [[colours[2 * y // height][2 * x // width] for x in range(width)]
            for y in range(height)]


def png(rows):
    """An 8-bit RGB PNG file's bytes."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel)
                   for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0,
                                       0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def tiff(rows):
    """An uncompressed baseline RGB TIFF file's bytes, little-endian."""
    height, width = len(rows), len(rows[0])
    pixels = b"".join(bytes(c for pixel in row for c in pixel)
                      for row in rows)
    tags = 12
    ifd = 8
    extra = ifd + 2 + tags * 12 + 4        # bits per sample, resolutions
    data = extra + 6 + 16
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 3, extra),
               (259, 3, 1, 1), (262, 3, 1, 2), (273, 4, 1, data),
               (277, 3, 1, 3), (278, 4, 1, height),
               (279, 4, 1, len(pixels)), (282, 5, 1, extra + 6),
               (283, 5, 1, extra + 14), (296, 3, 1, 2)]
    assert len(entries) == tags
    out = b"II*\0" + struct.pack("<I", ifd) + struct.pack("<H", tags)
    for tag, kind, count, value in entries:
        packed = (struct.pack("<HH", value, 0) if kind == 3 and count == 1
                  else struct.pack("<I", value))
        out += struct.pack("<HHI", tag, kind, count) + packed
    out += struct.pack("<I", 0)
    out += struct.pack("<HHH", 8, 8, 8) + struct.pack("<IIII", 72, 1, 72, 1)
    return out + pixels


def jpeg_size(data):
    """(width, height) from a JPEG's start-of-frame header."""
    assert data[:2] == b"\xff\xd8", "not a JPEG file"
    at = 2
    while at + 4 <= len(data):
        if data[at] != 0xFF:
            raise ValueError(f"no marker at offset {at}")
        marker = data[at + 1]
        length = struct.unpack(">H", data[at + 2:at + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width = struct.unpack(">HH", data[at + 5:at + 9])
            return width, height
        at += 2 + length
    raise ValueError("no start-of-frame header")


def jpeg_pixels(path):
    """Rows of RGB pixels of a JPEG file, decoded by djpeg."""
    ppm = subprocess.run(["djpeg", "-pnm", path], capture_output=True,
                         check=True).stdout
    # One whitespace byte ends the header; the pixels may start with more.
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
    width, height = int(header[1]), int(header[2])
    pixels = ppm[header.end():]
    return [[tuple(pixels[3 * (y * width + x):3 * (y * width + x) + 3])
             for x in range(width)] for y in range(height)]
