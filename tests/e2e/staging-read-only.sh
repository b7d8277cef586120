#!/usr/bin/env bash
# A staging place that cannot be written: the directory read-only (empty, or
# holding an earlier run's files), or the staging file read-only in a
# writable directory. Each run makes its staging directory new, so the road
# goes on in a new one (the place's own name when what stands there can be
# moved aside, a random name when not): the launcher ends normally, the
# installer starts from the new directory, never the one left by an earlier
# run, and nothing read-only is changed. Made read-only with the immutable
# flag: Wine running as root writes through the read-only attribute.
#   staging-read-only.sh SETUP STAND_IN WINE_RUN
set -euo pipefail
setup=$1
stand_in=$2
wine_run=$3
. "$(dirname "$wine_run")/wine-env"
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
staging=$temp/TirnHome2014

places() { ls -d "$temp"/Tirn* 2>/dev/null || true; }
unlock() { for p in $(places); do chattr -R -i "$p" 2>/dev/null || true; done; }
clear() { unlock; for p in $(places); do rm -rf "$p"; done; }
hashes() { find "$@" -type f ! -name '*.started' -exec sha1sum {} + 2>/dev/null | awk '{print $1}' | sort; }
trap clear EXIT
clear
mkdir -p "$staging"
if ! chattr +i "$staging" 2>/dev/null; then
    echo "the immutable flag cannot be set here"
    exit 77
fi
clear

failures=0
for case in "empty read-only directory" "read-only directory with an earlier run" \
            "read-only staging file"; do
    clear
    mkdir -p "$staging"
    if [ "$case" != "empty read-only directory" ]; then
        printf 'an earlier cabinet' >"$staging/TirnHomeSetup.cab"
        cp "$stand_in" "$staging/TirnHomeSetup.exe"
    fi
    case $case in
        "read-only staging file") chattr +i "$staging/TirnHomeSetup.cab"; kept=$(hashes "$staging/TirnHomeSetup.cab") ;;
        *) chattr -R +i "$staging"; kept=$(hashes "$staging") ;;
    esac
    "$wine_run" reg delete 'HKLM\Software\Tirn' /reg:32 /f >/dev/null 2>&1 || true
    status=0
    "$wine_run" "$setup" || status=$?
    started=$(ls "$temp"/Tirn*/TirnHomeSetup.exe.started 2>/dev/null | head -1 || true)
    for _ in $(seq 50); do [ -n "$started" ] && break; sleep 0.1
        started=$(ls "$temp"/Tirn*/TirnHomeSetup.exe.started 2>/dev/null | head -1 || true); done
    started_in=$(dirname "${started:-none/x}")
    # Every read-only file is still there, unchanged, wherever it now is.
    missing=$(comm -23 <(echo "$kept" | sed '/^$/d') <(hashes $(places)))
    recorded=no
    "$wine_run" reg query 'HKLM\Software\Tirn' /reg:32 /v DefinitionVersion >/dev/null 2>&1 && recorded=yes
    fresh=no
    [ -n "$started" ] && [ -z "$(lsattr -d "$started_in" 2>/dev/null | cut -d' ' -f1 | tr -d -- '-e')" ] && fresh=yes
    echo "$case: exit code $status, version recorded: $recorded," \
         "installer started in: ${started_in#$temp/} (made by this run: $fresh)," \
         "read-only files changed or lost: $([ -z "$missing" ] && echo no || echo yes)"
    if [ "$status" -ne 0 ] || [ $recorded = no ] || [ $fresh = no ] || [ -n "$missing" ]; then
        failures=$((failures + 1))
    fi
done
[ $failures -eq 0 ]
