#!/usr/bin/env bash
# A setup of more than 1.2 GiB packed with LZX:21, the default. After frame
# 32768 (the first 1 GiB of output) the x86 call translation stops, which is
# where decoders have differed; the installer holds real x86 and x64 code
# (Wine's own DLLs) on both sides of that frame, so there are calls to
# translate before it and calls to leave alone after it. The rest is zeros:
# they pack in seconds, where real code all the way took minutes.
# The package must decode byte-exactly with cabextract (libmspack), to its
# stated size in tirn-pack verify (libmspack again), byte-exactly with Wine's
# extrac32 (the system's cabinet library), and install byte-exactly through
# the launcher's road, whose installer then starts.
#   large-lzx-setup.sh TIRN_PACK LAUNCHER STAND_IN WINE_RUN
set -euo pipefail
tirn_pack=$1
launcher=$2
stand_in=$3
wine_run=$4
. "$(dirname "$wine_run")/wine-env"
staging="$WINEPREFIX/drive_c/users/$(id -un)/Temp/TirnHome2014"
work=$(mktemp -d "${TMPDIR:-/tmp}/tirn-large-lzx-XXXXXX")
trap 'rm -rf "$work" "$staging"' EXIT
installer=$work/TirnHomeSetup.exe

python3 - "$stand_in" "$installer" <<'PY'
import os, sys
stand_in, path = sys.argv[1], sys.argv[2]
boundary, size = 1 << 30, 1290 << 20
real_from, real_to = boundary - (32 << 20), boundary + (64 << 20)
folders = ["/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows"]
names = [os.path.join(d, n) for d in folders if os.path.isdir(d) for n in sorted(os.listdir(d))]
names = [n for n in names if os.path.isfile(n)]
if not names:
    sys.exit("no Windows DLLs of Wine's to build the installer from")
with open(path, "wb") as out:
    out.write(open(stand_in, "rb").read())
    out.seek(real_from)
    left = real_to - real_from
    while left > 0:
        for name in names:
            data = open(name, "rb").read(left)
            out.write(data)
            left -= len(data)
            if left <= 0:
                break
    out.truncate(size)
PY
want=$(sha256sum <"$installer" | cut -d' ' -f1)
echo "installer: $(stat -c %s "$installer") bytes, sha256 ${want:0:16}"
failures=0
check() {  # check WHAT FILE: FILE holds the installer's bytes
    local got
    got=$(sha256sum <"$2" 2>/dev/null | cut -d' ' -f1 || true)
    if [ "$got" = "$want" ]; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

"$tirn_pack" build --launcher "$launcher" --definition-version 5 --installer "$installer" \
    -o "$work/setup.exe"
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
rm -rf "$work/cabextract"
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
