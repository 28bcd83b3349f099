#!/usr/bin/env bash
# The release build as an operator makes it, with example settings and a
# signing certificate of the build's own test authority: what make test
# checks (no test seams, the signature, the sums) and measures (the size).
#   tools/release_check.sh <folder>
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$1
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
pki=$dir/pki
bash "$root/cmake/sign-variants.sh" pki "$pki"
if [ ! -f "$pki/maker.pfx" ]; then
  openssl pkcs12 -export -inkey "$pki/maker.key.pem" -in "$pki/maker.pem" -certfile "$pki/ca.pem" \
    -passout pass:release-check -out "$pki/maker.pfx"
fi
exec bash "$root/tools/release.sh" RELEASE_DIR="$dir" JOBS="${JOBS:-2}" \
  CONFIG_HOST=dl.example.com STAT_HOST=stat.example.com WEBSITE_HOST=www.example.com \
  CONFIG_KEY=0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0 SIGNER_NAME="Vexlo Test Software Ltd" \
  SIGN_PFX="$pki/maker.pfx" SIGN_PASSWORD=release-check SIGN_CA="$pki/ca.pem"
