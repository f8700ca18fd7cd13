"""A display for windowed programs under Wine: an X server of the tests' own
(Xvfb, on a free display, its screen in a file), keys typed with xdotool,
what the windows show read with uiprobe.exe, and the screen as a picture.
Wine draws its windows, frames included, on a virtual desktop of its own
that fills the screen, so that no window manager is needed."""
import os
import struct
import subprocess
import tempfile
import time

import wine

WIDTH, HEIGHT = 800, 600


class Display:
    """An X server of its own: started on a free display, ended by its
    process id. Fails with the reason when it cannot start."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="tolvarin-display-")
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0",
             f"{WIDTH}x{HEIGHT}x24", "-fbdir", self.folder, "-nolisten",
             "tcp"], pass_fds=(write,), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        os.close(write)
        with os.fdopen(read) as number:
            found = number.readline().strip()
        if not found:
            reason = self.server.communicate(timeout=30)[1].decode()
            raise RuntimeError(f"Xvfb did not start: {reason}")
        self.name = ":" + found
        self.screen = os.path.join(self.folder, "Xvfb_screen0")

    def close(self):
        self.server.terminate()
        self.server.wait(timeout=30)
        for name in os.listdir(self.folder):
            os.remove(os.path.join(self.folder, name))
        os.rmdir(self.folder)

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool"] + list(arguments),
                              env=dict(os.environ, DISPLAY=self.name),
                              capture_output=True, text=True,
                              check=True).stdout

    def keys(self, *keys):
        """Types keys into the window that has the focus on Wine's desktop."""
        desktop = self.xdotool("search", "--name", "Wine desktop").split()[0]
        self.xdotool("windowfocus", "--sync", desktop)
        self.xdotool("key", "--delay", "50", *keys)

    def click(self, control):
        """Clicks the middle of a control (as uiprobe.exe reads it): Wine's
        desktop fills the screen, so its coordinates are the screen's."""
        left, top, right, bottom = control["rect"]
        self.xdotool("mousemove", str((left + right) // 2),
                     str((top + bottom) // 2), "click", "1")

    def type(self, text):
        self.xdotool("type", "--delay", "10", text)

    def picture(self, rect):
        """Rows of RGB pixels of the screen within (left, top, right,
        bottom), read from the X server's screen file (XWD), with the
        pointer out of the way. (Wine gives the keyboard to the window
        under the pointer, so it goes back after.)"""
        self.xdotool("mousemove", str(WIDTH - 1), str(HEIGHT - 1))
        with open(self.screen, "rb") as f:
            data = f.read()
        self.xdotool("mousemove", str(WIDTH // 2), str(HEIGHT // 2))
        fields = struct.unpack(">25I", data[:100])
        header_size, width = fields[0], fields[4]
        bits, stride, colours = fields[11], fields[12], fields[19]
        assert bits == 32 and fields[7] == 0, fields  # LSBFirst
        pixels = header_size + 12 * colours
        left, top, right, bottom = rect
        rows = []
        for y in range(top, bottom):
            start = pixels + y * stride
            row = data[start + 4 * left:start + 4 * min(right, width)]
            # Little-endian BGRX
            rows.append([(row[i + 2], row[i + 1], row[i])
                         for i in range(0, len(row), 4)])
        return rows


def use_virtual_desktop(prefix):
    """Every program of the prefix runs on Wine's own desktop."""
    for key, value, data in (
            ("HKCU\\Software\\Wine\\Explorer", "Desktop", "Default"),
            ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default",
             f"{WIDTH}x{HEIGHT}")):
        status, out = prefix.run("reg", "add", key, "/v", value, "/d", data,
                                 "/f")
        assert status == 0, out


class Windows:
    """What the visible windows of a prefix show, through uiprobe.exe."""

    def __init__(self, prefix, display, uiprobe):
        self.prefix = prefix
        self.display = display
        self.uiprobe = uiprobe

    def read(self, fit=False, show=None):
        """The windows; with fit, each measured control's "fit" too; with
        show=(control, text), after that control shows that text."""
        arguments = ["fit"] if fit else []
        if show:
            path = os.path.join(self.prefix.drive_c, "uiprobe-text.txt")
            with open(path, "w", encoding="utf-8") as f:
                f.write(show[1])
            arguments += ["set", str(show[0]["handle"]),
                          self.prefix.windows(path)]
        return self.prefix.read_json(self.uiprobe, *arguments, extra_env={
            "DISPLAY": self.display.name})

    def wait_for(self, text, seconds=30, other_than=None):
        """The first window showing a control with this text (other than
        the window given), waiting for it a bounded time; its controls'
        texts are in ["texts"]."""
        deadline = time.monotonic() + seconds
        while True:
            for window in self.read():
                texts = [c["text"] for c in window["controls"]]
                if any(text in t for t in texts) and (
                        other_than is None or
                        window["handle"] != other_than["handle"]):
                    window["texts"] = texts
                    return window
            if time.monotonic() > deadline:
                raise AssertionError(f"no window shows {text!r}: "
                                     f"{self.read()}")
            time.sleep(0.2)

    def control(self, window, text):
        return next(c for c in window["controls"] if c["text"] == text)


class Program:
    """A windowed program started under Wine on the display, in the
    background; its exit code once it ends."""

    def __init__(self, prefix, display, *arguments, extra_env=None):
        self.process = subprocess.Popen(
            wine.command(*arguments),
            env=wine.environment(dict(prefix.env, DISPLAY=display.name,
                                      **(extra_env or {}))),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)

    def status(self, seconds=60):
        return self.process.wait(timeout=seconds)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
