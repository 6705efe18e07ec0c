#!/usr/bin/env bash
# The release in one command, on a fresh Debian machine as on a warm one:
# installs what is missing, builds what is needed of the presets win32 and
# native, and collects in dist/ (or DIR):
#   UDPSV2Simulink-<version>-win32.zip          the stripped DLL, the user
#                                               guide (README.txt), the changes
#   UDPSV2Simulink-<version>-win32-symbols.zip  the DLL's debug information
#   udpsv-tools_<version>_<arch>.deb            the Linux tools
#   SHA256SUMS                                  over all three
# The version is the CMake project version; the names come from the build.
#   scripts/release.sh [--out DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

out=dist
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=${2:?--out DIR}; shift 2 ;;
    *) echo "usage: $0 [--out DIR]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh all

echo "== win32: the DLL and the host packages"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target package_host
echo "== native: the tools package"
cmake --preset native >/dev/null
cmake --build --preset native --target package_tools

# Only what the two package targets made: their folders hold nothing else.
rm -rf "$out"
mkdir -p "$out"
cp build/win32/packages/*.zip build/native/packages/*.deb "$out"/
(
  cd "$out"
  sha256sum -- *.zip *.deb > SHA256SUMS
  sha256sum --quiet -c SHA256SUMS
)
echo "== release in $out:"
ls -l "$out"
