#!/bin/sh
# Signs files with Authenticode (SHA-256) in place and verifies each signature:
# kvca.dll, kvca-run.exe, kvca-check.exe and the installation package.
#
#   KVCA_SIGN_PKCS12=cert.p12 KVCA_SIGN_PASSWORD=... tools/sign.sh FILE...
#
# From the environment:
#   KVCA_SIGN_PKCS12     the PKCS#12 file with the code-signing key, its
#                        certificate and the chain (required)
#   KVCA_SIGN_PASSWORD   its password (required; may be empty)
#   KVCA_SIGN_TIMESTAMP  an RFC 3161 time-stamp server's URL (optional)
#   KVCA_SIGN_CAFILE     the root certificates to verify against (PEM;
#                        default: the system's list)
#   KVCA_SIGN_TSA_CAFILE the time-stamp server's roots (PEM; with a timestamp)
#   KVCA_SIGN_TIME       the signing time in Unix seconds (optional; default now)
# The password goes to osslsigncode through a file readable by this user only,
# never on a command line. Exit code 1 when a file cannot be signed or its
# signature does not verify; the file is then left as it was.
set -eu
: "${KVCA_SIGN_PKCS12:?the PKCS#12 file (KVCA_SIGN_PKCS12)}"
[ "${KVCA_SIGN_PASSWORD+set}" = set ] || { echo "sign.sh: KVCA_SIGN_PASSWORD is not set" >&2; exit 1; }
[ $# -gt 0 ] || { echo "usage: tools/sign.sh FILE..." >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is not installed (tools/install-deps.sh)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(umask 077 && printf '%s' "$KVCA_SIGN_PASSWORD" > "$work/password")

for file in "$@"; do
  set -- -pkcs12 "$KVCA_SIGN_PKCS12" -readpass "$work/password" -h sha256 -n "Korvex CSP"
  [ -n "${KVCA_SIGN_TIMESTAMP:-}" ] && set -- "$@" -ts "$KVCA_SIGN_TIMESTAMP"
  [ -n "${KVCA_SIGN_TIME:-}" ] && set -- "$@" -time "$KVCA_SIGN_TIME"
  rm -f "$work/signed"
  if ! osslsigncode sign "$@" -in "$file" -out "$work/signed" >"$work/log" 2>&1; then
    echo "sign.sh: cannot sign $file:" >&2; cat "$work/log" >&2; exit 1
  fi
  set -- -in "$work/signed"
  [ -n "${KVCA_SIGN_CAFILE:-}" ] && set -- "$@" -CAfile "$KVCA_SIGN_CAFILE"
  [ -n "${KVCA_SIGN_TSA_CAFILE:-}" ] && set -- "$@" -TSA-CAfile "$KVCA_SIGN_TSA_CAFILE"
  if ! osslsigncode verify "$@" >"$work/log" 2>&1; then
    echo "sign.sh: the signature of $file does not verify:" >&2; cat "$work/log" >&2; exit 1
  fi
  cat "$work/signed" > "$file"
  echo "signed: $file"
done
