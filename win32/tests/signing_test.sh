#!/bin/sh
# packaging/sign.sh with a throwaway code-signing certificate (a CA of its own and a leaf with the
# codeSigning purpose): each file signed verifies against that CA, and not against another one, nor
# once a byte of its content is changed; an unsigned copy does not verify. Without the variables
# the files stay as they were; with one of the two, or a wrong password, or a CA file the signature
# does not verify against, sign.sh fails and leaves the file untouched.
# usage: signing_test.sh FILE...   (the release files: DLLs, MSIs)
set -u
here=$(cd "$(dirname "$0")" && pwd)
sign=$here/../../packaging/sign.sh

for tool in osslsigncode openssl; do
  command -v $tool >/dev/null 2>&1 || { echo "skip: $tool is not installed"; exit 77; }
done
[ $# -gt 0 ] || { echo "usage: signing_test.sh FILE..."; exit 1; }
unset TESSARY_SIGN_PKCS12 TESSARY_SIGN_PASSWORD_FILE TESSARY_SIGN_CAFILE TESSARY_SIGN_TIMESTAMP

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$here/release_common.sh"  # ok, bad, status
check() {
  what=$1
  shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}

# --- The certificates ---
cert=$work/cert
mkdir "$cert"
cat >"$cert/ext.cnf" <<'EOF'
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
make_ca() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" -keyout "$cert/$1.key" \
    -out "$cert/$1.pem" -config "$cert/ext.cnf" -extensions ca >"$cert/log" 2>&1
}
make_certs() {
  make_ca ca "Tessary Test CA" && make_ca other "Unrelated Test CA" &&
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=Tessary Test Signer" -keyout "$cert/leaf.key" \
      -out "$cert/leaf.csr" >>"$cert/log" 2>&1 &&
    openssl x509 -req -days 2 -in "$cert/leaf.csr" -CA "$cert/ca.pem" -CAkey "$cert/ca.key" \
      -set_serial 1 -extfile "$cert/ext.cnf" -extensions leaf -out "$cert/leaf.pem" >>"$cert/log" 2>&1 &&
    printf 'not a secret %s\n' "$$" >"$cert/password" &&
    openssl pkcs12 -export -name "Tessary Test Signer" -inkey "$cert/leaf.key" -in "$cert/leaf.pem" \
      -certfile "$cert/ca.pem" -passout "file:$cert/password" -out "$cert/signer.p12" >>"$cert/log" 2>&1 &&
    printf 'something else\n' >"$cert/wrong-password"
}
if ! make_certs; then
  cat "$cert/log"
  echo "FAIL making the test certificates"
  exit 1
fi
ca=$cert/ca.pem
p12=$cert/signer.p12
password=$cert/password

verifies() { osslsigncode verify -CAfile "$2" -in "$1" >"$work/verify.log" 2>&1; }
verifies_sha256() {
  verifies "$1" "$2" && grep -q '^Message digest algorithm *: SHA256' "$work/verify.log"
}
fails_to_verify() { ! verifies "$@"; }
# Fails on the digest, not on a file left unreadable: the change was within the signed content.
digest_mismatch() { ! verifies "$1" "$2" && grep -q 'MISMATCH' "$work/verify.log"; }
unchanged() { cmp -s "$1" "$2" && [ -z "$(find "$(dirname "$1")" -name '*.signing*')" ]; }
# sign.sh with only the variables given: its output in $out, its exit status in $rc.
run_sign() {
  out=$(env "$@" 2>"$work/sign.err")
  rc=$?
}
with_p12=TESSARY_SIGN_PKCS12=$p12
with_password=TESSARY_SIGN_PASSWORD_FILE=$password

