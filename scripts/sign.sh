#!/usr/bin/env bash
# Signs Windows programs and DLLs in place with Authenticode (osslsigncode):
#   scripts/sign.sh --cert CERT.pfx [--timestamp URL] FILE...
# The certificate's password comes from the environment, SV_SIGN_PASSWORD
# (empty for a certificate without one), never from the command line, where
# every user of the machine could read it. --timestamp has a time-stamp
# server (RFC 3161) countersign, so that the signature stays valid after the
# certificate expires. The build calls this when SV_SIGN_CERT is set
# (scripts/release.sh --sign).
set -euo pipefail

usage() { echo "usage: $0 --cert CERT.pfx [--timestamp URL] FILE..." >&2; exit 2; }
cert="" timestamp=()
while [ $# -gt 0 ]; do
  case "$1" in
    --cert) cert=${2:?--cert CERT.pfx}; shift 2 ;;
    --timestamp) timestamp=(-ts "${2:?--timestamp URL}"); shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ -n "$cert" ] && [ $# -gt 0 ] || usage
[ -f "$cert" ] || { echo "$0: no certificate $cert" >&2; exit 2; }
if [ -z "${SV_SIGN_PASSWORD+set}" ]; then
  echo "$0: set SV_SIGN_PASSWORD to the certificate's password (empty when it has none)" >&2
  exit 2
fi
command -v osslsigncode >/dev/null ||
  { echo "$0: osslsigncode is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }

for file in "$@"; do
  # The password through a pipe of this shell, which only osslsigncode reads.
  if ! osslsigncode sign -pkcs12 "$cert" -readpass <(printf '%s' "$SV_SIGN_PASSWORD") \
      -h sha256 -n UDPSV2Simulink "${timestamp[@]}" -in "$file" -out "$file.signed" >/dev/null; then
    rm -f "$file.signed"
    echo "$0: could not sign $file" >&2
    exit 1
  fi
  mv "$file.signed" "$file"
  echo "signed $file"
done
