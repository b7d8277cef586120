#!/usr/bin/env python3
"""Makes the setups of the end-to-end tests: real packages built by tirn-pack
from test programs, and the hostile or broken ones that tirn-pack refuses to
make (scrambled here with the same block rule).
Usage: make-setups.py TIRN_PACK LAUNCHER STAND_IN DEMO_INSTALLER OUTPUT_DIR"""
import atexit
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import tirn_package  # noqa: E402

tirn_pack, launcher, stand_in, demo_installer, out = sys.argv[1:6]
os.makedirs(out, exist_ok=True)
work = tempfile.mkdtemp()
atexit.register(shutil.rmtree, work, True)


def pack(installer, version, name, *extra):
    subprocess.run([tirn_pack, "build", "--launcher", launcher, "--definition-version", str(version),
                    "--installer", installer, *extra, "-o", os.path.join(out, name)], check=True)


def append_package(cabinet, version, name):
    with open(launcher, "rb") as f:
        image = f.read()
    with open(cabinet, "rb") as f:
        cab = f.read()
    with open(os.path.join(out, name), "wb") as f:
        f.write(image + tirn_package.package(cab, version))


def copy_as(source, name):
    path = os.path.join(work, name)
    with open(source, "rb") as f, open(path, "wb") as g:
        g.write(f.read())
    return path


installer = copy_as(stand_in, "TirnHomeSetup.exe")
pack(installer, 5, "standin-v5.exe")
pack(installer, 5, "standin-stored-v5.exe", "--compression", "none")
pack(installer, 5, "standin-mszip-v5.exe", "--compression", "mszip")
for effort in ("1", "3"):  # the default, 2, is standin-v5.exe
    pack(installer, 5, "standin-effort%s-v5.exe" % effort, "--effort", effort)
pack(copy_as(demo_installer, "TirnHomeSetup.exe"), 1, "demo-v1.exe")
pack(copy_as(demo_installer, "TirnHomeSetup.exe"), 2, "demo-v2.exe")

# A road that lasts seconds whatever the machine: a tiny cabinet that
# extracts to 768 MiB, the stand-in program followed by zeros (a sparse tail
# packs in moments; the program still runs).
slow_dir = os.path.join(work, "slow")
os.makedirs(slow_dir)
slow_installer = os.path.join(slow_dir, "TirnHomeSetup.exe")
shutil.copyfile(stand_in, slow_installer)
with open(slow_installer, "r+b") as f:
    f.truncate(768 << 20)
pack(slow_installer, 3, "slow-v3.exe")
os.remove(slow_installer)

with open(os.path.join(out, "standin-v5.exe"), "rb") as f:
    whole = f.read()
with open(os.path.join(out, "cut-v5.exe"), "wb") as f:
    f.write(whole[:-1000])

text = os.path.join(work, "text", "TirnHomeSetup.exe")
os.makedirs(os.path.dirname(text))
# Zeros after the text make its extraction last long enough, on a loaded
# host too, for the window to be seen before the start fails (64 MiB kept it
# up for a fifth of a second, which a loaded host's window poll can miss).
with open(text, "w") as f:
    f.write("this is not a program\n")
    f.truncate(256 << 20)
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


# Hostile and broken packages: each must end the road cleanly.
def plain_package(name, trailer_bytes, payload=b""):
    with open(launcher, "rb") as f:
        image = f.read()
    with open(os.path.join(out, name), "wb") as f:
        f.write(image + trailer_bytes + payload)


full_trailer = b"TIRS" + struct.pack("<III", 5, 0, 0)
for keep in range(16):
    plain_package("hostile-trailer-cut-%02d.exe" % keep, full_trailer[:keep])
plain_package("hostile-zero-payload.exe", full_trailer)
plain_package("hostile-size-near-4GiB.exe", b"TIRS" + struct.pack("<III", 5, 0xFFFFFFF0, 0),
              bytes(1000))

# A traversal name: "xx\evil.txt" stored, then patched to "..\evil.txt".
os.makedirs(os.path.join(work, "xx"), exist_ok=True)
with open(os.path.join(work, "xx", "evil.txt"), "w") as f:
    f.write("must stay inside\n")
traversal = os.path.join(work, "traversal.cab")
subprocess.run(["gcab", "-c", traversal, "xx/evil.txt"], check=True, cwd=work)
with open(traversal, "rb") as f:
    data = bytearray(f.read())
first_file = struct.unpack_from("<I", data, 16)[0]
assert data[first_file + 16:first_file + 18] == b"xx"
data[first_file + 16:first_file + 18] = b".."
with open(traversal, "wb") as f:
    f.write(data)
append_package(traversal, 5, "hostile-traversal.exe")

# A file continued from a previous cabinet.
continued = os.path.join(work, "continued.cab")
subprocess.run(["gcab", "-c", "-n", continued, second], check=True)
with open(continued, "rb") as f:
    data = bytearray(f.read())
first_file = struct.unpack_from("<I", data, 16)[0]
struct.pack_into("<H", data, first_file + 8, 0xFFFD)
with open(continued, "wb") as f:
    f.write(data)
append_package(continued, 5, "hostile-continued.exe")

# Many files.
many_dir = os.path.join(work, "many")
os.makedirs(many_dir)
names = []
for i in range(200):
    name = "file%03d.txt" % i
    with open(os.path.join(many_dir, name), "w") as f:
        f.write("file %d\n" % i)
    names.append(name)
many = os.path.join(work, "many.cab")
subprocess.run(["gcab", "-c", "-z", "-n", many, *names], check=True, cwd=many_dir)
append_package(many, 5, "hostile-many-files.exe")

# Names no user's launcher installs, though a cabinet can hold them: the
# stand-in stored as "TirnHomeSetup?exe" (a character Windows forbids), and
# as a device's name.
def renamed(name, stored, setup):
    cabinet = os.path.join(work, name)
    subprocess.run(["gcab", "-c", "-n", cabinet, installer], check=True)
    with open(cabinet, "rb") as f:
        data = bytearray(f.read())
    first_file = struct.unpack_from("<I", data, 16)[0]
    assert data[first_file + 16:first_file + 33] == b"TirnHomeSetup.exe"
    data[first_file + 16:first_file + 16 + len(stored)] = stored
    if len(stored) < len("TirnHomeSetup.exe"):
        data[first_file + 16 + len(stored)] = 0  # the name ends early; the rest is ignored
    with open(cabinet, "wb") as f:
        f.write(data)
    append_package(cabinet, 5, setup)


renamed("forbidden.cab", b"TirnHomeSetup?exe", "hostile-forbidden-name.exe")
renamed("device.cab", b"NUL", "hostile-device-name.exe")
