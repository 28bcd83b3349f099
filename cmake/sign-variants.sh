#!/usr/bin/env bash
# Test signing of Windows programs, run by the build (cmake/Signing.cmake).
#
#   sign-variants.sh pki <dir>
#     Makes, once per build tree, a test certificate authority and these
#     code-signing certificates in <dir>: a leaf of the maker, a leaf of
#     another company, a leaf of a company whose name only begins like the
#     maker's ("Vexlon Trading Ltd"), and a second leaf of the maker that the
#     authority has revoked, all issued by the test authority, and a
#     self-signed certificate carrying the maker's name. The revoked leaf
#     names the authority's revocation list (ca.crl in <dir>) by a file URL.
#     maker.key.sha256 holds the SHA-256 of the maker leaf's public key, as an
#     operator pins it. Nothing here is ever committed.
#
#   sign-variants.sh sign <pki dir> <exe> <output dir> <base>
#     Writes <base>.exe (signed by the maker's leaf), <base>_unsigned.exe,
#     <base>_othercompany.exe, <base>_selfsigned.exe, <base>_altered.exe
#     (signed by the maker's leaf, then one byte of its code changed) and
#     <base>_update.exe (signed by the maker's leaf with a longer program
#     description: a valid package whose bytes and length differ, as a new
#     build published at the same address).
set -euo pipefail

make_pki() {
  local dir=$1
  if [ -f "$dir/ready" ]; then return 0; fi
  mkdir -p "$dir"
  cd "$dir"
  rm -f ./*.pem ./*.der ./*.srl ./*.cnf ./*.log ./*.crl ./index.txt* ./crlnumber*
  # The revocation list as Windows reaches it: a file URL on the drive that
  # maps the host's root (Z: in the test prefixes).
  local crl_url="file:///Z:$(pwd)/ca.crl"
  cat > ext.cnf <<CNF
[req]
distinguished_name = dn
[dn]
[test_ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[test_leaf]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[test_leaf_crl]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:$crl_url
[ca]
default_ca = test_ca_db
[test_ca_db]
database = index.txt
crlnumber = crlnumber
certificate = ca.pem
private_key = ca.key.pem
default_md = sha256
default_crl_days = 3650
CNF
  local days=3650
  # openssl talks on both streams; show it only when a step fails.
  quiet() { "$@" >>openssl.log 2>&1 || { cat openssl.log >&2; return 1; }; }
  quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" \
    -subj "/O=Zetora Test Authority/CN=Zetora Test Root CA" \
    -keyout ca.key.pem -out ca.pem -extensions test_ca -config ext.cnf
  openssl x509 -in ca.pem -outform DER -out ca.der
  leaf() {  # name subject [extensions]
    quiet openssl req -newkey rsa:2048 -nodes -sha256 -subj "$2" -keyout "$1.key.pem" -out "$1.csr.pem"
    quiet openssl x509 -req -in "$1.csr.pem" -CA ca.pem -CAkey ca.key.pem -CAcreateserial -sha256 \
      -days "$days" -extfile ext.cnf -extensions "${3:-test_leaf}" -out "$1.pem"
  }
  leaf maker "/O=Vexlo Test Software Ltd/CN=Vexlo Test Software Ltd"
  leaf other "/O=Northwind Tools Ltd/CN=Northwind Tools Ltd"
  leaf lookalike "/O=Vexlon Trading Ltd/CN=Vexlon Trading Ltd"
  leaf revoked "/O=Vexlo Test Software Ltd/CN=Vexlo Test Software Ltd" test_leaf_crl
  touch index.txt
  echo 01 > crlnumber
  quiet openssl ca -config ext.cnf -revoke revoked.pem -crl_reason keyCompromise
  quiet openssl ca -config ext.cnf -gencrl -crlhours 87600 -out ca.crl.pem
  openssl crl -in ca.crl.pem -outform DER -out ca.crl
  openssl x509 -in maker.pem -pubkey -noout | openssl pkey -pubin -outform DER | sha256sum | cut -d' ' -f1 > maker.key.sha256
  quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" \
    -subj "/O=Vexlo Test Software Ltd/CN=Vexlo Test Software Ltd" \
    -keyout self.key.pem -out self.pem -extensions test_leaf -config ext.cnf
  # A leaf of the authority travels with the authority's certificate, as a
  # real signature carries its chain; the self-signed one stands alone.
  cat maker.pem ca.pem > maker.chain.pem
  cat other.pem ca.pem > other.chain.pem
  cat lookalike.pem ca.pem > lookalike.chain.pem
  cat revoked.pem ca.pem > revoked.chain.pem
  cp self.pem self.chain.pem
  touch ready
}

sign() {  # pki dir, certificate name, input, output[, program description]
  local pki=$1 name=$2 in=$3 out=$4 description=${5:-Zetora test program}
  rm -f "$out"
  osslsigncode sign -certs "$pki/$name.chain.pem" -key "$pki/$name.key.pem" -h sha256 \
    -n "$description" -in "$in" -out "$out" >/dev/null
}

# Flips every bit of one byte inside the first section (the code) of a PE file.
alter_code_byte() {
  local file=$1
  u() { od -An -t"u$2" -j"$1" -N"$2" "$file" | tr -d ' '; }
  local pe; pe=$(u 60 4)
  local optional; optional=$(u $((pe + 20)) 2)
  local section=$((pe + 24 + optional))
  local raw; raw=$(u $((section + 20)) 4)
  local at=$((raw + 64))
  local byte; byte=$(u "$at" 1)
  printf "$(printf '\\%03o' $((byte ^ 0xFF)))" | dd of="$file" bs=1 seek="$at" conv=notrunc status=none
}

case "${1:-}" in
  pki) make_pki "$2" ;;
  sign)
    pki=$2 exe=$3 out=$4 base=$5
    mkdir -p "$out"
    cp "$exe" "$out/${base}_unsigned.exe"
    sign "$pki" maker "$exe" "$out/$base.exe"
    sign "$pki" other "$exe" "$out/${base}_othercompany.exe"
    sign "$pki" lookalike "$exe" "$out/${base}_lookalike.exe"
    sign "$pki" revoked "$exe" "$out/${base}_revoked.exe"
    sign "$pki" self "$exe" "$out/${base}_selfsigned.exe"
    sign "$pki" maker "$exe" "$out/${base}_altered.exe"
    alter_code_byte "$out/${base}_altered.exe"
    sign "$pki" maker "$exe" "$out/${base}_update.exe" "Zetora test program, a later build"
    ;;
  *) echo "usage: $0 pki <dir> | sign <pki dir> <exe> <output dir> <base>" >&2; exit 2 ;;
esac
