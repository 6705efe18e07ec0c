#!/bin/sh
# Installs the host ZIP as a user would and runs the test host on it:
#   install-under-wine.sh PREFIX ZIP TEST_EXE VERSION
# The ZIP is unpacked into C:\Programme\Mein Hôst\Blöcke\ of the Wine
# prefix: a path with blanks and letters outside ASCII, as on German
# Windows. The test host then loads the DLL from there.
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

exec "$root/scripts/wine-prefix.sh" run "$prefix" "$exe" \
  --dll "C:\\Programme\\Mein Hôst\\Blöcke\\$folder\\UDPSV2Simulink.dll" --version "$version" \
  --gtest_color=no