# --- Each file, on its own ---
n=0
for file in "$@"; do
  n=$((n + 1))
  name=$(basename "$file")
  dir=$work/$n
  mkdir "$dir"
  if ! cp "$file" "$dir/$name"; then
    bad "$file: cannot be read"
    continue
  fi
  printf '%s\n' "$name" >"$dir/name"
  copy=$dir/$name
  orig=$dir/original
  cp "$copy" "$orig"

  check "$name: the unsigned file does not verify" fails_to_verify "$copy" "$ca"

  run_sign sh "$sign" "$copy"
  check "$name: no variables: exit 0" [ $rc -eq 0 ]
  check "$name: no variables: says 'unsigned: $copy'" [ "$out" = "unsigned: $copy" ]
  check "$name: no variables: file unchanged" unchanged "$copy" "$orig"

  for only in "$with_p12" "$with_password"; do
    var=${only%%=*}
    run_sign "$only" sh "$sign" "$copy"
    check "$name: only $var: fails" [ $rc -ne 0 ]
    check "$name: only $var: says why, in one line naming the variables" \
      eval '[ "$(wc -l <"$work/sign.err")" -eq 1 ] && grep -q "TESSARY_SIGN_PKCS12.*TESSARY_SIGN_PASSWORD_FILE\|TESSARY_SIGN_PASSWORD_FILE.*TESSARY_SIGN_PKCS12" "$work/sign.err"'
    check "$name: only $var: file unchanged" unchanged "$copy" "$orig"
  done

  run_sign "$with_p12" TESSARY_SIGN_PASSWORD_FILE="$cert/wrong-password" sh "$sign" "$copy"
  check "$name: wrong password: fails" [ $rc -ne 0 ]
  check "$name: wrong password: file unchanged, nothing left over" unchanged "$copy" "$orig"

  run_sign "$with_p12" "$with_password" TESSARY_SIGN_CAFILE="$cert/other.pem" sh "$sign" "$copy"
  check "$name: signature not of TESSARY_SIGN_CAFILE's CA: fails" [ $rc -ne 0 ]
  check "$name: signature not of TESSARY_SIGN_CAFILE's CA: file unchanged, nothing left over" \
    unchanged "$copy" "$orig"

  cp "$orig" "$dir/checked"
  run_sign "$with_p12" "$with_password" TESSARY_SIGN_CAFILE="$ca" sh "$sign" "$dir/checked"
  check "$name: signed, checked against TESSARY_SIGN_CAFILE: says so" \
    eval '[ $rc -eq 0 ] && [ "$out" = "signed: $dir/checked (sha256)" ]'
  check "$name: signed, checked against TESSARY_SIGN_CAFILE: verifies" verifies_sha256 "$dir/checked" "$ca"
done

# --- All files at once, as a release signs them ---
set --
i=0
while [ $i -lt $n ]; do
  i=$((i + 1))
  [ -f "$work/$i/name" ] && set -- "$@" "$work/$i/$(cat "$work/$i/name")"
done
if [ $# -gt 0 ]; then
  run_sign "$with_p12" "$with_password" sh "$sign" "$@"
  expected=$(for f in "$@"; do echo "signed: $f (sha256)"; done)
  check "all files: exit 0" [ $rc -eq 0 ]
  [ $rc -eq 0 ] || cat "$work/sign.err"
  check "all files: one 'signed:' line each" [ "$out" = "$expected" ]
  check "all files: nothing left over" [ -z "$(find "$work" -name '*.signing*')" ]
fi

for copy in "$@"; do
  dir=$(dirname "$copy")
  name=$(basename "$copy")
  orig=$dir/original
  check "$name: changed by signing" eval '! cmp -s "$copy" "$orig"'
  check "$name: keeps its mode" [ "$(stat -c %a "$copy")" = "$(stat -c %a "$orig")" ]
  check "$name: verifies against its CA, SHA-256" verifies_sha256 "$copy" "$ca"
  check "$name: does not verify against an unrelated CA" fails_to_verify "$copy" "$cert/other.pem"

  # A byte halfway into the original's length: within what the signature covers, which a PE
  # appends after the image and an MSI keeps in a stream of its own.
  cp "$copy" "$dir/tampered"
  offset=$(($(wc -c <"$orig") / 2))
  byte=$(dd if="$copy" bs=1 skip=$offset count=1 2>/dev/null)
  if [ "$byte" = X ]; then new=Y; else new=X; fi
  printf %s "$new" | dd of="$dir/tampered" bs=1 seek=$offset conv=notrunc 2>/dev/null
  check "$name: a byte changed at $offset" eval '! cmp -s "$dir/tampered" "$copy"'
  check "$name: with a byte changed, does not verify: digest mismatch" digest_mismatch "$dir/tampered" "$ca"
done

# --- A file that is not there ---
run_sign "$with_p12" "$with_password" sh "$sign" "$work/missing.dll"
check "a missing file: fails" [ $rc -ne 0 ]
run_sign sh "$sign" "$work/missing.dll"
check "a missing file, no variables: fails" [ $rc -ne 0 ]

[ $status -eq 0 ] || echo "signing test: FAILED"
exit $status
