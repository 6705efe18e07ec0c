#!/usr/bin/env bash
# Installs what the builds, the tests and the demo need on a Debian 12 or 13
# machine (it stops on any other system, saying so).
#   install-deps.sh demo     what scripts/demo.sh needs to build and run: compilers,
#                            CMake, GoogleTest and Google Benchmark (the build
#                            configures with its tests), and dygraphs for the live plot
#   install-deps.sh demo-wine  the above, plus mingw-w64 and Wine (i386) for --wine
#   install-deps.sh native   everything of the native stages: clang, clang-format, valgrind, dpkg-dev
#                            for the Debian package's dependencies, lintian and strace
#                            for its checks, the receiving side's clients (Octave
#                            with instrument-control, tshark, Chromium), and stress-ng
#                            for scripts/test-all.sh --load
#   install-deps.sh all      the above, plus mingw-w64 (both thread models), Wine (i386),
#                            Xvfb, unzip for the tests of the host package,
#                            osslsigncode to sign it, and the locales whose code
#                            pages (932, 1251) the Wine tests also run under
#   install-deps.sh root     mmdebstrap, which scripts/debian-root.sh makes a fresh root
#                            of a Debian release with
# Packages already present are not fetched again, so a warm machine skips apt.
set -euo pipefail

scope=${1:-all}
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# Debian 12 and 13 name every package below alike (libclang-rt-dev is the
# sanitizer runtime of the default clang: 14 on 12, 19 on 13); a release
# whose names differ gets its own choice here.
os() { (. /etc/os-release 2>/dev/null && eval "echo \"\${$1:-}\""); }
case "$(os ID):$(os VERSION_ID)" in
  debian:12 | debian:13) ;;
  *)
    echo "install-deps.sh: this is $(os PRETTY_NAME || true);" \
      "the builds know the packages of Debian 12 and 13 only. Run the commands on one of" \
      "those (amd64), as README.md says; nothing was installed." >&2
    exit 1
    ;;
esac

demo=(build-essential cmake g++ python3 libgtest-dev libgmock-dev libbenchmark-dev libjs-dygraphs)
wine=(g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386)
native=("${demo[@]}" clang clang-format libclang-rt-dev valgrind dpkg-dev lintian strace
        octave octave-instrument-control tshark chromium stress-ng)
win32=("${wine[@]}" g++-mingw-w64-i686-win32 xvfb xauth x11-utils fonts-wine imagemagick unzip
       osslsigncode locales-all)

case "$scope" in
  demo) want=("${demo[@]}") ;;
  demo-wine) want=("${demo[@]}" "${wine[@]}") ;;
  native) want=("${native[@]}") ;;
  all) want=("${native[@]}" "${win32[@]}") ;;
  root) want=(mmdebstrap) ;;
  *) echo "usage: $0 demo|demo-wine|native|all|root" >&2; exit 2 ;;
esac
if [[ " ${want[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
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
