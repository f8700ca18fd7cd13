"""Writes the shipped images and their PDBs into a ZIP archive laid out as a
two-tier symbol store, so that it can be unpacked onto a symbol server as it
is, and debuggers and crash tools find both by what a crash dump records:

    <image>/<TimeDateStamp as %08X><SizeOfImage as %x>/<image>
    <pdb>/<GUID as 32 hex digits><Age as %X>/<pdb>

The GUID and age come from the image's CodeView record, which names its PDB.

    write_symbols.py ARCHIVE SOURCE_TIME STAGED_DIR IMAGE=PDB...

IMAGE is relative to STAGED_DIR (the installation as shipped, signed); PDB is
where the build wrote it.
"""
import os
import shutil
import struct
import sys
import tempfile

import pefile

import write_zip


def image_key(pe):
    return (f"{pe.FILE_HEADER.TimeDateStamp:08X}"
            f"{pe.OPTIONAL_HEADER.SizeOfImage:x}")


def pdb_record(pe):
    """(key, PDB file name) from the image's CodeView (RSDS) record."""
    for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []):
        data = pe.get_data(entry.struct.AddressOfRawData,
                           entry.struct.SizeOfData)
        if entry.struct.Type == 2 and data[:4] == b"RSDS":
            first, second, third = struct.unpack_from("<IHH", data, 4)
            age = struct.unpack_from("<I", data, 20)[0]
            key = (f"{first:08X}{second:04X}{third:04X}"
                   f"{data[12:20].hex().upper()}{age:X}")
            return key, data[24:].rstrip(b"\0").decode()
    raise SystemExit("the image names no PDB")


def main(archive, source_time, staged, pairs):
    with tempfile.TemporaryDirectory() as store:
        for pair in pairs:
            image, pdb = pair.split("=", 1)
            pe = pefile.PE(os.path.join(staged, image), fast_load=True)
            pe.parse_data_directories(
                directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]])
            name = os.path.basename(image)
            key, pdb_name = pdb_record(pe)
            if pdb_name != os.path.basename(pdb):
                raise SystemExit(f"{image} names {pdb_name}, not {pdb}")
            # (An absolute PDB path stays what it is in the join.)
            for folder, source in ((f"{name}/{image_key(pe)}", image),
                                   (f"{pdb_name}/{key}", pdb)):
                os.makedirs(os.path.join(store, folder))
                shutil.copyfile(os.path.join(staged, source),
                                os.path.join(store, folder,
                                             os.path.basename(source)))
        write_zip.write(store, archive, source_time)


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:])
