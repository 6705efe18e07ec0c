#!/bin/sh
# Installs the host ZIP as a user would and runs the test host on it:
#   install-under-wine.sh PREFIX ZIP TEST_EXE VERSION
# The ZIP is unpacked into C:\Programme\Mein Hôst\Blöcke\ of the Wine
# prefix: a path with blanks and letters outside ASCII, as on German
# Windows. Its DLL and programs are signed there as a release signs them
# (scripts/sign.sh), with a certificate made here and thrown away: each
# signature must verify, and the test host then loads the signed DLL.
set -eu
prefix=$1 zip=$2 exe=$3 version=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
# File names and arguments reach Wine as UTF-8.
export LC_ALL=C.UTF-8

"$root/scripts/wine-prefix.sh" init "$prefix"
case "$prefix" in /*) ;; *) prefix="$(pwd)/$prefix" ;; esac
blocks="$prefix/drive_c/Programme/Mein Hôst/Blöcke"
rm -rf "$prefix/drive_c/Programme"
mkdir -p "$blocks"
unzip -q "$zip" -d "$blocks"
folder=$(basename "$zip" .zip)
test -f "$blocks/$folder/UDPSV2Simulink.dll"

keys=$(mktemp -d)
trap 'rm -rf "$keys"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=UDPSV2Simulink test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -passout pass:Prüfung \
  -out "$keys/cert.pfx"
for name in UDPSV2Simulink.dll udpsv-recv.exe udpsv-selftest.exe; do
  file="$blocks/$folder/$name"
  SV_SIGN_PASSWORD=Prüfung "$root/scripts/sign.sh" --cert "$keys/cert.pfx" "$file" >/dev/null
  osslsigncode verify -CAfile "$keys/cert.pem" -in "$file" >"$keys/verify.txt" 2>&1 &&
    grep -q "^Signature verification: ok" "$keys/verify.txt" ||
    { echo "the signature of $name does not verify:"; cat "$keys/verify.txt"; exit 1; }
  echo "$name: signed, and the signature verifies"
done

"$root/scripts/wine-prefix.sh" run "$prefix" "$exe" \
  --dll "C:\\Programme\\Mein Hôst\\Blöcke\\$folder\\UDPSV2Simulink.dll" --version "$version" \
  --gtest_color=no
