#!/bin/sh
# Authenticode-signs release files (DLLs and MSIs) in place with SHA-256, when a certificate is
# given: TESSARY_SIGN_PKCS12 names a PKCS#12 file and TESSARY_SIGN_PASSWORD_FILE a file holding its
# password. With neither set, the files stay unsigned and the build goes on; with one only, it
# stops, since that is a half-done setup rather than a choice.
# Optional: TESSARY_SIGN_TIMESTAMP, an RFC 3161 time-stamping server's URL; TESSARY_SIGN_CAFILE, the
# CA certificates a signature must verify against. Without a CA file the check is only that a
# signature is there: a chain whose root is not in the system's store fails osslsigncode's verify.
# usage: sign.sh FILE...
set -eu

fail() {
  echo "sign.sh: $*" >&2
  exit 1
}

[ $# -gt 0 ] || fail "usage: sign.sh FILE..."
for f in "$@"; do
  [ -f "$f" ] && [ -r "$f" ] || fail "$f: no such readable file"
done

p12=${TESSARY_SIGN_PKCS12:-}
passfile=${TESSARY_SIGN_PASSWORD_FILE:-}
if [ -z "$p12" ] && [ -z "$passfile" ]; then
  echo "unsigned: $*"
  exit 0
fi
[ -n "$p12" ] || fail "TESSARY_SIGN_PASSWORD_FILE is set but TESSARY_SIGN_PKCS12 is not"
[ -n "$passfile" ] || fail "TESSARY_SIGN_PKCS12 is set but TESSARY_SIGN_PASSWORD_FILE is not"
[ -f "$p12" ] && [ -r "$p12" ] || fail "TESSARY_SIGN_PKCS12: $p12: no such readable file"
[ -f "$passfile" ] && [ -r "$passfile" ] || fail "TESSARY_SIGN_PASSWORD_FILE: $passfile: no such readable file"
cafile=${TESSARY_SIGN_CAFILE:-}
[ -z "$cafile" ] || [ -r "$cafile" ] || fail "TESSARY_SIGN_CAFILE: $cafile: no such readable file"
command -v osslsigncode >/dev/null 2>&1 || fail "osslsigncode not found (Debian package osslsigncode)"

# The signed file is written and checked beside the original and renamed over it only then: an
# interrupted or refused signing leaves the original as it was.
sign() {
  if [ -n "${TESSARY_SIGN_TIMESTAMP:-}" ]; then
    osslsigncode sign -pkcs12 "$p12" -readpass "$passfile" -h sha256 -n "vba Tessary" \
      -ts "$TESSARY_SIGN_TIMESTAMP" -in "$1" -out "$2"
  else
    osslsigncode sign -pkcs12 "$p12" -readpass "$passfile" -h sha256 -n "vba Tessary" -in "$1" -out "$2"
  fi
}

out=""
log=$(mktemp)
trap 'rm -f "$log"; [ -z "$out" ] || rm -f "$out" "$out.sig"' EXIT
trap 'exit 1' INT TERM HUP

for f in "$@"; do
  out=$f.signing
  rm -f "$out" "$out.sig"
  if ! sign "$f" "$out" >"$log" 2>&1; then
    cat "$log" >&2
    fail "$f: osslsigncode sign failed"
  fi
  if [ -n "$cafile" ]; then
    if ! osslsigncode verify -CAfile "$cafile" -in "$out" >"$log" 2>&1; then
      cat "$log" >&2
      fail "$f: the signature does not verify against TESSARY_SIGN_CAFILE ($cafile)"
    fi
  elif ! osslsigncode extract-signature -in "$out" -out "$out.sig" >"$log" 2>&1 || [ ! -s "$out.sig" ]; then
    cat "$log" >&2
    fail "$f: no signature found in the signed file"
  fi
  # osslsigncode creates its output 0644 less umask; the DLL keeps the mode the linker gave it.
  mode=$(stat -c %a "$f" 2>/dev/null) && chmod "$mode" "$out"
  mv -f "$out" "$f"
  rm -f "$out.sig"
  out=""
  echo "signed: $f (sha256)"
done
