#!/usr/bin/env bash
# The launcher is a PE32 GUI program for i386 that imports system DLLs only:
# no C++ run-time, libgcc or winpthread DLL beside it. At load time it binds
# kernel32 and the C run-time library alone: the other system libraries are
# bound on first call, after the library search was restricted to the system
# directory.
set -euo pipefail
exe=$1
description=$(file -b "$exe")
echo "$description"
case "$description" in
    "PE32 executable (GUI) Intel 80386"*", for MS Windows"*) ;;
    *) echo "not a PE32 GUI i386 executable" >&2; exit 1 ;;
esac
allowed=' KERNEL32.dll msvcrt.dll '
status=0
headers=$(i686-w64-mingw32-objdump -p "$exe")
for dll in $(awk '/DLL Name:/ {print $3}' <<<"$headers"); do
    echo "imports $dll"
    case "$allowed" in
        *" $dll "*) ;;
        *) echo "unexpected import: $dll" >&2; status=1 ;;
    esac
done
# Large-address aware: the mapping of a large own file needs the room.
grep -q 'large address aware' <<<"$headers" \
    || { echo "not large-address aware" >&2; status=1; }
exit $status
