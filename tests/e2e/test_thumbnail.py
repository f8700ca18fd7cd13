"""The sample library's satellite mode: Tolvarin.exe /SATELLITE <picture>
<thumbnail> writes a JPEG thumbnail through the Windows Imaging Component,
inside the COM apartment the launcher opened."""
import os
import unittest

import pictures
from harness import AVX, GENERIC, SAMPLE_DIR, Installation

# Blanks and characters outside any single-byte code page.
FOLDER = "photos ü 写真 2026"


class Thumbnail(unittest.TestCase):

    def setUp(self):
        self.app = Installation()
        self.addCleanup(self.app.remove)
        self.app.put_both(os.path.join(SAMPLE_DIR, GENERIC),
                          os.path.join(SAMPLE_DIR, AVX))
        self.folder = os.path.join(self.app.sandbox, FOLDER)
        os.makedirs(self.folder)

    def write(self, name, data):
        with open(os.path.join(self.folder, name), "wb") as out:
            out.write(data)

    def satellite(self, *arguments):
        """Runs the satellite mode from the pictures' folder."""
        return self.app.run(["/SATELLITE", *arguments], cwd=self.folder)

    def test_thumbnails(self):
        # format, picture size, thumbnail size, switches
        table = [(pictures.png, (320, 200), (256, 160), []),
                 (pictures.tiff, (100, 50), (100, 50), []),
                 (pictures.tiff, (200, 320), (160, 256), ["/NOAVX"]),
                 (pictures.png, (1024, 1024), (256, 256), [])]
        for write, (width, height), expected, switches in table:
            with self.subTest(format=write.__name__, size=(width, height)):
                source = f"picture {width}x{height}.{write.__name__}"
                thumbnail = f"thumbnail {width}x{height} ü.jpg"
                self.write(source, write(pictures.quadrants(width, height)))
                self.write(thumbnail, b"an older thumbnail")  # replaced
                run = self.satellite(source, *switches, thumbnail)
                self.assertEqual(run.status, 0, run.stderr)
                self.assertEqual(run.stderr, "")
                self.assertEqual(
                    run.stdout, f"Thumbnail {expected[0]} x {expected[1]} of "
                    f"a {width} x {height} picture: {thumbnail}\n")
                path = os.path.join(self.folder, thumbnail)
                with open(path, "rb") as jpeg:
                    self.assertEqual(pictures.jpeg_size(jpeg.read()),
                                     expected)
                self.assertQuadrants(pictures.jpeg_pixels(path))
        # Nothing but the pictures and their thumbnails: no temporary file.
        self.assertEqual(len(os.listdir(self.folder)), 2 * len(table))

    def assertQuadrants(self, rows):
        """Each quarter's centre keeps its colour, within JPEG's error."""
        height, width = len(rows), len(rows[0])
        for (x, y), colour in (((1, 1), (255, 0, 0)), ((3, 1), (0, 160, 0)),
                               ((1, 3), (0, 0, 255)),
                               ((3, 3), (255, 255, 255))):
            pixel = rows[y * height // 4][x * width // 4]
            for got, wanted in zip(pixel, colour):
                self.assertLess(abs(got - wanted), 24, (x, y, pixel))

    def test_bad_input_leaves_nothing_behind(self):
        self.write("picture.png", pictures.png(pictures.quadrants(32, 20)))
        self.write("notes.png", b"not a picture at all\n")
        # Its header is whole, so decoding starts and writing fails.
        whole = pictures.tiff(pictures.quadrants(320, 200))
        self.write("cut short.tif", whole[:len(whole) // 2])
        os.makedirs(os.path.join(self.folder, "a folder"))
        before = sorted(os.listdir(self.folder))
        table = [
            (["missing.png", "t.jpg"], 'Cannot read the picture "missing.png"'),
            (["notes.png", "t.jpg"], 'Cannot read the picture "notes.png"'),
            (["cut short.tif", "t.jpg"],
             'Cannot write the thumbnail "t.jpg" of "cut short.tif"'),
            (["picture.png", "no such folder\\t.jpg"],
             'Cannot write the thumbnail "no such folder\\t.jpg"'),
            (["picture.png", "a folder"],
             'Cannot write the thumbnail "a folder"'),
            (["picture.png"], "Tolvarin.exe /SATELLITE <picture> <thumbnail>"),
            ([], "Tolvarin.exe /SATELLITE <picture> <thumbnail>"),
        ]
        for arguments, message in table:
            with self.subTest(arguments=arguments):
                run = self.satellite(*arguments)
                # The launcher's own status: the entry point ran.
                self.assertEqual(run.status, 0)
                self.assertIn(message, run.stderr)
                self.assertEqual(run.stdout, "")
                self.assertEqual(sorted(os.listdir(self.folder)), before)
                self.assertEqual(
                    os.listdir(os.path.join(self.folder, "a folder")), [])


if __name__ == "__main__":
    unittest.main()
