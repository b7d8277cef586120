#!/usr/bin/env bash
# The staging directory is a link to somewhere else (on Windows a junction
# that a user process made in its own temporary directory; here a host link,
# which Wine shows as a reparse point): the elevated launcher must refuse it,
# write nothing through it and start nothing.
#   staging-link.sh SETUP WINE_RUN
set -euo pipefail
setup=$1
wine_run=$2
. "$(dirname "$wine_run")/wine-env"
# No installation record: the launcher must take the unpacking road.
"$wine_run" reg delete 'HKLM\Software\Tirn' /reg:32 /f >/dev/null 2>&1 || true
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
staging=$temp/TirnHome2014
target=$(mktemp -d)
trap 'rm -f "$staging"; rm -rf "$target"' EXIT
rm -rf "$staging"
ln -s "$target" "$staging"
status=0
# wine returns when the launcher has ended: whatever it wrote is written.
"$wine_run" "$setup" || status=$?
echo "launcher exit code: $status; written through the link: $(ls -A "$target" | tr '\n' ' ')"
[ "$status" -eq 0 ]
[ -z "$(ls -A "$target")" ]
