#!/usr/bin/env python3
"""The compression corpus: contents of different kinds, 32 to 200 MiB each,
made from the files of Debian packages (scripts/install-deps installs them;
`bench` adds the two that only the bench needs). Each content is the named
files' bytes one after another, in the order given, cut at its size; so
anyone with the same packages makes the same bytes.

Run alone, it writes the contents into a folder:
    bench/corpus.py DIR [NAME...]"""
import os
import sys

MIB = 1 << 20


def files_under(*folders, suffixes=None):
    """Regular files under the folders (links skipped), in sorted path order."""
    names = []
    for folder in folders:
        for directory, _, files in os.walk(folder):
            for name in files:
                path = os.path.join(directory, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                if suffixes and not name.endswith(suffixes):
                    continue
                names.append(path)
    return sorted(names)


def alternate(first, second):
    """One file of each list in turn, as an installer mixes its kinds."""
    mixed = []
    for a, b in zip(first, second):
        mixed += [a, b]
    longer = first if len(first) > len(second) else second
    return mixed + longer[min(len(first), len(second)):]


WINE32 = "/usr/lib/i386-linux-gnu/wine/i386-windows"
WINE64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"

# name: (what it is, its package, its files, its size cap). The first is the
# bench content of the single-content goals.
CONTENTS = {
    "x86-programs": ("32-bit Windows programs: Wine's DLLs and EXEs", "wine32",
                     lambda: files_under(WINE32), 200 * MIB),
    "x64-programs": ("64-bit Windows programs: Wine's DLLs and EXEs", "wine64",
                     lambda: files_under(WINE64), 200 * MIB),
    "java": ("Java byte code: the runtime's class image (lib/modules)",
             "openjdk-17-jre-headless",
             lambda: ["/usr/lib/jvm/java-17-openjdk-amd64/lib/modules"], 200 * MIB),
    "headers": ("C and C++ headers: /usr/include after install-deps", "(the -dev packages)",
                lambda: files_under("/usr/include"), 100 * MIB),
    "generated-headers": ("generated C headers: MinGW-w64's Windows headers, most made from IDL",
                          "mingw-w64-common",
                          lambda: files_under("/usr/share/mingw-w64/include"), 200 * MIB),
    "documentation": ("documentation: Python's HTML manual and its text sources",
                      "python3.11-doc", lambda: files_under("/usr/share/doc/python3.11"),
                      200 * MIB),
    "compressed-mixed": ("compressed media mixed with code: the PNG icons and gzip'd documents "
                         "under /usr/share/icons and /usr/share/doc, one file in turn with "
                         "Wine's 64-bit DLLs from the last name down",
                         "(installed packages), wine64",
                         lambda: alternate(files_under("/usr/share/icons", "/usr/share/doc",
                                                       suffixes=(".png", ".gz")),
                                           files_under(WINE64)[::-1]), 100 * MIB),
}


def write_content(name, out):
    """Appends the content's bytes to the open file out; returns how many.
    BENCH_CORPUS_MIB cuts every content shorter, to try the bench quickly."""
    _, _, files, size = CONTENTS[name]
    left = min(size, int(os.environ.get("BENCH_CORPUS_MIB", size >> 20)) * MIB)
    written = 0
    for path in files():
        if left <= 0:
            break
        with open(path, "rb") as f:
            data = f.read(left)
        out.write(data)
        left -= len(data)
        written += len(data)
    return written


def describe(name):
    what, package, files, size = CONTENTS[name]
    return what, package, size


if __name__ == "__main__":
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name in sys.argv[2:] or CONTENTS:
        with open(os.path.join(folder, name), "wb") as out:
            n = write_content(name, out)
        print("%-18s %6.1f MiB" % (name, n / MIB))
