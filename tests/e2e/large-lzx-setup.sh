#!/usr/bin/env bash
# A setup of more than 1.2 GiB packed with LZX:21, the default. After frame
# 32768 (the first 1 GiB of output) the x86 call translation stops, which is
# where decoders have differed; the installer is real x86 and x64 code
# (Wine's own DLLs), so there are calls to translate on both sides of it.
# The package must decode byte-exactly with cabextract (libmspack), to its
# stated size in tirn-pack verify (libmspack again), byte-exactly with Wine's
# extrac32 (the system's cabinet library), and install byte-exactly through
# the launcher's road, whose installer then starts.
#
# In two steps, so that the native work (packing at 4 MB/s and more, the
# libmspack checks) runs beside the other tests, and only what starts Wine
# runs alone:
#   large-lzx-setup.sh pack DIR TIRN_PACK LAUNCHER STAND_IN EFFORT
#   large-lzx-setup.sh road DIR TIRN_PACK WINE_RUN
# The packer's effort is given: the default is packed once, by the suite
# that runs on every host.
set -euo pipefail
step=$1
work=$2
tirn_pack=$3
installer=$work/TirnHomeSetup.exe
failures=0
check() {  # check WHAT FILE: FILE holds the installer's bytes
    local got want
    want=$(cat "$work/installer.sha256")
    got=$(sha256sum <"$2" 2>/dev/null | cut -d' ' -f1 || true)
    if [ "$got" = "$want" ]; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

if [ "$step" = pack ]; then
launcher=$4
stand_in=$5
effort=$6
rm -rf "$work"
mkdir -p "$work"
trap 'rm -f "$installer"' EXIT  # only its digest is kept for the road
python3 - "$stand_in" "$installer" $((1290 * 1024 * 1024)) <<'PY'
import os, sys
stand_in, path, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
folders = ["/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows"]
names = [os.path.join(d, n) for d in folders if os.path.isdir(d) for n in sorted(os.listdir(d))]
names = [n for n in names if os.path.isfile(n)]
if not names:
    sys.exit("no Windows DLLs of Wine's to build the installer from")
with open(path, "wb") as out:
    out.write(open(stand_in, "rb").read())
    left = size - out.tell()
    while left > 0:
        for name in names:
            data = open(name, "rb").read(left)
            out.write(data)
            left -= len(data)
            if left <= 0:
                break
PY
sha256sum <"$installer" | cut -d' ' -f1 >"$work/installer.sha256"
echo "installer: $(stat -c %s "$installer") bytes, sha256 $(cut -c1-16 "$work/installer.sha256")"

"$tirn_pack" build --launcher "$launcher" --definition-version 5 --installer "$installer" \
    --effort "$effort" -o "$work/setup.exe"
"$tirn_pack" inspect "$work/setup.exe" | grep -E 'setup:|TirnHomeSetup.exe'
"$tirn_pack" inspect "$work/setup.exe" | grep -q 'LZX:21' || { echo "FAILED: not LZX:21"; exit 1; }
if "$tirn_pack" verify "$work/setup.exe" | grep 'decoded by'; then
    echo "ok: tirn-pack verify (libmspack, to the stated size)"
else
    echo "FAILED: tirn-pack verify"; failures=$((failures + 1))
fi
"$tirn_pack" unpack "$work/setup.exe" -o "$work/package.cab"

cabextract -q -d "$work/cabextract" "$work/package.cab"
check "cabextract (libmspack)" "$work/cabextract/TirnHomeSetup.exe"
rm -rf "$work/cabextract" "$work/package.cab"
[ $failures -eq 0 ] || { rm -rf "$work"; exit 1; }
exit 0
fi

# The road: what starts Wine.
wine_run=$4
. "$(dirname "$wine_run")/wine-env"
staging="$WINEPREFIX/drive_c/users/$(id -un)/Temp/TirnHome2014"
trap 'rm -rf "$work" "$staging"' EXIT
[ -f "$work/setup.exe" ] || { echo "FAILED: no packed setup in $work"; exit 1; }
"$tirn_pack" unpack "$work/setup.exe" -o "$work/package.cab"
"$wine_run" extrac32 /Y /E /L "Z:${work//\//\\}\\extrac32" "Z:${work//\//\\}\\package.cab" \
    >/dev/null 2>&1 || true
check "Wine's extrac32 (the system's cabinet library)" "$work/extrac32/TirnHomeSetup.exe"
rm -rf "$work/extrac32" "$work/package.cab"

# The road: no record, so the launcher installs.
"$wine_run" reg delete 'HKLM\Software\Tirn' /reg:32 /f >/dev/null 2>&1 || true
rm -rf "$staging"*
status=0
"$wine_run" "$work/setup.exe" || status=$?
for _ in $(seq 600); do [ -f "$staging/TirnHomeSetup.exe.started" ] && break; sleep 0.1; done
echo "launcher exit code: $status"
[ -f "$staging/TirnHomeSetup.exe.started" ] && echo "ok: the installer started" ||
    { echo "FAILED: the installer did not start"; failures=$((failures + 1)); }
check "the launcher's road" "$staging/TirnHomeSetup.exe"
"$wine_run" reg delete 'HKLM\Software\Tirn' /reg:32 /f >/dev/null 2>&1 || true
[ $failures -eq 0 ]
