#!/usr/bin/env bash
# A staging place that cannot be written: the directory read-only (empty, or
# holding an earlier run's files), or the staging file read-only in a
# writable directory. The road must fail cleanly: the launcher ends normally,
# records no version, changes no file and starts nothing, not even an
# installer left by an earlier run. Made read-only with the immutable flag:
# Wine running as root writes through the read-only attribute.
#   staging-read-only.sh SETUP STAND_IN WINE_RUN
set -euo pipefail
setup=$1
stand_in=$2
wine_run=$3
. "$(dirname "$wine_run")/wine-env"
staging="$WINEPREFIX/drive_c/users/$(id -un)/Temp/TirnHome2014"

unlock() { chattr -R -i "$staging" 2>/dev/null || true; }
trap 'unlock; rm -rf "$staging"' EXIT
unlock
rm -rf "$staging"
mkdir -p "$staging"
if ! chattr +i "$staging" 2>/dev/null; then
    echo "the immutable flag cannot be set here"
    exit 77
fi
chattr -i "$staging"

failures=0
for case in "empty read-only directory" "read-only directory with an earlier run" \
            "read-only staging file"; do
    unlock
    rm -rf "$staging"
    mkdir -p "$staging"
    if [ "$case" != "empty read-only directory" ]; then
        printf 'an earlier cabinet' >"$staging/TirnHomeSetup.cab"
        cp "$stand_in" "$staging/TirnHomeSetup.exe"
    fi
    case $case in
        "read-only staging file") chattr +i "$staging/TirnHomeSetup.cab" ;;
        *) chattr -R +i "$staging" ;;
    esac
    before=$(cd "$staging" && ls -A | xargs -r sha1sum)
    "$wine_run" reg delete 'HKLM\Software\Tirn' /reg:32 /f >/dev/null 2>&1 || true
    status=0
    "$wine_run" "$setup" || status=$?
    sleep 1  # an installer started at the very end would have written its note by now
    after=$(cd "$staging" && ls -A | { grep -v '\.started$' || true; } | xargs -r sha1sum)
    recorded=no
    "$wine_run" reg query 'HKLM\Software\Tirn' /reg:32 /v DefinitionVersion >/dev/null 2>&1 && recorded=yes
    started=no
    [ -e "$staging/TirnHomeSetup.exe.started" ] && started=yes
    echo "$case: exit code $status, version recorded: $recorded, installer started: $started," \
         "files changed: $([ "$before" = "$after" ] && echo no || echo yes)"
    if [ "$status" -ne 0 ] || [ $recorded = yes ] || [ $started = yes ] || [ "$before" != "$after" ]; then
        failures=$((failures + 1))
    fi
done
[ $failures -eq 0 ]
