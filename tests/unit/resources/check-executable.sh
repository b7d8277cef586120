#!/usr/bin/env bash
# The launcher is a GUI program, a PE32 for i386 or a PE32+ for AMD64, that
# imports system DLLs only: no C++ run-time, libgcc or winpthread DLL beside
# it. At load time it binds kernel32 and the C run-time library alone: the
# other system libraries are bound on first call, after the library search
# was restricted to the system directory. It carries no link time stamp.
#   check-executable.sh LAUNCHER.exe
set -euo pipefail
exe=$1
description=$(file -b "$exe")
echo "$description"
case "$description" in
    "PE32 executable (GUI) Intel 80386"*", for MS Windows"*) objdump=i686-w64-mingw32-objdump ;;
    "PE32+ executable (GUI) x86-64"*", for MS Windows"*) objdump=x86_64-w64-mingw32-objdump ;;
    *) echo "neither a PE32 GUI i386 nor a PE32+ GUI x86-64 executable" >&2; exit 1 ;;
esac
allowed=' KERNEL32.dll msvcrt.dll '
status=0
headers=$(TZ=UTC "$objdump" -p "$exe")
for dll in $(awk '/DLL Name:/ {print $3}' <<<"$headers"); do
    echo "imports $dll"
    case "$allowed" in
        *" $dll "*) ;;
        *) echo "unexpected import: $dll" >&2; status=1 ;;
    esac
done
grep -q '^Time/Date[[:space:]]*Thu Jan  1 00:00:00 1970' <<<"$headers" \
    || { echo "carries a link time stamp: $(grep '^Time/Date' <<<"$headers")" >&2; status=1; }
for flag in DYNAMIC_BASE NX_COMPAT; do
    grep -q "$flag" <<<"$headers" || { echo "not $flag" >&2; status=1; }
done
case "$objdump" in
    i686*)  # The mapping of a large own file needs the room above 2 GiB.
        grep -q 'large address aware' <<<"$headers" \
            || { echo "not large-address aware" >&2; status=1; } ;;
    x86_64*)
        grep -q 'HIGH_ENTROPY_VA' <<<"$headers" || { echo "not HIGH_ENTROPY_VA" >&2; status=1; } ;;
esac
exit $status
