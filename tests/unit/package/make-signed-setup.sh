#!/usr/bin/env bash
# Makes a signed setup from a test program: a package (version 9, 64-byte
# payload) appended, then Authenticode-signed with a throwaway certificate, so
# that a certificate table follows the payload.
#   make-signed-setup.sh PROGRAM.exe OUTPUT.exe
set -euo pipefail
program=$1
output=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$program" "$work/setup.exe"
python3 - "$work/setup.exe" <<'PY'
import struct, sys
with open(sys.argv[1], 'ab') as f:
    f.write(b'TIRS' + struct.pack('<III', 9, 64, 0) + bytes(range(64)))
PY
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Tirn test signing' \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Tirn Home 2018 Setup" \
    -in "$work/setup.exe" -out "$work/signed.exe" >/dev/null
# The certificate table must really come after the payload.
osslsigncode extract-signature -in "$work/signed.exe" -out "$work/sig.der" >/dev/null
mv "$work/signed.exe" "$output"
