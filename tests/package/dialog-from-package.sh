#!/bin/sh
# The parameter dialog of the DLL as unpacked from the host ZIP: the dialog
# test program is put beside the DLL in C:\Programme\Mein Hôst\Blöcke\...,
# where it loads the DLL from, and a short run of it opens the dialog.
#   dialog-from-package.sh ZIP DIALOG_TEST_EXE   (with DISPLAY and WINEPREFIX set)
set -eu
zip=$1 exe=$2
export LC_ALL=C.UTF-8

blocks="$WINEPREFIX/drive_c/Programme/Mein Hôst/Blöcke"
rm -rf "$WINEPREFIX/drive_c/Programme"
mkdir -p "$blocks"
unzip -q "$zip" -d "$blocks"
folder=$(basename "$zip" .zip)
cp "$exe" "$blocks/$folder/"
cd "$blocks/$folder"
# Bounded, longer than the two dialog sessions' own guards (120 s each), so
# that a stuck session is reported by the test itself.
timeout 400 wine "C:\\Programme\\Mein Hôst\\Blöcke\\$folder\\$(basename "$exe")" --gtest_color=no \
  "--gtest_filter=Dialog.OpensLaidOutOwnedAndOnTopWithTheFocusOnOK:Dialog.ALongAddressIsTypedInFullBesideTheInputsPair"
test -s parameter-dialog.png
