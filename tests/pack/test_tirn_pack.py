#!/usr/bin/env python3
"""tirn-pack end to end: build, inspect, unpack, re-pack and the failures.
Every cabinet it writes is checked by three independent readers (cabextract,
gcab and Wine's extrac32), and a real Windows program reads its own package
under Wine.

The Windows build (tirn-pack.exe, run under Wine) must give the same bytes,
reports and exit codes as the Linux build.

Usage: test_tirn_pack.py TIRN_PACK LAUNCHER VERSION_PROBE WINE_RUN TIRN_PACK_EXE OTHER_LAUNCHER
(OTHER_LAUNCHER: the launcher of the other width, PE32 beside PE32+.)
With TIRN_PACK_WINDOWS_CHECKS_ONLY=1 (the PE32 tree), the checks of the Linux
build alone are skipped: the x64 tree, which runs on every host, runs them."""
import json
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import tirn_package  # noqa: E402

TIRN_PACK, LAUNCHER, PROBE, WINE_RUN, TIRN_PACK_EXE, OTHER_LAUNCHER = sys.argv[1:7]
# A check that runs no Windows program (the Linux build on its own): once a
# host, in the x64 tree.
linux_build_alone = unittest.skipIf(os.environ.get("TIRN_PACK_WINDOWS_CHECKS_ONLY") == "1",
                                    "the Linux build alone: checked in the x64 tree")


def run(*args, **kwargs):
    return subprocess.run([TIRN_PACK, *args], capture_output=True, text=True, **kwargs)


def run_windows(*args, **kwargs):
    """tirn-pack.exe under Wine; paths are given as Windows paths."""
    return subprocess.run([WINE_RUN, TIRN_PACK_EXE, *args], capture_output=True, text=True,
                          **kwargs)


def peak_rss_kib(*args):
    """Peak resident memory of one tirn-pack run, measured in a child of its own."""
    code = ("import resource, subprocess, sys; "
            "subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL); "
            "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    result = subprocess.run([sys.executable, "-c", code, TIRN_PACK, *args],
                            capture_output=True, text=True, check=True)
    return int(result.stdout)


def two_file_cabinet(directory):
    for name in ("a.exe", "b.txt"):
        with open(os.path.join(directory, name), "wb") as f:
            f.write(os.urandom(1000))
    path = os.path.join(directory, "two.cab")
    subprocess.run(["gcab", "-c", "-n", path, os.path.join(directory, "a.exe"),
                    os.path.join(directory, "b.txt")], check=True)
    return path


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def flip_a_byte(block):
    return block[:1000] + bytes([block[1000] ^ 0x01]) + block[1001:]


class TirnPackTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tirn-pack-test-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def installer(self, size, name="TirnHomeSetup.exe"):
        path = self.path(name)
        with open(path, "wb") as f:
            # Half random, half repeated: both compressed and stored blocks.
            f.write(os.urandom(size // 2) + bytes(size - size // 2))
        return path

    def build(self, installer, version, output, launcher=LAUNCHER):
        result = run("build", "--launcher", launcher, "--definition-version", str(version),
                     "--installer", installer, "-o", output)
        self.assertEqual(result.returncode, 0, result.stderr)

    def assert_readers_extract(self, cab, expected):
        """cabextract (which also tests every checksum), gcab and Wine's
        extrac32 each extract exactly the expected file from cab."""
        with open(expected, "rb") as f:
            want = f.read()
        name = os.path.basename(expected)
        check = subprocess.run(["cabextract", "-t", cab], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        readers = {
            "cabextract": lambda d: ["cabextract", "-q", "-d", d, cab],
            "gcab": lambda d: ["gcab", "-x", "-C", d, cab],
            "extrac32": lambda d: [WINE_RUN, "extrac32", "/Y", "/E", "/L", wine_path(d), wine_path(cab)],
        }
        for reader, command in readers.items():
            with self.subTest(reader=reader):
                out = tempfile.mkdtemp(dir=self.dir)
                result = subprocess.run(command(out), capture_output=True, text=True)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertEqual(os.listdir(out), [name])
                with open(os.path.join(out, name), "rb") as f:
                    self.assertTrue(f.read() == want, reader + ": content differs")
                shutil.rmtree(out)

    def assert_round_trip(self, size):
        """Builds and unpacks; returns the peak memory of each step in KiB."""
        installer = self.installer(size)
        setup = self.path("setup.exe")
        build_peak = peak_rss_kib("build", "--launcher", LAUNCHER, "--definition-version", "3",
                                  "--installer", installer, "-o", setup)
        cab = self.path("out.cab")
        unpack_peak = peak_rss_kib("unpack", setup, "-o", cab)
        self.assert_readers_extract(cab, installer)
        return build_peak, unpack_peak

    def test_round_trip_small(self):
        for size in (0, 1, 40960, 300000):
            with self.subTest(size=size):
                self.assert_round_trip(size)

    @linux_build_alone
    def test_round_trip_large_in_constant_memory(self):
        small = self.assert_round_trip(1000 * 1000)
        large = self.assert_round_trip(110 * 1000 * 1000)
        # The tool streams: 110 times the payload, not 110 times the memory.
        for step, before, after in zip(("build", "unpack"), small, large):
            with self.subTest(step):
                self.assertLess(after - before, 8 * 1024, (before, after))

    def test_every_compression_is_read_by_every_reader(self):
        installer = self.installer(200000)
        # Real x86 code for the parsers to work on, then noise and zeros.
        with open(PROBE, "rb") as f, open(LAUNCHER, "rb") as g:
            code = self.path("code.exe")
            with open(code, "wb") as out:
                out.write(f.read() + g.read() + os.urandom(50000) + bytes(50000))
        # The stress input with the largest data blocks: frames of text, then
        # one of noise, sent as literals (32 848 bytes, under the 38 912 that
        # readers take).
        largest = self.path("largest.exe")
        with open(PROBE, "rb") as f, open(largest, "wb") as out:
            letters = os.urandom(7 * 32768)
            out.write(f.read() + bytes(ord("a") + b % 2 for b in letters) + os.urandom(32768))
        cases = [
            (["--compression", "lzx"], "LZX:21", installer),
            (["--compression", "lzx:15"], "LZX:15", installer),
            (["--compression", "mszip"], "MSZIP", installer),
            (["--compression", "none"], "none", installer),
        ] + [(["--effort", effort], "LZX:21", code) for effort in ("1", "2", "3")] + [
            (["--compression", "lzx:16", "--effort", "3"], "LZX:16", code)] + [
            (["--effort", effort], "LZX:21", largest) for effort in ("1", "2", "3")]
        for args, name, source in cases:
            with self.subTest(args=args):
                setup, cab = self.path("setup.exe"), self.path("out.cab")
                result = run("build", "--launcher", LAUNCHER, "--definition-version", "2",
                             "--installer", source, *args, "-o", setup)
                self.assertEqual(result.returncode, 0, result.stderr)
                report = json.loads(run("inspect", "--json", setup).stdout)
                self.assertEqual(report["files"][0]["compression"], name)
                self.assertEqual(run("unpack", setup, "-o", cab).returncode, 0)
                if source == installer:
                    self.assertEqual(os.path.getsize(cab) < 150000, name != "none")
                if source != installer:  # the others are programs
                    verified = run("verify", "--json", setup)
                    self.assertEqual(verified.returncode, 0, verified.stderr)
                    # No frame costs more than its literals and trees.
                    self.assertLessEqual(json.loads(verified.stdout)["largestBlock"], 32768 + 1024)
                self.assert_readers_extract(cab, source)
        for args in (["--compression", "zip"], ["--effort", "4"], ["--effort", "0"]):
            with self.subTest(refused=args):
                result = run("build", "--launcher", LAUNCHER, "--definition-version", "2",
                             "--installer", installer, *args, "-o", self.path("x.exe"))
                self.assertEqual(result.returncode, 2, result.stderr)

    @linux_build_alone
    def test_same_inputs_same_bytes_with_source_date_epoch(self):
        installer = self.installer(300000)
        outputs = []
        for mtime in (1500000000, 1700000000):
            os.utime(installer, (mtime, mtime))
            setup = self.path("setup-%d.exe" % mtime)
            env = dict(os.environ, SOURCE_DATE_EPOCH="1400000000")
            result = run("build", "--launcher", LAUNCHER, "--definition-version", "3",
                         "--installer", installer, "-o", setup, env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(setup, "rb") as f:
                outputs.append(f.read())
        self.assertEqual(outputs[0], outputs[1])
        # Without it the file's own time is stored, as UTC.
        os.utime(installer, (1700000000, 1700000000))
        setup = self.path("setup.exe")
        env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
        self.assertEqual(run("build", "--launcher", LAUNCHER, "--definition-version", "3",
                             "--installer", installer, "-o", setup, env=env).returncode, 0)
        report = json.loads(run("inspect", "--json", setup).stdout)
        self.assertEqual(report["files"][0]["date"], "2023-11-14 22:13:20")

    @linux_build_alone
    def test_an_installer_the_format_cannot_hold_is_refused(self):
        # One folder holds 65535 blocks of 32 KiB: one byte more is refused,
        # before anything is read or written (the file is sparse).
        big = self.path("Big.exe")
        with open(big, "wb") as f:
            f.truncate(65535 * 32768 + 1)
        before = sorted(os.listdir(self.dir))
        result = run("build", "--launcher", LAUNCHER, "--definition-version", "1",
                     "--installer", big, "-o", self.path("big-setup.exe"))
        self.assertEqual(result.returncode, 7, result.stderr)
        self.assertIn("a cabinet folder holds at most", result.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), before)

    def test_the_windows_build_gives_the_same_bytes_reports_and_codes(self):
        installer = self.installer(700000, "C\u00e0i \u0111\u1eb7t.exe")
        env = dict(os.environ, SOURCE_DATE_EPOCH="1500000000")
        for compression in ("lzx", "lzx:16", "mszip", "none"):
            with self.subTest(compression=compression):
                linux, windows = self.path("linux.exe"), self.path("windows.exe")
                common = ["--definition-version", "8", "--compression", compression]
                result = run("build", "--launcher", LAUNCHER, "--installer", installer, *common,
                             "-o", linux, env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                result = run_windows("build", "--launcher", wine_path(LAUNCHER), "--installer",
                                     wine_path(installer), *common, "-o", wine_path(windows),
                                     env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(linux, "rb") as a, open(windows, "rb") as b:
                    self.assertTrue(a.read() == b.read(), "the two builds differ")
                linux_report = json.loads(run("inspect", "--json", linux).stdout)
                windows_report = json.loads(run_windows("inspect", "--json", wine_path(windows)).stdout)
                del linux_report["setup"], windows_report["setup"]
                self.assertEqual(linux_report, windows_report)
        # A Windows-built setup's package is the launcher's to read.
        setup = self.path("probe-setup.exe")
        self.assertEqual(run_windows("build", "--launcher", wine_path(PROBE), "--installer",
                                     wine_path(installer), "--definition-version", "77", "-o",
                                     wine_path(setup)).returncode, 0)
        result = subprocess.run([WINE_RUN, setup], capture_output=True, text=True)
        self.assertEqual(result.stdout.strip(), "77")
        two = two_file_cabinet(self.dir)
        cases = [
            ("bad version", ["build", "--launcher", LAUNCHER, "--definition-version", "x",
                             "--installer", installer, "-o", self.path("o.exe")], 2),
            ("missing installer", ["build", "--launcher", LAUNCHER, "--definition-version", "1",
                                   "--installer", self.path("none.exe"), "-o", self.path("o.exe")], 3),
            ("bare launcher", ["inspect", LAUNCHER], 4),
            ("two-file cabinet", ["build", "--launcher", LAUNCHER, "--definition-version", "1",
                                  "--cab", two, "-o", self.path("o.exe")], 5),
        ]
        for name, args, code in cases:
            with self.subTest(name):
                windows_args = [wine_path(a) if a.startswith("/") else a for a in args]
                self.assertEqual(run(*args).returncode, code)
                result = run_windows(*windows_args)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn("tirn-pack: ", result.stderr)
        self.assertFalse(os.path.exists(self.path("o.exe")))

    def test_verify_passes_shippable_setups_and_names_what_is_wrong(self):
        """Each case through the Linux build (libmspack) and the Windows
        build (the system's cabinet library, under Wine): the same verdict,
        exit code and reason."""
        program = self.path("TirnHomeSetup.exe")
        with open(PROBE, "rb") as f:
            image = f.read()
        with open(program, "wb") as f:
            f.write(image + os.urandom(100000) + bytes(200000))

        def setup(name, *extra, installer=program):
            path = self.path(name)
            self.assertEqual(run("build", "--launcher", LAUNCHER, "--definition-version", "5",
                                 "--installer", installer, *extra, "-o", path).returncode, 0)
            return path

        def changed(source, name, offset_from_package):
            with open(source, "rb") as f:
                data = bytearray(f.read())
            data[os.path.getsize(LAUNCHER) + 16 + offset_from_package] ^= 0x01
            path = self.path(name)
            with open(path, "wb") as f:
                f.write(data)
            return path

        good = setup("good.exe")
        cut = self.path("cut.exe")
        with open(good, "rb") as f, open(cut, "wb") as g:
            g.write(f.read()[:-100])
        with open(LAUNCHER, "rb") as f, open(two_file_cabinet(self.dir), "rb") as c:
            two = self.path("two.exe")
            with open(two, "wb") as g:
                g.write(f.read() + tirn_package.package(c.read(), 5))
        signed = self.path("signed.exe")
        cert = self.sign(good, signed)
        cases = [
            ("LZX", good, 0, None),
            ("MSZIP", setup("mszip.exe", "--compression", "mszip"), 0, None),
            ("stored", setup("stored.exe", "--compression", "none"), 0, None),
            ("signed after packing", signed, 0, None),
            ("one payload byte changed", changed(good, "changed.exe", 60000), 8, "checksum"),
            ("the cabinet's header changed", changed(good, "header.exe", 9), 8, "cabinet"),
            # A checksum of 0 is read as "none computed": size and headers hold.
            ("a block with no checksum, changed",
             self.first_block_patched(setup("stored-for-change.exe", "--compression", "none"),
                                      "unchecked.exe", flip_a_byte, checksum=False),
             8, "has no checksum"),
            ("a block larger than readers take",
             self.first_block_patched(good, "oversized.exe", lambda b: b + bytes(40000 - len(b))), 8,
             "more than the 38912 that readers take"),
            ("cut", cut, 4, "cut"),
            ("two-file cabinet", two, 5, "declares 2 files"),
            ("a file that is no program", setup("noprog.exe", installer=self.installer(50000, "x.exe")),
             8, "not a Windows program"),
            ("bare launcher", LAUNCHER, 4, "no package"),
            ("definition version 0", self.version_0_setup(program), 8, "definition version 0"),
            ("a name Windows forbids", self.renamed_setup(program, b"TirnHomeSetup?exe"), 8,
             "forbids"),
            ("a device's name", self.renamed_setup(program, b"CON\0"), 8, "device"),
            ("not a PE", self.installer(1000, "plain.bin"), 4, "not a PE"),
        ]
        for name, path, code, reason in cases:
            with self.subTest(name):
                linux = run("verify", "--json", path)
                windows = run_windows("verify", "--json", wine_path(path))
                self.assertEqual(linux.returncode, code, linux.stderr)
                self.assertEqual(windows.returncode, code, windows.stderr)
                linux_report, windows_report = json.loads(linux.stdout), json.loads(windows.stdout)
                self.assertEqual(linux_report["shippable"], code == 0)
                if reason:
                    self.assertIn(reason, linux_report["reason"])
                    self.assertEqual(linux_report["reason"], windows_report["reason"])
                    self.assertEqual(linux.stderr.count("\n"), 1, linux.stderr)
                else:
                    self.assertEqual(linux_report["decodedSize"], linux_report["file"]["size"])
                    self.assertEqual(windows_report["decodedSize"], linux_report["file"]["size"])
        self.assertEqual(json.loads(run("verify", "--json", signed).stdout)["signature"]["state"],
                         "intact")
        self.assertEqual(self.verify(signed, cert).returncode, 0)

    def first_block_patched(self, source, name, change, checksum=True, in_place=False):
        """source's package with its first data block's bytes made change(bytes),
        the block's size, its checksum (0 unless checksum) and the cabinet's
        size set to match. Packed after the launcher, or written over the
        package in a copy of source (in_place: same length)."""
        cabinet_path = self.path(name + ".cab")
        self.assertEqual(run("unpack", source, "-o", cabinet_path).returncode, 0)
        with open(cabinet_path, "rb") as f:
            cabinet = bytearray(f.read())
        block = struct.unpack_from("<I", cabinet, 36)[0]
        _, stored, frame = struct.unpack_from("<IHH", cabinet, block)
        changed = change(bytes(cabinet[block + 8:block + 8 + stored]))
        cabinet[block + 8:block + 8 + stored] = changed
        struct.pack_into("<IHH", cabinet, block,
                         tirn_package.data_block_checksum(changed, frame) if checksum else 0,
                         len(changed), frame)
        struct.pack_into("<I", cabinet, 8, len(cabinet))
        path = self.path(name)
        if in_place:
            report = json.loads(run("inspect", "--json", source).stdout)
            with open(source, "rb") as f:
                data = bytearray(f.read())
            start = report["trailerOffset"] + 16
            self.assertEqual(len(cabinet), report["payloadSize"])
            data[start:start + len(cabinet)] = tirn_package.scramble(bytes(cabinet))
        else:
            with open(LAUNCHER, "rb") as f:
                data = f.read() + tirn_package.package(bytes(cabinet), 5)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def cabinet_stored_as(self, installer, name, stored, cabinet):
        """A cabinet (gcab) of installer saved as name, whose stored name is
        then patched: stored written over its start. Its bytes."""
        saved = os.path.join(self.dir, "stored-as", name)
        os.makedirs(os.path.dirname(saved), exist_ok=True)
        shutil.copyfile(installer, saved)
        subprocess.run(["gcab", "-c", "-n", cabinet, saved], check=True)
        with open(cabinet, "rb") as f:
            data = bytearray(f.read())
        first_file = struct.unpack_from("<I", data, 16)[0]
        self.assertEqual(data[first_file + 16:first_file + 16 + len(name)], name.encode())
        data[first_file + 16:first_file + 16 + len(stored)] = stored
        return bytes(data)

    def renamed_setup(self, installer, stored):
        """A setup whose one file is stored under stored (patched into a
        cabinet of the installer saved as TirnHomeSetup.exe)."""
        cabinet = self.path("renamed.cab")
        data = self.cabinet_stored_as(installer, "TirnHomeSetup.exe", stored, cabinet)
        path = self.path("renamed-%d.exe" % len(stored))
        with open(LAUNCHER, "rb") as f, open(path, "wb") as g:
            g.write(f.read() + tirn_package.package(data, 5))
        # build takes no such cabinet either.
        with open(cabinet, "wb") as f:
            f.write(data)
        refused = run("build", "--launcher", LAUNCHER, "--definition-version", "5",
                      "--cab", cabinet, "-o", self.path("refused.exe"))
        self.assertEqual(refused.returncode, 5, refused.stderr)
        self.assertIn("stored name", refused.stderr)
        return path

    @linux_build_alone
    def test_build_refuses_an_installer_name_no_launcher_installs(self):
        for name, reason in (("Setup?.exe", "forbids"), ("setup.exe.", "dot"),
                             ("aux.exe", "device"), ("a" * 19 + ".exe", "units long")):
            with self.subTest(name):
                setup = self.path("named.exe")
                result = run("build", "--launcher", LAUNCHER, "--definition-version", "5",
                             "--installer", self.installer(1000, name), "-o", setup)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(reason, result.stderr)
                self.assertFalse(os.path.exists(setup))
        # The longest name that installs.
        longest = self.installer(1000, "a" * 18 + ".exe")
        self.assertEqual(run("build", "--launcher", LAUNCHER, "--definition-version", "5",
                             "--installer", longest, "-o", self.path("named.exe")).returncode, 0)

    def version_0_setup(self, installer):
        """Refused by build unless asked for; then made."""
        path = self.path("version-0.exe")
        refused = run("build", "--launcher", LAUNCHER, "--definition-version", "0",
                      "--installer", installer, "-o", path)
        self.assertEqual(refused.returncode, 2, refused.stderr)
        self.assertIn("definition version 0", refused.stderr)
        self.assertFalse(os.path.exists(path))
        made = run("build", "--launcher", LAUNCHER, "--definition-version", "0",
                   "--allow-version-0", "--installer", installer, "-o", path)
        self.assertEqual(made.returncode, 0, made.stderr)
        return path

    @linux_build_alone
    def test_inspect_reports_trailer_and_cabinet(self):
        installer = self.installer(5000)
        setup = self.path("setup.exe")
        self.build(installer, 4294967295, setup)
        result = run("inspect", "--json", setup)
        self.assertEqual(result.returncode, 0, result.stderr)
        report = json.loads(result.stdout)
        launcher_size = os.path.getsize(LAUNCHER)
        self.assertEqual(report["trailerOffset"], launcher_size)
        self.assertEqual(report["definitionVersion"], 4294967295)
        self.assertEqual(report["reserved"], 0)
        self.assertTrue(report["complete"])
        self.assertEqual(report["payloadSize"], os.path.getsize(setup) - launcher_size - 16)
        self.assertEqual([f["name"] for f in report["files"]], ["TirnHomeSetup.exe"])
        self.assertEqual(report["files"][0]["size"], 5000)
        with open(setup, "rb") as f:
            f.seek(launcher_size)
            magic, version, size, reserved = struct.unpack("<4sIII", f.read(16))
        self.assertEqual((magic, version, reserved), (b"TIRS", 4294967295, 0))

        text = run("inspect", setup)
        self.assertIn("package:            complete", text.stdout)

        # Any stored name, even one that is not UTF-8, gives valid JSON (build
        # takes no such installer: the setup is made from a patched cabinet).
        odd = os.path.join(os.fsencode(self.dir), b"odd-\xff\xfe.exe")
        with open(odd, "wb") as f:
            f.write(b"MZ" + bytes(1000))
        refused = subprocess.run([TIRN_PACK, "build", "--launcher", LAUNCHER,
                                  "--definition-version", "1", "--installer", odd, "-o",
                                  self.path("odd-setup.exe")], capture_output=True)
        self.assertEqual(refused.returncode, 2)
        self.assertIn(b"not UTF-8", refused.stderr)
        data = self.cabinet_stored_as(odd, "odd-xy.exe", b"odd-\xff\xfe", self.path("odd.cab"))
        setup = self.path("odd-setup.exe")
        with open(LAUNCHER, "rb") as f, open(setup, "wb") as g:
            g.write(f.read() + tirn_package.package(data, 1))
        for command in ("inspect", "verify"):
            result = subprocess.run([TIRN_PACK, command, "--json", setup], capture_output=True)
            report = json.loads(result.stdout.decode("utf-8"))
            self.assertIn(report["file"]["name"] if command == "verify" else report["files"][0]["name"],
                          ("odd-\ufffd\ufffd.exe", "odd-\ufffd.exe"))

    @linux_build_alone
    def test_repacking_replaces_the_package(self):
        setup = self.path("setup.exe")
        self.build(self.installer(300000), 1, setup)
        repacked = self.path("repacked.exe")
        self.build(self.installer(1000, "Other.exe"), 2, repacked, launcher=setup)
        report = json.loads(run("inspect", "--json", repacked).stdout)
        self.assertEqual(report["trailerOffset"], os.path.getsize(LAUNCHER))
        self.assertEqual(report["definitionVersion"], 2)
        self.assertEqual([f["name"] for f in report["files"]], ["Other.exe"])
        self.assertEqual(os.path.getsize(repacked), os.path.getsize(LAUNCHER) + 16 + report["payloadSize"])

    @linux_build_alone
    def test_ready_cabinet(self):
        cab = self.path("one.cab")
        installer = self.installer(2000)
        subprocess.run(["gcab", "-c", "-z", "-n", cab, installer], check=True)
        setup = self.path("setup.exe")
        result = run("build", "--launcher", LAUNCHER, "--definition-version", "9", "--cab", cab,
                     "-o", setup)
        self.assertEqual(result.returncode, 0, result.stderr)
        out = self.path("out.cab")
        self.assertEqual(run("unpack", setup, "-o", out).returncode, 0)
        with open(cab, "rb") as a, open(out, "rb") as b:
            self.assertEqual(a.read(), b.read())

    @linux_build_alone
    def test_failures_have_distinct_codes_and_leave_nothing(self):
        installer = self.installer(1000)
        setup = self.path("setup.exe")
        self.build(installer, 1, setup)
        cut = self.path("cut.exe")
        with open(setup, "rb") as f, open(cut, "wb") as g:
            g.write(f.read()[:-10])
        two = two_file_cabinet(self.dir)
        out = self.path("out.exe")
        cases = [
            ("no command", [], 2),
            ("unknown command", ["pack"], 2),
            ("missing version", ["build", "--launcher", LAUNCHER, "--installer", installer, "-o", out], 2),
            ("version too large", ["build", "--launcher", LAUNCHER, "--definition-version", "4294967296",
                                   "--installer", installer, "-o", out], 2),
            ("both inputs", ["build", "--launcher", LAUNCHER, "--definition-version", "1",
                             "--installer", installer, "--cab", two, "-o", out], 2),
            ("missing launcher", ["build", "--launcher", self.path("none.exe"), "--definition-version", "1",
                                  "--installer", installer, "-o", out], 3),
            ("missing installer", ["build", "--launcher", LAUNCHER, "--definition-version", "1",
                                   "--installer", self.path("none.exe"), "-o", out], 3),
            ("launcher not a PE", ["build", "--launcher", installer, "--definition-version", "1",
                                   "--installer", installer, "-o", out], 4),
            ("two-file cabinet", ["build", "--launcher", LAUNCHER, "--definition-version", "1",
                                  "--cab", two, "-o", out], 5),
            ("not a cabinet", ["build", "--launcher", LAUNCHER, "--definition-version", "1",
                               "--cab", installer, "-o", out], 5),
            ("output directory missing", ["build", "--launcher", LAUNCHER, "--definition-version", "1",
                                          "--installer", installer, "-o", self.path("no/out.exe")], 6),
            ("inspect bare launcher", ["inspect", LAUNCHER], 4),
            ("inspect cut package", ["inspect", cut], 4),
            ("unpack cut package", ["unpack", cut, "-o", out], 4),
            ("unpack bare launcher", ["unpack", LAUNCHER, "-o", out], 4),
        ]
        for name, args, code in cases:
            with self.subTest(name):
                before = sorted(os.listdir(self.dir))
                result = run(*args)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertTrue(result.stderr.startswith("tirn-pack: "), result.stderr)
                self.assertEqual(sorted(os.listdir(self.dir)), before)
        self.assertIn("cut", run("inspect", cut).stdout)
        self.assertIn("declares 2 files", run("build", "--launcher", LAUNCHER, "--definition-version",
                                              "1", "--cab", two, "-o", out).stderr)

    def sign(self, source, target):
        key, cert = self.path("key.pem"), self.path("cert.pem")
        if not os.path.exists(key):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                            "-subj", "/CN=Tirn test signing", "-keyout", key, "-out", cert],
                           check=True, capture_output=True)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", source,
                        "-out", target], check=True, capture_output=True)
        return cert

    def verify(self, setup, cert):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", setup],
                              capture_output=True, text=True)

    @linux_build_alone
    def test_signed_setups(self):
        setup = self.path("setup.exe")
        self.build(self.installer(200000), 6, setup)
        signed = self.path("signed.exe")
        cert = self.sign(setup, signed)
        self.assertEqual(self.verify(signed, cert).returncode, 0)
        # The package is still found and whole, the certificate table after it.
        report = json.loads(run("inspect", "--json", signed).stdout)
        self.assertEqual((report["definitionVersion"], report["complete"]), (6, True))
        self.assertEqual(report["signature"]["state"], "intact")
        self.assertEqual(run("unpack", signed, "-o", self.path("s.cab")).returncode, 0)
        # A byte changed in the payload breaks the signature.
        with open(signed, "rb") as f:
            data = bytearray(f.read())
        data[report["trailerOffset"] + 16 + 1000] ^= 0x01
        tampered = self.path("tampered.exe")
        with open(tampered, "wb") as f:
            f.write(data)
        self.assertNotEqual(self.verify(tampered, cert).returncode, 0)
        # Re-packing a signed setup drops the signature, and says so.
        repacked = self.path("repacked.exe")
        result = run("build", "--launcher", signed, "--definition-version", "7", "--installer",
                     self.installer(1000, "Other.exe"), "-o", repacked)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("is signed; its signature is dropped", result.stderr)
        self.assertNotEqual(self.verify(repacked, cert).returncode, 0)
        self.assertEqual(json.loads(run("inspect", "--json", repacked).stdout)["definitionVersion"], 7)
        signed_again = self.path("signed-again.exe")
        self.sign(repacked, signed_again)
        self.assertEqual(self.verify(signed_again, cert).returncode, 0)

    def test_verify_checks_that_the_signature_is_intact(self):
        """The digest a signature carries against the setup as it is: the
        Linux build through OpenSSL, the Windows build through the system's
        own (Wine's wintrust also sees a changed digest, but takes a
        self-signed certificate as trusted, so trust is compared on Linux
        only). A signer that is not trusted is reported, never failed."""
        program = self.path("TirnHomeSetup.exe")
        with open(PROBE, "rb") as f, open(program, "wb") as g:
            g.write(f.read() + os.urandom(60000) + bytes(60000))
        setup = self.path("stored.exe")
        self.assertEqual(run("build", "--launcher", LAUNCHER, "--definition-version", "5",
                             "--installer", program, "--compression", "none", "-o", setup).returncode, 0)
        signed = self.path("signed.exe")
        cert = self.sign(setup, signed)
        sha1 = self.path("signed-sha1.exe")
        subprocess.run(["osslsigncode", "sign", "-h", "sha1", "-certs", cert, "-key",
                        self.path("key.pem"), "-in", setup, "-out", sha1], check=True,
                       capture_output=True)
        # Whole and well formed: its only fault is that it is not what was signed.
        changed = self.first_block_patched(signed, "changed.exe", flip_a_byte, in_place=True)
        self.assertNotEqual(self.verify(changed, cert).returncode, 0)
        appended = self.path("appended.exe")
        with open(signed, "rb") as f, open(appended, "wb") as g:
            g.write(f.read() + b"\0" * 8)

        def der_end(table):
            return 8 + 4 + struct.unpack_from(">H", table, 10)[0]  # 30 82 HH LL

        def forged(table):  # a byte of the signer's RSA signature, at the DER's end
            table = bytearray(table)
            table[der_end(table) - 10] ^= 0x01
            return bytes(table)

        def grown_entry(table):  # junk after the signed data, inside its entry
            end = der_end(table)
            table = table[:end] + b"\x07" * (16 + (8 - end % 8) % 8)
            return struct.pack("<I", len(table)) + table[4:]

        unsigned_part = bytes.fromhex("300b06092a864886f70d010702")  # PKCS#7 signed data, empty
        with open(signed, "rb") as f:
            removed = bytearray(f.read())
        struct.pack_into("<II", removed, self.certificate_entry(removed), 0, 0)
        removed[0x50] ^= 0x01  # in the DOS stub's message: only the signature covers it
        removed_path = self.path("removed.exe")
        with open(removed_path, "wb") as f:
            f.write(removed)
        fingerprint = json.loads(run("verify", "--json", signed).stdout)["signature"]["signerFingerprint"]
        signer = "Tirn test signing"
        cases = [
            ("intact, SHA-256", signed, [], 0, "intact", "SHA-256", signer),
            ("intact, SHA-1", sha1, [], 0, "intact", "SHA-1", signer),
            ("intact, its signer named", signed, ["--signer", fingerprint.upper()], 0, "intact",
             "SHA-256", signer),
            ("changed after signing, checksums made right", changed, [], 8, "broken",
             "digest does not match", signer),
            ("bytes after the signature", appended, [], 8, "broken", "8 bytes follow the signature",
             None),
            ("the signer's signature changed", self.with_table(signed, "forged.exe", forged), [], 8,
             "broken", "signer's signature does not verify", signer),
            ("a second entry in the table", self.with_table(signed, "second.exe", lambda t: t + t),
             [], 8, "broken", "more than one signature", None),
            ("bytes after the signed data", self.with_table(signed, "grown.exe", grown_entry), [], 8,
             "broken", "bytes follow the signature's signed data", None),
            ("signed data without its signed part",
             self.with_table(signed, "empty.exe",
                             lambda t: struct.pack("<IHH", 24, 0x200, 2) + unsigned_part + bytes(3)),
             [], 8, "broken", "cannot be read", None),
            ("signature removed, then changed, a signature required", removed_path,
             ["--require-signature"], 8, "none", "not signed", None),
            ("signed by another", signed, ["--signer", "00" + fingerprint], 8, "intact",
             "not the one --signer names", signer),
        ]
        for name, path, args, code, state, detail, signer in cases:
            with self.subTest(name):
                linux = run("verify", "--json", *args, path)
                windows = run_windows("verify", "--json", *args, wine_path(path))
                self.assertEqual((linux.returncode, windows.returncode), (code, code),
                                 linux.stderr + windows.stderr)
                for report in (json.loads(linux.stdout), json.loads(windows.stdout)):
                    self.assertEqual(report["signature"]["state"], state)
                    self.assertEqual(report["signature"].get("signer"), signer)
                    if code:
                        self.assertIn(detail, report["reason"])
                    else:
                        self.assertEqual(report["signature"]["digest"], detail)
                        self.assertEqual(report["signature"]["signerFingerprint"], fingerprint)
                inspected = json.loads(run("inspect", "--json", path).stdout)["signature"]
                self.assertEqual(inspected["state"], state)
                if code == 0:
                    self.assertEqual(inspected["trusted"], False)
                    self.assertIn("self-signed", inspected["trust"])
        self.assertEqual(json.loads(run("inspect", "--json", setup).stdout)["signature"],
                         {"state": "none"})

    def certificate_entry(self, image):
        """File offset of a PE's certificate-table entry (PE32 or PE32+)."""
        pe = struct.unpack_from("<I", image, 60)[0]
        return pe + 24 + (144 if struct.unpack_from("<H", image, pe + 24)[0] == 0x20B else 128)

    def with_table(self, signed, name, change):
        """signed with its certificate table made change(table), the
        table's entry set to its new size."""
        with open(signed, "rb") as f:
            data = bytearray(f.read())
        entry = self.certificate_entry(data)
        offset, size = struct.unpack_from("<II", data, entry)
        table = change(bytes(data[offset:offset + size]))
        data = data[:offset] + table
        struct.pack_into("<II", data, entry, offset, len(table))
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    @linux_build_alone
    def test_help_and_version(self):
        self.assertIn("tirn-pack build", run("--help").stdout)
        self.assertTrue(run("--version").stdout.startswith("tirn-pack "))

    def test_the_launchers_own_reader_sees_the_version_written(self):
        for version in (1, 1234, 0x7FFFFFFF):
            with self.subTest(version=version):
                setup = self.path("probe-setup.exe")
                self.build(self.installer(70000), version, setup, launcher=PROBE)
                result = subprocess.run([WINE_RUN, setup], capture_output=True, text=True)
                self.assertEqual(result.stdout.strip(), str(version))

    @linux_build_alone
    def test_both_launcher_builds_are_taken_and_named_and_no_other(self):
        """A PE32 i386 and a PE32+ AMD64 launcher are packed, inspected and
        verified alike, each named; any other machine, or a header whose
        machine and optional-header magic disagree, is refused."""
        def patched(name, machine=None, magic=None):
            with open(LAUNCHER, "rb") as f:
                data = bytearray(f.read())
            pe = struct.unpack_from("<I", data, 60)[0]
            if machine is not None:
                struct.pack_into("<H", data, pe + 4, machine)
            if magic is not None:
                struct.pack_into("<H", data, pe + 24, magic)
            path = self.path(name)
            with open(path, "wb") as f:
                f.write(data)
            return path

        def kind_of(launcher):
            with open(launcher, "rb") as f:
                data = f.read(4096)
            pe = struct.unpack_from("<I", data, 60)[0]
            return {0x14C: "PE32 i386", 0x8664: "PE32+ AMD64"}[struct.unpack_from("<H", data, pe + 4)[0]]

        # The probe under a name that installs (its own is too long for one).
        probe = self.path("Probe.exe")
        shutil.copyfile(PROBE, probe)
        kinds = {kind_of(LAUNCHER), kind_of(OTHER_LAUNCHER)}
        self.assertEqual(kinds, {"PE32 i386", "PE32+ AMD64"})
        for launcher in (LAUNCHER, OTHER_LAUNCHER):
            kind = kind_of(launcher)
            with self.subTest(kind):
                setup = self.path("setup.exe")
                result = run("build", "--launcher", launcher, "--definition-version", "3",
                             "--installer", probe, "-o", setup)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("launcher " + kind, result.stdout)
                self.assertEqual(json.loads(run("inspect", "--json", setup).stdout)["launcher"], kind)
                self.assertIn("launcher:           " + kind, run("inspect", setup).stdout)
                verified = run("verify", "--json", setup)
                self.assertEqual(verified.returncode, 0, verified.stderr)
                self.assertEqual(json.loads(verified.stdout)["launcher"], kind)
        others = [
            ("ARM64", patched("arm64.exe", machine=0xAA64)),
            ("i386 machine, PE32+ header", patched("mixed.exe", machine=0x14C, magic=0x20B)),
            ("AMD64 machine, PE32 header", patched("mixed2.exe", machine=0x8664, magic=0x10B)),
        ]
        for name, launcher in others:
            with self.subTest(name):
                result = run("build", "--launcher", launcher, "--definition-version", "3",
                             "--installer", probe, "-o", self.path("o.exe"))
                self.assertEqual(result.returncode, 4, result.stderr)
                self.assertIn("not a launcher", result.stderr)
                self.assertFalse(os.path.exists(self.path("o.exe")))
                with open(launcher, "rb") as f, open(PROBE, "rb") as p:
                    setup = self.path("other-setup.exe")
                    with open(setup, "wb") as g:
                        g.write(f.read() + tirn_package.package(p.read(), 3))
                verified = run("verify", "--json", setup)
                self.assertEqual(verified.returncode, 4, verified.stderr)
                self.assertIn("neither a PE32 i386 nor a PE32+ AMD64", json.loads(verified.stdout)["reason"])
                self.assertEqual(json.loads(run("inspect", "--json", setup).stdout)["launcher"], "none")


if __name__ == "__main__":
    # Arguments after the six above go to unittest (-k PATTERN picks tests).
    unittest.main(argv=[sys.argv[0], *sys.argv[7:]], verbosity=2)
