#!/usr/bin/env bash
# The release build of the installer: the 32-bit program with the operator's
# servers, key and signer, without test seams, optionally signed, with a
# SHA-256 list of what it produced.
#
#   tools/release.sh [KEY=VALUE ...]      build (make release passes its variables)
#   tools/release.sh check <dist dir>     check built artifacts (also run by the tests)
#
# Settings, from RELEASE_CONFIG (a file of KEY=VALUE lines, # for comments),
# then from the environment and the arguments, which win:
#   CONFIG_HOST, CONFIG_PORT (80)   configuration and download server
#   STAT_HOST, STAT_PORT (80)       statistics server
#   WEBSITE_HOST                    the product's web site
#   CONFIG_KEY                      configuration text key (GUID form)
#   SIGNER_NAME                     the accepted package signer (exact subject name)
#   SIGNER_KEY_SHA256               optional: SHA-256 of accepted signing public keys (;-separated)
#   CHANNEL                         optional: channel identifiers, separated by spaces or commas
#   SIGN_PFX, SIGN_PASSWORD         optional: PKCS#12 file signing the installers, and its password
#   SIGN_CA                         optional: certificate (PEM) the signature is verified against
#   ALLOW_LOOPBACK=1                accept loopback hosts and the development key (trials only)
#   RELEASE_DIR (build/release), JOBS (2)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The key of development builds is public: a release must bring its own.
readonly kDevelopmentKey=5E2C9A71-0B4D-4F38-A6E1-93D07C2B8F45
readonly kSettings="CONFIG_HOST CONFIG_PORT STAT_HOST STAT_PORT WEBSITE_HOST CONFIG_KEY
  SIGNER_NAME SIGNER_KEY_SHA256 CHANNEL SIGN_PFX SIGN_PASSWORD SIGN_CA ALLOW_LOOPBACK
  RELEASE_DIR JOBS"

fail() {
  echo "release: $*" >&2
  exit 1
}

is_setting() {
  local name
  for name in $kSettings; do [ "$name" = "$1" ] && return 0; done
  return 1
}

# Reads KEY=VALUE lines without running them as shell code.
read_settings_file() {
  local file=$1 line key value
  [ -f "$file" ] || fail "no settings file $file"
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    case "$line" in ''|'#'*) continue ;; esac
    key=${line%%=*}
    value=${line#*=}
    key=${key//[[:space:]]/}
    value=${value#"${value%%[![:space:]]*}"}
    value=${value%"${value##*[![:space:]]}"}
    is_setting "$key" || fail "$file: unknown setting '$key'"
    # The environment and the arguments win over the file.
    if [ -z "${!key+x}" ]; then printf -v "$key" '%s' "$value"; fi
  done <"$file"
}

is_loopback() {
  case "$1" in
    ''|localhost|localhost.|0.0.0.0|::1|'[::1]'|127.*) return 0 ;;
  esac
  return 1
}

# Both spellings the program may hold a name in: bytes and UTF-16.
contains_text() {
  python3 - "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
text = sys.argv[2]
sys.exit(0 if text.encode() in data or text.encode("utf-16-le") in data else 1)
PY
}

is_pe32() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
ok = data[:2] == b"MZ"
if ok:
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    ok = data[pe:pe + 4] == b"PE\0\0" and struct.unpack_from("<H", data, pe + 4)[0] == 0x14C
sys.exit(0 if ok else 1)
PY
}

