#!/bin/sh
# tools/sign.sh with a throwaway root and code-signing certificate made here:
# the three binaries and the package signed and verified against that root;
# a byte changed in the signed DLL, a row changed in the signed package and
# another root each make verification fail. With KVCA_TRUST_CHECK (the
# program trust_check.exe), KVCA_WINE and KVCA_WINE_PRISTINE set, Wine's
# WinVerifyTrust is asked too, in a prefix of its own that trusts the root.
# Prints one line per check and exits 1 when one fails.
# usage: signing.sh SOURCE_DIR FILE...
set -eu
source_dir=$1; shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failed=0
check() {  # check EXPECTED LABEL COMMAND...: EXPECTED is "passes" or "fails"
  expected=$1 label=$2; shift 2
  if "$@" >log 2>&1; then got=passes; else got=fails; fi
  if [ "$got" = "$expected" ]; then echo "ok: $label $got"; else
    echo "FAILED: $label $got, expected to be $expected"; cat log; failed=1; fi
}

root() {  # root NAME: a self-signed certificate authority
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 \
          -subj "/CN=kvca test root $1" -addext basicConstraints=critical,CA:true \
          -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
root root
root other
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=kvca test signer" 2>/dev/null
printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 \
        -extfile signer.ext -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem \
        -passout pass:throwaway -out signer.p12

mkdir files
unsigned=""
for file in "$@"; do
  cp "$file" files/
  case $file in */kvca.dll) unsigned=$file ;; esac
done
check passes "tools/sign.sh" env KVCA_SIGN_PKCS12=signer.p12 KVCA_SIGN_PASSWORD=throwaway \
      KVCA_SIGN_CAFILE=root.pem sh "$source_dir/tools/sign.sh" files/*
check fails "tools/sign.sh with a wrong password" env KVCA_SIGN_PKCS12=signer.p12 KVCA_SIGN_PASSWORD=wrong \
      sh "$source_dir/tools/sign.sh" files/kvca.dll
for file in files/*; do
  check passes "verify $(basename "$file")" osslsigncode verify -CAfile root.pem -in "$file"
done
check fails "verify kvca.dll against another root" osslsigncode verify -CAfile other.pem -in files/kvca.dll

# One byte of the DLL's code, past the headers, changed after signing.
cp files/kvca.dll changed.dll
printf '\125' | dd of=changed.dll bs=1 seek=2048 conv=notrunc 2>/dev/null
cmp -s files/kvca.dll changed.dll && { echo "FAILED: the byte is already 0x55"; failed=1; }
check fails "verify kvca.dll with one byte changed" osslsigncode verify -CAfile root.pem -in changed.dll
for package in files/*.msi; do
  cp "$package" changed.msi
  msibuild changed.msi -q "UPDATE \`Property\` SET \`Value\` = '2' WHERE \`Property\` = 'KCLEVEL'"
  check fails "verify $(basename "$package") with one property changed" \
        osslsigncode verify -CAfile root.pem -in changed.msi
done

# Wine's WinVerifyTrust: the signed DLL trusted, the changed one refused for
# its digest (TRUST_E_BAD_DIGEST), the unsigned one for lacking a signature
# (TRUST_E_NOSIGNATURE).
if [ -n "${KVCA_TRUST_CHECK:-}" ]; then
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all
  sh "$source_dir/tests/support/fresh-prefix.sh" "$KVCA_WINE" "$KVCA_WINE_PRISTINE" "$WINEPREFIX"
  openssl x509 -in root.pem -outform DER -out root.cer
  for file in files/kvca.dll changed.dll; do cp "$file" "$WINEPREFIX/drive_c/"; done
  cp "$unsigned" "$WINEPREFIX/drive_c/unsigned.dll"
  "$KVCA_WINE" "$KVCA_TRUST_CHECK" "Z:$work/root.cer" 'C:\kvca.dll' 'C:\changed.dll' 'C:\unsigned.dll' \
      2>/dev/null | tr -d '\r' > trust.txt || true
  "$(dirname "$KVCA_WINE")/wineserver" -k 2>/dev/null || true
  printf 'kvca.dll: 0x00000000\nchanged.dll: 0x80096010\nunsigned.dll: 0x800b0100\n' > trust.expected
  if cmp -s trust.expected trust.txt; then echo "ok: WinVerifyTrust under Wine"; else
    echo "FAILED: WinVerifyTrust under Wine answered:"; cat trust.txt; failed=1; fi
fi
exit $failed
