#!/usr/bin/env python3
"""Seed corpus of the fuzzers, made at test time: the real launcher with
packages appended (complete, cut, signed-like trailing bytes), and crafted
headers (outside the file, wrapping sums, no sections, many sections).
Usage: make-seeds.py OUTPUT_DIRECTORY LAUNCHER"""
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import tirn_package  # noqa: E402

out, launcher = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
with open(launcher, "rb") as f:
    image = f.read()


def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def trailer(version, size, reserved=0):
    return b"TIRS" + struct.pack("<III", version, size, reserved)


save("launcher-bare", image)
save("launcher-package", image + trailer(3, 64) + bytes(range(64)))
save("launcher-cut", image + trailer(3, 640) + bytes(64))
save("launcher-trailing", image + trailer(3, 8) + bytes(8) + b"\x30\x82" + bytes(300))
save("launcher-huge-size", image + trailer(3, 0xFFFFFFF0))
for cut in (1, 8, 15):
    save("launcher-trailer-cut-%d" % cut, image + trailer(3, 0)[:cut])


def crafted(pe_offset, sections, optional_size=0xE0, count=None):
    table = pe_offset + 24 + optional_size
    data = bytearray(max(64, table + 40 * len(sections)))
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 60, pe_offset)
    if pe_offset + 24 <= len(data):
        data[pe_offset:pe_offset + 4] = b"PE\0\0"
        struct.pack_into("<H", data, pe_offset + 6, len(sections) if count is None else count)
        struct.pack_into("<H", data, pe_offset + 20, optional_size)
    for i, (pointer, size) in enumerate(sections):
        struct.pack_into("<II", data, table + 40 * i + 16, size, pointer)
    return bytes(data)


save("crafted-plain", crafted(0x80, [(0x400, 0x200)]) + bytes(0x600) + trailer(1, 4) + b"abcd")
save("crafted-out-of-order", crafted(0x80, [(0x600, 0x200), (0x400, 0x200)]))
save("crafted-wrapping", crafted(0x80, [(0xFFFFF000, 0x2000)]))
save("crafted-no-sections", crafted(0x80, []) + trailer(1, 0))
save("crafted-lfanew-outside", crafted(0x80, [(0x400, 0x200)])[:60] + struct.pack("<I", 0x7FFFFFFF))
save("crafted-count-too-large", crafted(0x80, [(0x400, 0x200)], count=0xFFFF))

# A real one-file cabinet, packed, for the inspection fuzzer to mutate.
with tempfile.TemporaryDirectory() as work:
    with open(os.path.join(work, "TirnHomeSetup.exe"), "wb") as f:
        f.write(b"MZ" + bytes(range(256)) * 8)
    cab = os.path.join(work, "one.cab")
    subprocess.run(["gcab", "-c", "-z", cab, "TirnHomeSetup.exe"], check=True, cwd=work)
    with open(cab, "rb") as f:
        cabinet = f.read()
    save("launcher-real-cabinet", image + tirn_package.package(cabinet, 4))
    save("cabinet-alone", cabinet)
    # The same with the header's reserve and both neighbour names present.
    flags = struct.unpack_from("<H", cabinet, 30)[0] | 0x0007
    extra = struct.pack("<HBB", 4, 2, 0) + b"rsvd" + b"prev.cab\0disk1\0next.cab\0disk2\0"
    save("cabinet-with-reserve-and-neighbours",
         cabinet[:30] + struct.pack("<H", flags) + cabinet[32:36] + extra + cabinet[36:])

# A real signature (osslsigncode, a throw-away key): the signed launcher for
# the header fuzzers, its certificate table for the signature fuzzer.
with tempfile.TemporaryDirectory() as work:
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    packed, signed = os.path.join(work, "packed.exe"), os.path.join(work, "signed.exe")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Tirn fuzz seed", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    with open(packed, "wb") as f:
        f.write(image + trailer(3, 64) + bytes(range(64)))
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", packed,
                    "-out", signed], check=True, capture_output=True)
    with open(signed, "rb") as f:
        signed_image = f.read()
    save("launcher-signed", signed_image)
    save("signature-table", signed_image[len(image) + 16 + 64:])
    # PKCS#7 signed data without its signed part (once read as if it had one).
    save("signature-empty-signed-data", struct.pack("<IHH", 24, 0x200, 2) +
         bytes.fromhex("300b06092a864886f70d010702") + bytes(3))
