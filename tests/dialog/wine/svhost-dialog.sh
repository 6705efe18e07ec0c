#!/bin/sh
# `svhost dialog` end to end: a model is written, its dialog opened and
# confirmed with a new port by dialog_clicker, and the saved model shows it.
#   svhost-dialog.sh SVHOST PLUGIN CLICKER WORKDIR   (with DISPLAY and WINEPREFIX set)
set -eu
svhost=$1 plugin=$2 clicker=$3 work=$4
mkdir -p "$work"
cd "$work"
rm -f dialog.svm
wine "$svhost" new dialog.svm --plugin "$plugin" --port 1600 --inputs 5
wine "$clicker" 4711 &
clicker_pid=$!
# Bounded, so that a dialog nobody closes fails the test instead of hanging
# it; longer than the clicker waits, so that its own failure is reported.
timeout 150 wine "$svhost" dialog "$plugin" dialog.svm
wait $clicker_pid
wine "$svhost" show dialog.svm --plugin "$plugin" > show.txt
cat show.txt
grep -q 'line 3: "4711"' show.txt
grep -q '5 inputs reported' show.txt
