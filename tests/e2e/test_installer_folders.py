"""The installation folder under Wine, however it is spelled: each spelling
installs into the one folder Windows reads it as, registers that folder and
uninstalls to nothing, or is refused with nothing changed; the length limit
to the character; and folders that hold more than Tolvarin (another
program's files, the user's empty folders) or are a link."""
import os
import re
import shutil
import unittest

from installer import EXIT, SHARE, STANDARD_USER, InstallerTestCase, tree

BAD_FOLDER, FOREIGN = EXIT["BAD_FOLDER"], EXIT["FOREIGN"]
# The longest path the installer makes below its folder.
LONGEST = len("\\Library\\TOLVARIN64avx.dll")


def folder_of_length(length):
    """A folder C:\\xxx...\\xxx of exactly length characters."""
    parts, left = [], length - len("C:")
    while left > 0:
        size = min(50, left - 1)
        if left - 1 - size == 1:  # no one-character remainder
            size -= 1
        parts.append("x" * size)
        left -= size + 1
    folder = "C:\\" + "\\".join(parts)
    assert len(folder) == length, (len(folder), length)
    return folder


class Folders(InstallerTestCase):

    def test_each_spelling_installs_into_the_folder_it_means(self):
        """Installed where Windows reads the spelling, registered there, and
        uninstalled to nothing by the registered command."""
        photo = "C:\\Photo\\Tolvarin"
        longest = folder_of_length(259 - LONGEST)
        # The short (8.3) name Wine gives C:\Program Files.
        _, out = self.prefix.run("cmd.exe", "/c", "dir", "/x", "C:\\")
        short = "C:\\" + re.search(r"(\S+~\S+) +Program Files\r?$", out,
                                   re.MULTILINE).group(1)
        table = [
            ("/D=C:\\Photo\\Tolvarin.", photo),
            ("/D=C:\\Photo\\\\Tolvarin", photo),
            ("/D=C:\\Photo/Tolvarin", photo),
            ("/D=C:/Photo/Tolvarin", photo),
            ("/D=//localhost/share/Tolvarin", SHARE + "\\Tolvarin"),
            ("/D=C:\\Photo\\.\\Setup\\..\\Tolvarin\\", photo),
            ('"/D=C:\\Photo Tools\\Tolvarin"', "C:\\Photo Tools\\Tolvarin"),
            ("/D=" + longest, longest),
            (f"/D={short}\\Tolvarin", "C:\\Program Files\\Tolvarin"),
        ]
        for switch, folder in table:
            with self.subTest(switch):
                host = self.prefix.host(folder)
                self.install(switch)
                self.assertInstalled(host)
                if folder.startswith(SHARE):
                    # Wine gives a program started from a share its path as
                    # \\?\UNC\..., which NSIS's start-up cannot read: the
                    # uninstaller cannot run there. Moved away instead.
                    self.install(folder=photo)
                    self.assertFalse(os.path.exists(host))
                    host = self.prefix.host(photo)
                self.assertEqual(self.uninstall(), host)
                self.assertNothingLeft(host)
        # Installed again and uninstalled through its short spelling.
        self.install()
        self.install(folder=f"{short}\\Tolvarin")
        self.assertInstalled(self.all.folder)
        self.assertEqual(self.prefix.spawn(
            f'"{short}\\Tolvarin\\Uninstall.exe" /S _?={short}\\Tolvarin'), 0)
        self.wait_for(lambda: not os.path.exists(self.all.folder), "the folder")
        self.assertNothingLeft(self.all.folder)
        for made in ("Photo", "Photo Tools", longest[3:].split("\\")[0]):
            shutil.rmtree(os.path.join(self.prefix.drive_c, made))

    def test_unusable_folders_are_refused_with_nothing_changed(self):
        self.install()
        tools = os.path.join(self.prefix.drive_c, "Photo Tools")
        os.makedirs(os.path.join(tools, "Other"))
        with open(os.path.join(tools, "Other", "Uninstall.exe"), "w") as f:
            f.write("another program's uninstaller\n")
        with open(os.path.join(tools, "a file"), "w") as f:
            f.write("not a folder\n")
        table = [
            ("relative", "/D=Tolvarin", BAD_FOLDER),
            ("relative to a drive", "/D=C:Tolvarin", BAD_FOLDER),
            ("relative to the root", "/D=\\Tolvarin", BAD_FOLDER),
            ("empty", "/D=", BAD_FOLDER),
            ("quoted after /D=", '/D="C:\\Photo Tools\\Tolvarin"', BAD_FOLDER),
            ("a quote inside", '/D=C:\\Photo "Tools"\\Tolvarin', BAD_FOLDER),
            ("a quoted argument unclosed", '"/D=C:\\Photo Tools', BAD_FOLDER),
            ("a wildcard", "/D=C:\\Photo*\\Tolvarin", BAD_FOLDER),
            ("a control character", "/D=C:\\a\x01b\\Tolvarin", BAD_FOLDER),
            ("a device", "/D=\\\\.\\C:\\Tolvarin", BAD_FOLDER),
            ("a device's name inside", "/D=C:\\x\\NUL.jpg\\Tolvarin",
             BAD_FOLDER),
            ("a name that ends with a blank", "/D=C:\\Photo \\Tolvarin",
             BAD_FOLDER),
            ("a drive that is not there", "/D=Q:\\Tolvarin", BAD_FOLDER),
            ("a command line too long to read",
             "/PAD=" + "p" * 1000 + " /D=C:\\Photo\\Tolvarin", BAD_FOLDER),
            ("a file", "/D=C:\\Photo Tools\\a file", BAD_FOLDER),
            ("below a file", "/D=C:\\Photo Tools\\a file\\Tolvarin",
             BAD_FOLDER),
            ("a drive's root", "/D=C:\\", BAD_FOLDER),
            ("one character too long",
             "/D=" + folder_of_length(260 - LONGEST), BAD_FOLDER),
            ("another program's files", "/D=C:\\Photo Tools\\Other", FOREIGN),
            ("the other scope", "/CurrentUser", EXIT["OTHER_SCOPE"]),
            ("all users by a standard user", "/AllUsers", EXIT["ELEVATION"],
             STANDARD_USER),
        ]
        def state():
            return (self.snapshot(self.all.folder, self.user.folder, tools),
                    sorted(os.listdir(self.prefix.drive_c)))
        before = state()
        for name, switches, status, *env in table:
            with self.subTest(name):
                self.install(switches, status=status, extra_env=env[0] if env else None)
                self.assertEqual(state(), before)
        with self.subTest("uninstalled by a standard user"):
            self.uninstall(status=EXIT["ELEVATION"], extra_env=STANDARD_USER)
            self.assertEqual(state(), before)
        self.uninstall()
        shutil.rmtree(tools)

    def test_a_folder_shared_with_another_program(self):
        """Installing into a folder that holds another program, and
        upgrading there, moves, renames or deletes nothing of it, empty
        folders included; uninstalling leaves it as it was."""
        tools = os.path.join(self.prefix.drive_c, "Tools")
        for name in ("cache", "logs", "Library/Plugins"):
            os.makedirs(os.path.join(tools, name))
        for name in ("tool.exe", "Library/tool.dll"):
            with open(os.path.join(tools, name), "w") as f:
                f.write("another program's\n")
        theirs = ["Library/Plugins/", "Library/tool.dll", "cache/", "logs/",
                  "tool.exe"]
        identity = {name: os.stat(os.path.join(tools, name)).st_ino
                    for name in theirs}
        self.install(folder="C:\\Tools")
        self.install(installer=self.older)
        self.install()
        self.assertInstalled(tools, user_files=theirs)
        self.assertEqual({name: os.stat(os.path.join(tools, name)).st_ino
                          for name in theirs}, identity)
        self.uninstall()
        self.assertNothingLeft(tools, ["Library/"] + theirs)
        shutil.rmtree(tools)

    def test_a_folder_that_is_a_link(self):
        """The folder stays the link it is, through an upgrade, and holds
        the installation; uninstalling leaves the link and its target."""
        target = os.path.join(self.prefix.drive_c, "Real", "Tolvarin")
        link = os.path.join(self.prefix.drive_c, "Linked")
        os.makedirs(target)
        os.symlink(target, link)
        self.install(folder="C:\\Linked", installer=self.older)
        self.install()
        self.assertTrue(os.path.islink(link))
        self.assertInstalled(link)
        status, out = self.prefix.run("C:\\Linked\\Tolvarin.exe", "/NOAVX")
        self.assertEqual(status, 0, out)
        self.uninstall()
        # Windows removes the link itself when it is left empty, Wine the
        # folder it points to: either way nothing of Tolvarin is left.
        self.assertEqual(tree(target) if os.path.exists(target) else [], [])
        self.assertNothingRegistered(self.all)
        if os.path.islink(link):
            os.remove(link)
        shutil.rmtree(os.path.dirname(target))


if __name__ == "__main__":
    unittest.main()
