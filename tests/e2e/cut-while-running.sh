#!/usr/bin/env bash
# A setup whose file is cut while the launcher copies its payload out of the
# mapping (a download being replaced, a share going away): the read error
# must end the road with a failure, and the launcher must end normally
# instead of crashing.
#   cut-while-running.sh LAUNCHER WINE_RUN
set -euo pipefail
launcher=$1
wine_run=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
setup=$work/TirnHomeISSetup.exe

python3 - "$launcher" "$setup" <<'PY'
import struct, sys
image = open(sys.argv[1], "rb").read()
size = 800 * 1000 * 1000
with open(sys.argv[2], "wb") as f:
    f.write(image + b"TIRS" + struct.pack("<III", 5, size, 0))
    f.write(bytes(size))
PY
. "$(dirname "$wine_run")/wine-env"
# No installation record: the launcher must take the unpacking road.
"$wine_run" reg delete 'HKLM\Software\Tirn' /reg:32 /f >/dev/null 2>&1 || true
staged="$WINEPREFIX/drive_c/users/$(id -un)/Temp/TirnHome2014/TirnHomeSetup.cab"
rm -f "$staged"
"$wine_run" "$setup" &
pid=$!
# Cut the file once the copy is under way.
for _ in $(seq 400); do
    [ -f "$staged" ] && [ "$(stat -c %s "$staged")" -gt 20000000 ] && break
    sleep 0.01
done
truncate -s 400000 "$setup"
status=0
wait $pid || status=$?
echo "launcher exit code: $status, staged $(stat -c %s "$staged") of 800000000 bytes"
[ "$status" -eq 110 ]  # the staging file could not be written
[ "$(stat -c %s "$staged")" -lt 800000000 ]
