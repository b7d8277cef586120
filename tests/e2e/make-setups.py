#!/usr/bin/env python3
"""Makes the setups of the end-to-end tests: real packages built by tirn-pack
from test programs, and the hostile or broken ones that tirn-pack refuses to
make (scrambled here with the same block rule).
Usage: make-setups.py TIRN_PACK LAUNCHER STAND_IN DEMO_INSTALLER OUTPUT_DIR"""
import os
import struct
import subprocess
import sys
import tempfile

tirn_pack, launcher, stand_in, demo_installer, out = sys.argv[1:6]
os.makedirs(out, exist_ok=True)
work = tempfile.mkdtemp()
SEED, BLOCK = 0xB7, 40960


def scramble(data):
    out_bytes = bytearray(data)
    for start in range(0, len(out_bytes), BLOCK):
        length = min(BLOCK, len(out_bytes) - start)
        key = (length & 0xFF) ^ SEED
        for i in range(length):
            b = out_bytes[start + i]
            k = key & 0xFF
            if i % 4 == 0:
                b ^= k
            elif i % 4 == 1:
                b = (b + k) & 0xFF
            elif i % 4 == 2:
                b = ~b & 0xFF
            else:
                r = k % 8
                b = ((b << r) | (b >> (8 - r))) & 0xFF
            out_bytes[start + i] = b
            key += 1
    return bytes(out_bytes)


def pack(installer, version, name):
    subprocess.run([tirn_pack, "build", "--launcher", launcher, "--definition-version", str(version),
                    "--installer", installer, "-o", os.path.join(out, name)], check=True)


def append_package(cabinet, version, name):
    with open(launcher, "rb") as f:
        image = f.read()
    with open(cabinet, "rb") as f:
        cab = f.read()
    with open(os.path.join(out, name), "wb") as f:
        f.write(image + b"TIRS" + struct.pack("<III", version, len(cab), 0) + scramble(cab))


def copy_as(source, name):
    path = os.path.join(work, name)
    with open(source, "rb") as f, open(path, "wb") as g:
        g.write(f.read())
    return path


installer = copy_as(stand_in, "TirnHomeSetup.exe")
pack(installer, 5, "standin-v5.exe")
pack(copy_as(demo_installer, "TirnHomeSetup.exe"), 1, "demo-v1.exe")
pack(copy_as(demo_installer, "TirnHomeSetup.exe"), 2, "demo-v2.exe")

with open(os.path.join(out, "standin-v5.exe"), "rb") as f:
    whole = f.read()
with open(os.path.join(out, "cut-v5.exe"), "wb") as f:
    f.write(whole[:-1000])

text = os.path.join(work, "text", "TirnHomeSetup.exe")
os.makedirs(os.path.dirname(text))
with open(text, "w") as f:
    f.write("this is not a program\n")
pack(text, 5, "not-a-program-v5.exe")

second = os.path.join(work, "readme.txt")
with open(second, "w") as f:
    f.write("second file\n")
two = os.path.join(work, "two.cab")
subprocess.run(["gcab", "-c", "-n", two, installer, second], check=True)
append_package(two, 5, "two-files-v5.exe")
not_cab = os.path.join(work, "random.bin")
with open(not_cab, "wb") as f:
    f.write(os.urandom(3000))
append_package(not_cab, 5, "not-a-cabinet-v5.exe")
