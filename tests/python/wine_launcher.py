"""What the bench and the reliability run set up around a launcher under
Wine: the installation record, written whole, and another launcher's marker
held by the window probe."""
import subprocess
import time

MARKER_CAPTION = "Tirn Home 2018 Setup"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def _quiet(wine_run, *args):
    return subprocess.run([wine_run, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _registry(wine_run, *args):
    # reg.exe's start can fail under a loaded wineserver: a record half
    # written would be another case than the one measured.
    for _ in range(3):
        if _quiet(wine_run, "reg", *args).returncode == 0:
            return
        time.sleep(0.5)
    raise SystemExit("reg %s failed three times" % " ".join(args))


def set_record(wine_run, install_dir=None, version=None):
    """The record as a product installed in install_dir with version would
    leave it; none at all by default."""
    _quiet(wine_run, "reg", "delete", r"HKLM\Software\Tirn", "/reg:32", "/f")  # fails when none
    if install_dir:
        _registry(wine_run, "add", r"HKLM\Software\Tirn", "/reg:32", "/v", "szTirnDir", "/d",
                  windows_path(install_dir), "/f")
    if version is not None:
        _registry(wine_run, "add", r"HKLM\Software\Tirn", "/reg:32", "/v", "DefinitionVersion",
                  "/t", "REG_DWORD", "/d", str(version), "/f")


def hold_marker(wine_run, probe, ms):
    """A running launcher's hidden marker, held for ms by the window probe
    once this returns; kill() the process to let it go."""
    holder = subprocess.Popen([wine_run, probe, "hold-dialog", MARKER_CAPTION, str(ms)],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    if not holder.stdout.readline().startswith("holding"):
        holder.kill()
        raise SystemExit("the marker dialog could not be held")
    return holder
