#!/usr/bin/env python3
"""make reliability: runs each outcome of the launcher many times in a row
under Wine and checks that every process ends by itself with the exit code of its
outcome and leaves no window behind. Writes docs/reliability.md.
Usage: repeat-outcomes.py [RUNS]"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# TIRN_WINE_ARCH=win64: the x64 launcher and tests (make reliability sets it
# where the host runs no 32-bit program).
X64 = os.environ.get("TIRN_WINE_ARCH") == "win64"
CROSS = os.path.join(ROOT, "build", "cross64" if X64 else "cross")
WINE_RUN = os.path.join(ROOT, "scripts", "wine64-run" if X64 else "wine-run")
LAUNCHER = os.path.join(ROOT, "build", "bin", "x64" if X64 else "", "TirnHomeISSetup.exe")
PROBE = os.path.join(CROSS, "helpers", "WindowProbe.exe")
STAND_IN = os.path.join(CROSS, "tests", "e2e", "StandInProgram.exe")
SETUPS = os.path.join(CROSS, "tests", "e2e", "setups")
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 100
WORK = tempfile.mkdtemp(prefix="tirn-repeat-")

sys.path.insert(0, os.path.join(ROOT, "tests", "python"))
import wine_launcher  # noqa: E402
from wine_launcher import hold_marker  # noqa: E402


def record(install_dir=None, version=None):
    wine_launcher.set_record(WINE_RUN, install_dir, version)


def launcher_windows():
    listing = subprocess.run([WINE_RUN, PROBE, "list"], capture_output=True, text=True).stdout
    return [l for l in listing.splitlines() if "Tirn Home" in l or "[1000]" in l]


def temporary_directory():
    """The prefix's %TEMP% as a Linux path: where every run's log is made."""
    windows = subprocess.run([WINE_RUN, "cmd", "/c", "echo %TEMP%"], capture_output=True,
                             text=True).stdout.strip()
    return subprocess.run([WINE_RUN, "winepath", "-u", windows], capture_output=True,
                          text=True).stdout.strip()


def logs_in(directory):
    return set(glob.glob(os.path.join(directory, "TirnHomeISSetup_*.log")))


def run_once(setup, close_message_box=False, expected=0):
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
    # Wine hands on the low 8 bits of the launcher's exit code.
    return "ok" if code == expected & 0xFF else "exit %d" % code


def main():
    temp = temporary_directory()
    if not os.path.isdir(temp):
        raise SystemExit("repeat-outcomes: the prefix's temporary directory is not found (%r)" % temp)
    product = os.path.join(WORK, "product")
    os.makedirs(product)
    shutil.copy(STAND_IN, os.path.join(product, "TirnHome.exe"))
    standin_setup = os.path.join(SETUPS, "standin-v5.exe")
    holder = None
    # Each with the exit code it must end with (the README's table).
    outcomes = [
        ("quit (another launcher's marker)", LAUNCHER, lambda: None, False, 1618),
        ("refuse (Tir.exe present)", standin_setup,
         lambda: (shutil.copy(STAND_IN, os.path.join(product, "Tir.exe")), record(product, 1)), True,
         1638),
        ("start the installed product", standin_setup,
         lambda: (os.path.exists(os.path.join(product, "Tir.exe")) and
                  os.remove(os.path.join(product, "Tir.exe")), record(product, 5)), False, 0),
        ("fresh installation without a package", LAUNCHER, lambda: record(), False, 107),
        ("upgrade, installer started", standin_setup, lambda: record(product, 1), False, 0),
    ]
    rows = []
    for name, setup, prepare, close, expected in outcomes:
        if name.startswith("quit"):
            holder = hold_marker(WINE_RUN, PROBE, 3600000)
        failures = {}
        not_started = 0
        start = time.time()
        for _ in range(RUNS):
            for _ in range(3):
                prepare()
                before = logs_in(temp)
                result = run_once(setup, close, expected)
                # Exit code 1 and no log: Wine did not start the program (it
                # happens under a loaded wineserver), the launcher never ran.
                # Tried again, and said.
                if result != "exit 1" or logs_in(temp) != before:
                    break
                not_started += 1
            if result != "ok":
                failures[result] = failures.get(result, 0) + 1
        if holder:
            holder.kill()
            holder.wait()
            holder = None
        left = launcher_windows()
        kinds = ["%s: %d" % kv for kv in failures.items()]
        if not_started:
            kinds.append("not started by Wine, tried again: %d" % not_started)
        rows.append((name, RUNS, sum(failures.values()), ", ".join(kinds) or "none", len(left),
                     time.time() - start))
        print("%s: %d runs, %d failures %s, %d windows left, %.0f s" % (
            name, RUNS, sum(failures.values()), kinds, len(left), time.time() - start), flush=True)
    record()
    shutil.rmtree(WORK)

    # The other checks, run here too so that the report gives their figures.
    checks = []
    for name, pattern, cases in (
            ("hostile and broken packages (trailer cut at each of 16 bytes, zero payload, size "
             "near 4 GiB, traversal name, continued file, 200 files)", "HostilePackagesEndCleanly", 21),
            ("a setup cut while it runs", "SetupCutWhileItRunsEndsCleanly", 1),
            ("two launchers started at the same moment (5 attempts)", "TwoLaunchersStartedTogether", 5),
            ("a second launcher started while one unpacks", "BlocksASecondLauncher", 1),
            ("the user dismisses the progress window (Enter, Escape, Alt+F4)",
             "UserDismissingTheProgressWindow", 3),
            ("the progress window dismissed at 6 moments of 2 roads, then a full run",
             "DismissingTheWindowAtAnyMoment", 14),
            ("a planted Cabinet.dll beside the program", "PlantedCabinetLibrary", 1),
            ("a marker DLL under 18 system names beside the setup, on 3 roads",
             "LibrariesOfSystemNamesBesideTheSetup", 3),
            ("a staging place taken by a file, a link or a held directory (passed over for a "
             "random name), or a staging file held open by another process (left alone)",
             "ATakenStagingPlaceIsPassedOver|AStagingFileHeldOpenElsewhereIsLeftAlone", 2),
            ("a read-only staging directory (empty, or with an earlier run), a read-only "
             "staging file", "AReadOnlyStagingPlace", 3),
            ("signed setups (sign, verify, tamper, re-pack)", "tirn_pack_end_to_end", 1)):
        result = subprocess.run(["ctest", "-R", pattern], cwd=CROSS, capture_output=True, text=True)
        # A pattern that matches no test is no pass: ctest says so and exits 0.
        passed = result.returncode == 0 and "No tests were found" not in result.stdout + result.stderr
        checks.append((name, cases, 0 if passed else cases, "ctest -R '%s'" % pattern))
        print("%s: %s" % (name, "ok" if passed else "FAILED"), flush=True)
    fuzz = subprocess.run([os.path.join(ROOT, "tests", "fuzz", "run-fuzzers.sh"), "60", LAUNCHER],
                          capture_output=True, text=True)
    target = None
    for line in fuzz.stdout.splitlines():
        if line.startswith("== "):
            target = line.split()[1].rstrip(":")
        elif line.startswith("stat::number_of_executed_units:") and target:
            checks.append(("fuzzing " + target + " for 60 s", int(line.split()[1]),
                           0 if fuzz.returncode == 0 else 1, "FUZZ_SECONDS=60 make fuzz"))
    print(fuzz.stdout, flush=True)

    with open(os.path.join(ROOT, "docs", "reliability.md"), "w") as f:
        f.write("# Reliability\n\nEach outcome run %d times in a row under Wine by "
                "`make reliability` (`tests/reliability/repeat-outcomes.py`): every launcher "
                "must end by itself (no hang) with the exit code of its outcome (no fault), and leave no "
                "window behind. A run that Wine did not start (exit code 1 and no log made: the "
                "launcher never ran) is tried again, up to three times, and counted under kinds."
                "\n\n| outcome | runs | failures | kinds | windows left | "
                "seconds |\n|---|---|---|---|---|---|\n" % RUNS)
        for r in rows:
            f.write("| %s | %d | %d | %s | %d | %.0f |\n" % r)
        f.write("\nThe other checks, also part of `make test` (the fuzzers there run 10 s "
                "each); every case must end without a fault, write nothing outside the "
                "staging directory and start nothing it should not:\n\n"
                "| check | cases or executions | failures | command (ctest in build/%s) |\n|---|---|---|---|\n"
                % os.path.basename(CROSS))
        for name, cases, failed, command in checks:
            # A pipe inside a table cell, code or not, is escaped.
            f.write("| %s | %d | %d | `%s` |\n" % (name, cases, failed, command.replace("|", "\\|")))
    sys.exit(0 if all(r[2] == 0 and r[4] == 0 for r in rows) and all(c[2] == 0 for c in checks)
             else 1)


if __name__ == "__main__":
    main()
