"""Writes a folder into a ZIP archive that depends only on the folder's names
and contents: entries in sorted order, every time the given source time,
modes rwxr-xr-x for folders and programs and rw-r--r-- for other files, no
owner and no extra fields.

    write_zip.py FOLDER ARCHIVE SOURCE_TIME
"""
import os
import stat
import sys
import time
import zipfile


def entries(root):
    for folder, folders, files in os.walk(root):
        for name in sorted(folders + files):
            path = os.path.join(folder, name)
            yield os.path.relpath(path, root).replace(os.sep, "/"), path


def write(root, archive, source_time):
    stamp = time.gmtime(max(source_time, 315532800))[:6]  # ZIP starts in 1980
    with zipfile.ZipFile(archive, "w") as out:
        for name, path in sorted(entries(root)):
            mode = os.lstat(path).st_mode
            if stat.S_ISDIR(mode):
                info = zipfile.ZipInfo(name + "/", stamp)
                info.external_attr = (stat.S_IFDIR | 0o755) << 16 | 0x10
                data = b""
            else:
                info = zipfile.ZipInfo(name, stamp)
                executable = mode & 0o111
                info.external_attr = (stat.S_IFREG |
                                      (0o755 if executable else 0o644)) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as data_file:
                    data = data_file.read()
            info.create_system = 3  # Unix, so that the modes are read
            out.writestr(info, data, compresslevel=9)


if __name__ == "__main__":
    write(sys.argv[1], sys.argv[2], int(sys.argv[3]))
