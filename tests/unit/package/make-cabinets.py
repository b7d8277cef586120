#!/usr/bin/env python3
"""Makes the cabinet fixtures of the extraction tests with gcab, and patches
real cabinets at named offsets for the cases gcab will not write.
Usage: make-cabinets.py OUTPUT_DIRECTORY"""
import atexit
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
work = tempfile.mkdtemp()
atexit.register(shutil.rmtree, work, True)

# CFHEADER: coffFiles (u32) at 16, cFiles (u16) at 28. CFFILE: cbFile u32,
# uoffFolderStart u32, iFolder u16 (+8), date u16 (+10), time u16 (+12),
# attribs u16 (+14), then the NUL-terminated name (+16).
COFF_FILES, C_FILES = 16, 28
I_FOLDER, ATTRIBS, NAME = 8, 14, 16


def gcab(name, files, compress=True, cwd=work):
    args = ["gcab", "-c"] + (["-z"] if compress else []) + [os.path.join(out, name)] + files
    subprocess.run(args, check=True, cwd=cwd)


def write(relative, data):
    path = os.path.join(work, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def patched(source, target, patch):
    with open(os.path.join(out, source), "rb") as f:
        data = bytearray(f.read())
    first_file = struct.unpack_from("<I", data, COFF_FILES)[0]
    patch(data, first_file)
    with open(os.path.join(out, target), "wb") as f:
        f.write(data)


rng = random.Random(5)
installer = bytes(rng.getrandbits(8) for _ in range(100000)) + bytes(60000)
write("TirnHomeSetup.exe", installer)
with open(os.path.join(out, "TirnHomeSetup.exe.expected"), "wb") as f:
    f.write(installer)

gcab("one-compressed.cab", ["TirnHomeSetup.exe"])
gcab("one-stored.cab", ["TirnHomeSetup.exe"], compress=False)
write("second.txt", b"second file\n")
gcab("two.cab", ["TirnHomeSetup.exe", "second.txt"])
write("sub/inner.txt", b"inner\n")
gcab("subdirectory.cab", ["second.txt", "sub/inner.txt"])
name = "T\u1ec7p c\u00e0i \u0111\u1eb7t.exe"
write(name, b"utf-8 name\n")
gcab("utf8-flagged.cab", [name])
write("xx/evil.txt", b"must stay inside\n")
gcab("traversal-source.cab", ["second.txt", "xx/evil.txt"], compress=False)


def second_name(data, first_file):
    # The second CFFILE follows the first one's name.
    return data.index(b"\0", first_file + NAME) + 1


def set_name_prefix(prefix):
    def patch(data, first_file):
        at = second_name(data, first_file) + NAME
        assert data[at:at + 2] == b"xx"
        data[at:at + 2] = prefix
    return patch


patched("traversal-source.cab", "traversal-dotdot.cab", set_name_prefix(b".."))
patched("traversal-source.cab", "traversal-drive.cab", set_name_prefix(b"C:"))
os.remove(os.path.join(out, "traversal-source.cab"))
patched("utf8-flagged.cab", "utf8-unflagged.cab",
        lambda d, f: struct.pack_into("<H", d, f + ATTRIBS,
                                      struct.unpack_from("<H", d, f + ATTRIBS)[0] & ~0x80))
patched("one-compressed.cab", "no-files.cab", lambda d, f: struct.pack_into("<H", d, C_FILES, 0))
patched("one-compressed.cab", "continued-from-previous.cab",
        lambda d, f: struct.pack_into("<H", d, f + I_FOLDER, 0xFFFD))


def continue_into_next(data, first_file):
    # A real spanning cabinet: the header names a next cabinet (flag 0x0002
    # and two strings after the fixed header), and the file, marked as
    # continued (iFolder 0xFFFE), is longer than the data this cabinet holds.
    names = b"next.cab\0disk2\0"
    flags = struct.unpack_from("<H", data, 30)[0]
    assert flags == 0
    struct.pack_into("<H", data, 30, 0x0002)
    struct.pack_into("<I", data, 8, struct.unpack_from("<I", data, 8)[0] + len(names))
    struct.pack_into("<I", data, COFF_FILES, first_file + len(names))
    folders = struct.unpack_from("<H", data, 26)[0]
    for i in range(folders):
        at = 36 + 8 * i
        struct.pack_into("<I", data, at, struct.unpack_from("<I", data, at)[0] + len(names))
    struct.pack_into("<H", data, first_file + I_FOLDER, 0xFFFE)
    struct.pack_into("<I", data, first_file, struct.unpack_from("<I", data, first_file)[0] + 50000)
    data[36:36] = names


patched("one-stored.cab", "continued-into-next.cab", continue_into_next)
with open(os.path.join(out, "not-a-cabinet.cab"), "wb") as f:
    f.write(bytes(rng.getrandbits(8) for _ in range(5000)))
shutil.rmtree(work)
