#!/usr/bin/env bash
# The release in one command, on a fresh Debian machine as on a warm one:
# installs what is missing, builds what is needed of the presets win32 and
# native, and collects in dist/ (or DIR):
#   UDPSV2Simulink-<version>-win32.zip          the stripped DLL and the two
#                                               programs, README.txt, the
#                                               guide, the changes
#   UDPSV2Simulink-<version>-win32-symbols.zip  the DLL's debug information
#   udpsv-tools_<version>_<arch>.deb            the Linux tools
#   SHA256SUMS                                  over all three
# The version is the CMake project version; the names come from the build.
#   scripts/release.sh [--out DIR] [--sign CERT.pfx [--timestamp URL]]
# --sign signs the DLL and the two programs with Authenticode (scripts/sign.sh),
# the certificate's password taken from SV_SIGN_PASSWORD; --timestamp names
# an RFC 3161 time-stamp server. Without --sign the release is unsigned, and
# its CHANGES.txt says so.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: $0 [--out DIR] [--sign CERT.pfx [--timestamp URL]]" >&2; exit 2; }
out=dist
cert=""
timestamp=""
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=${2:?--out DIR}; shift 2 ;;
    --sign) cert=$(realpath -e "${2:?--sign CERT.pfx}") || usage; shift 2 ;;
    --timestamp) timestamp=${2:?--timestamp URL}; shift 2 ;;
    *) usage ;;
  esac
done
if [ -n "$timestamp" ] && [ -z "$cert" ]; then usage; fi
if [ -n "$cert" ] && [ -z "${SV_SIGN_PASSWORD+set}" ]; then
  echo "$0: set SV_SIGN_PASSWORD to the password of $cert (empty when it has none)" >&2
  exit 2
fi

scripts/install-deps.sh all

echo "== win32: the DLL and the host packages${cert:+, signed}"
# Set on every run, so that a release without --sign is never signed by an
# earlier one's settings.
cmake --preset win32 -DSV_SIGN_CERT="$cert" -DSV_SIGN_TIMESTAMP="$timestamp" >/dev/null
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