# Every installer of a release: a 32-bit program without test seams, listed
# with its SHA-256, signed when a signature was asked for.
check_artifacts() {
  local dist=$1 exe found=0
  [ -f "$dist/SHA256SUMS" ] || fail "$dist: no SHA256SUMS"
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "$dist: SHA256SUMS does not match"
  for exe in "$dist"/*.exe; do
    [ -f "$exe" ] || continue
    found=1
    is_pe32 "$exe" || fail "$exe is not a 32-bit Windows program"
    if contains_text "$exe" ZETORA_TEST_; then fail "$exe honours test settings (ZETORA_TEST_)"; fi
    grep -q " $(basename "$exe")\$" "$dist/SHA256SUMS" || fail "$exe is not in SHA256SUMS"
    if [ -f "$dist/.signed" ]; then
      osslsigncode verify -in "$exe" ${SIGN_CA:+-CAfile "$SIGN_CA"} >/dev/null 2>&1 ||
        fail "$exe: signature does not verify"
    fi
  done
  [ "$found" = 1 ] || fail "$dist: no installer"
  echo "release: $dist checked: 32-bit, no test seams, sums match${SIGN_PFX:+, signed}"
}

sign_installer() {
  local exe=$1 unsigned="$1.unsigned"
  mv "$exe" "$unsigned"
  osslsigncode sign -pkcs12 "$SIGN_PFX" -pass "${SIGN_PASSWORD:-}" -h sha256 \
    -n "Zetora browser installer" -i "https://$WEBSITE_HOST/" \
    -in "$unsigned" -out "$exe" >/dev/null || fail "signing $exe failed"
  rm -f "$unsigned"
  # A signature that does not verify is worse than none: stop here.
  osslsigncode verify -in "$exe" ${SIGN_CA:+-CAfile "$SIGN_CA"} >/dev/null 2>&1 ||
    fail "$exe: the signature just made does not verify"
}

if [ "${1:-}" = check ]; then
  [ $# = 2 ] || fail "usage: tools/release.sh check <dist dir>"
  if [ -f "$2/.signed" ] && [ -f "$2/.ca" ]; then SIGN_CA=$(cat "$2/.ca"); fi
  check_artifacts "$2"
  exit 0
fi

for argument in "$@"; do
  key=${argument%%=*}
  is_setting "$key" || fail "unknown setting '$key'"
  printf -v "$key" '%s' "${argument#*=}"
done
if [ -n "${RELEASE_CONFIG:-}" ]; then read_settings_file "$RELEASE_CONFIG"; fi

CONFIG_PORT=${CONFIG_PORT:-80}
STAT_PORT=${STAT_PORT:-80}
RELEASE_DIR=${RELEASE_DIR:-build/release}
JOBS=${JOBS:-2}
ALLOW_LOOPBACK=${ALLOW_LOOPBACK:-0}

for name in CONFIG_HOST STAT_HOST WEBSITE_HOST CONFIG_KEY SIGNER_NAME; do
  [ -n "${!name:-}" ] || fail "$name is not set (see the README's release section)"
done
hex4='[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]'
# shellcheck disable=SC2053
[[ "$CONFIG_KEY" == $hex4$hex4-$hex4-$hex4-$hex4-$hex4$hex4$hex4 ]] ||
  fail "CONFIG_KEY must be 36 characters in GUID form"
if [ "$ALLOW_LOOPBACK" != 1 ]; then
  for name in CONFIG_HOST STAT_HOST WEBSITE_HOST; do
    if is_loopback "${!name}"; then
      fail "$name=${!name} is a loopback address: users' installers would reach nothing (ALLOW_LOOPBACK=1 for a trial)"
    fi
  done
  [ "$CONFIG_KEY" != "$kDevelopmentKey" ] ||
    fail "CONFIG_KEY is the public development key (ALLOW_LOOPBACK=1 for a trial)"
fi
if [ -n "${SIGN_PFX:-}" ]; then
  [ -f "$SIGN_PFX" ] || fail "no signing file $SIGN_PFX"
  SIGN_PFX=$(cd "$(dirname "$SIGN_PFX")" && pwd)/$(basename "$SIGN_PFX")
fi
if [ -n "${SIGN_CA:-}" ]; then SIGN_CA=$(cd "$(dirname "$SIGN_CA")" && pwd)/$(basename "$SIGN_CA"); fi

channels=()
channel_list=${CHANNEL:-}
for channel in ${channel_list//,/ }; do
  [[ "$channel" =~ ^[A-Za-z0-9_.-]+$ ]] ||
    fail "channel '$channel': make release takes letters, digits, '_', '.' and '-' (other identifiers: see Channel builds in the README)"
  channels+=("$channel")
done
[ ${#channels[@]} -gt 0 ] || channels=("")

cd "$root"
dist=$RELEASE_DIR/dist
rm -rf "$dist"
mkdir -p "$dist"
# One build folder for every channel: a channel changes only the embedded
# resource, so each further channel costs a resource compile and a link.
for channel in "${channels[@]}"; do
  cmake -S . -B "$RELEASE_DIR" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZETORA_TEST_SEAMS=OFF -DZETORA_RELEASE=ON \
    -DZETORA_CONFIG_HOST="$CONFIG_HOST" -DZETORA_CONFIG_PORT="$CONFIG_PORT" \
    -DZETORA_STAT_HOST="$STAT_HOST" -DZETORA_STAT_PORT="$STAT_PORT" \
    -DZETORA_WEBSITE_HOST="$WEBSITE_HOST" -DZETORA_CONFIG_KEY="$CONFIG_KEY" \
    -DZETORA_SIGNER_NAME="$SIGNER_NAME" -DZETORA_SIGNER_KEY_SHA256="${SIGNER_KEY_SHA256:-}" \
    -DZETORA_CHANNEL="$channel" >"$RELEASE_DIR.configure.log" 2>&1 ||
    { cat "$RELEASE_DIR.configure.log" >&2; fail "configuring $RELEASE_DIR failed"; }
  cmake --build "$RELEASE_DIR" --target ZetoraWebInstaller -j"$JOBS"
  out=$dist/ZetoraWebInstaller${channel:+_$channel}.exe
  cp "$RELEASE_DIR/ZetoraWebInstaller.exe" "$out"
  if contains_text "$out" ZETORA_TEST_; then fail "$out honours test settings (ZETORA_TEST_)"; fi
  if [ -n "${SIGN_PFX:-}" ]; then sign_installer "$out"; fi
  echo "release: $out (${channel:-no channel}), $(stat -c %s "$out") bytes"
done
if [ -n "${SIGN_PFX:-}" ]; then
  touch "$dist/.signed"
  if [ -n "${SIGN_CA:-}" ]; then echo "$SIGN_CA" >"$dist/.ca"; fi
fi
(cd "$dist" && sha256sum ./*.exe | sed 's| \./| |' >SHA256SUMS)
check_artifacts "$dist"
