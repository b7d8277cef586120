#!/usr/bin/env python3
"""make reliability: runs each outcome of the launcher many times in a row
under Wine and checks that every process ends by itself with exit code 0 and
leaves no window behind. Writes docs/reliability.md.
Usage: repeat-outcomes.py [RUNS]"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CROSS = os.path.join(ROOT, "build", "cross")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
LAUNCHER = os.path.join(ROOT, "build", "bin", "TirnHomeISSetup.exe")
PROBE = os.path.join(CROSS, "helpers", "WindowProbe.exe")
STAND_IN = os.path.join(CROSS, "tests", "e2e", "StandInProgram.exe")
SETUPS = os.path.join(CROSS, "tests", "e2e", "setups")
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 100
WORK = tempfile.mkdtemp(prefix="tirn-repeat-")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def quiet(*args):
    return subprocess.run([WINE_RUN, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def record(install_dir=None, version=None):
    quiet("reg", "delete", r"HKLM\Software\Tirn", "/f")
    if install_dir:
        quiet("reg", "add", r"HKLM\Software\Tirn", "/v", "szTirnDir", "/d",
              windows_path(install_dir), "/f")
    if version is not None:
        quiet("reg", "add", r"HKLM\Software\Tirn", "/v", "DefinitionVersion", "/t", "REG_DWORD",
              "/d", str(version), "/f")


def launcher_windows():
    listing = subprocess.run([WINE_RUN, PROBE, "list"], capture_output=True, text=True).stdout
    return [l for l in listing.splitlines() if "Tirn Home" in l or "[1000]" in l]


def run_once(setup, close_message_box=False):
    process = subprocess.Popen([WINE_RUN, setup], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    if close_message_box:
        subprocess.run([WINE_RUN, PROBE, "close-message-box", "Tirn Home", "20000"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        code = process.wait(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        return "hung"
    return "ok" if code == 0 else "exit %d" % code


def main():
    product = os.path.join(WORK, "product")
    os.makedirs(product)
    shutil.copy(STAND_IN, os.path.join(product, "TirnHome.exe"))
    standin_setup = os.path.join(SETUPS, "standin-v5.exe")
    holder = None
    outcomes = [
        ("quit (another launcher's marker)", LAUNCHER, lambda: None, False),
        ("refuse (Tir.exe present)", standin_setup,
         lambda: (shutil.copy(STAND_IN, os.path.join(product, "Tir.exe")), record(product, 1)), True),
        ("start the installed product", standin_setup,
         lambda: (os.path.exists(os.path.join(product, "Tir.exe")) and
                  os.remove(os.path.join(product, "Tir.exe")), record(product, 5)), False),
        ("fresh installation without a package", LAUNCHER, lambda: record(), False),
        ("upgrade, installer started", standin_setup, lambda: record(product, 1), False),
    ]
    rows = []
    for name, setup, prepare, close in outcomes:
        if name.startswith("quit"):
            holder = subprocess.Popen([WINE_RUN, PROBE, "hold-dialog", "Tirn Home 2018 Setup",
                                       "3600000"], stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL, text=True)
            holder.stdout.readline()
        failures = {}
        start = time.time()
        for _ in range(RUNS):
            prepare()
            result = run_once(setup, close)
            if result != "ok":
                failures[result] = failures.get(result, 0) + 1
        if holder:
            holder.kill()
            holder.wait()
            holder = None
        left = launcher_windows()
        rows.append((name, RUNS, sum(failures.values()), ", ".join(
            "%s: %d" % kv for kv in failures.items()) or "none", len(left), time.time() - start))
        print("%s: %d runs, %d failures %s, %d windows left, %.0f s" % (
            name, RUNS, sum(failures.values()), failures, len(left), time.time() - start), flush=True)
    record()
    shutil.rmtree(WORK)
    with open(os.path.join(ROOT, "docs", "reliability.md"), "w") as f:
        f.write("# Reliability\n\nEach outcome run %d times in a row under Wine by "
                "`make reliability` (`tests/reliability/repeat-outcomes.py`): every launcher "
                "must end by itself (no hang) with exit code 0 (no fault), and leave no "
                "window behind.\n\n| outcome | runs | failures | kinds | windows left | "
                "seconds |\n|---|---|---|---|---|---|\n" % RUNS)
        for r in rows:
            f.write("| %s | %d | %d | %s | %d | %.0f |\n" % r)
        f.write("\nAlso covered by `make test`: hostile and broken packages "
                "(`UnpackingRoad.HostilePackagesEndCleanly`: a trailer cut at each of its 16 "
                "bytes, a zero-byte payload, a payload size near 4 GiB, a traversal name, a "
                "continued file, 200 files), a setup cut while it runs, two launchers started "
                "at the same moment, the user dismissing the progress window, a planted "
                "`Cabinet.dll`, signed setups, and the fuzzers (`make fuzz` for longer runs).\n")
    sys.exit(0 if all(r[2] == 0 and r[4] == 0 for r in rows) else 1)


if __name__ == "__main__":
    main()
