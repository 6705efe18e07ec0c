#!/usr/bin/env bash
# Installs what the builds, the tests and the demo need on a Debian machine.
#   install-deps.sh native   compilers, GoogleTest, Google Benchmark, clang, dpkg-dev
#                            for the Debian package's dependencies, and the receiving
#                            side's clients and libraries (Octave with instrument-control,
#                            tshark, Chromium, cpp-httplib, dygraphs), and stress-ng for
#                            scripts/test-all.sh --load
#   install-deps.sh all      the above, plus mingw-w64 (both thread models), Wine (i386),
#                            Xvfb, and unzip for the tests of the host package
# Packages already present are not fetched again, so a warm machine skips apt.
set -euo pipefail

scope=${1:-all}
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

native=(build-essential cmake g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
        libbenchmark-dev valgrind python3 pkg-config dpkg-dev
        libcpp-httplib-dev libjs-dygraphs octave octave-instrument-control tshark chromium
        stress-ng)
win32=(g++-mingw-w64-i686 g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
       wine wine32:i386 xvfb xauth x11-utils fonts-wine imagemagick unzip)

want=("${native[@]}")
if [ "$scope" = all ]; then
  want+=("${win32[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  # tshark's package asks whether non-root users may capture; the tests
  # capture as root, so the answer is no, given up front so nothing waits.
  echo "wireshark-common wireshark-common/install-setuid boolean false" |
    $sudo debconf-set-selections
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
echo "== dependencies ready ($scope)"
