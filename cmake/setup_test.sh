#!/usr/bin/env bash
# Runs cmake/setup.sh against a stub apt: package lists that fail to download
# are fetched again and do not stop the install, a failed install does, and
# the i386 Wine packages are asked for only where 32-bit programs run.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
stubs=$scratch/bin
mkdir -p "$stubs"

# apt-get: "update" fails while $scratch/update-failures has lines left;
# "install" fails when $scratch/install-fails exists. Every call is logged.
cat >"$stubs/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB_LOG"
case "$1" in
  update)
    if [ -s "$STUB_DIR/update-failures" ]; then
      sed -i 1d "$STUB_DIR/update-failures"; exit 100
    fi ;;
  install) [ -e "$STUB_DIR/install-fails" ] && exit 100 ;;
esac
exit 0
STUB
# Nothing is installed; no foreign architecture is configured.
printf '#!/bin/sh\nexit 1\n' >"$stubs/dpkg-query"
printf '#!/bin/sh\necho "dpkg $*" >>"$STUB_LOG"\n' >"$stubs/dpkg"
printf '#!/bin/sh\nexec "$@"\n' >"$stubs/sudo"
chmod +x "$stubs"/*

failures=0
# name | update failures | install fails | arch | expected exit | log must match | log must not match
cases=(
  "lists on the second try|1|no|win64|0|apt-get install .*wine64|wine32"
  "every try fails, install goes on|3|no|win64|0|apt-get install|dpkg --add-architecture"
  "install fails|0|yes|win64|1|apt-get install|NONE"
  "32-bit machine|0|no|win32|0|wine32:i386|NONE"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name update_failures install_fails arch want_rc want_match want_absent <<<"$c"
  rm -f "$scratch"/log "$scratch"/update-failures "$scratch"/install-fails "$scratch"/sources
  for _ in $(seq 1 "$update_failures"); do echo x >>"$scratch/update-failures"; done
  [ "$install_fails" = yes ] && touch "$scratch/install-fails"
  PATH="$stubs:$PATH" STUB_LOG="$scratch/log" STUB_DIR="$scratch" \
    ZETORA_APT_PAUSE=0 ZETORA_APT_SOURCES="$scratch/sources" ZETORA_WIN_ARCH="$arch" \
    bash "$here/setup.sh" >"$scratch/out" 2>&1
  rc=$?
  updates=$(grep -c '^apt-get update' "$scratch/log")
  want_updates=$((update_failures < 3 ? update_failures + 1 : 3))
  if [ "$rc" != "$want_rc" ] || [ "$updates" != "$want_updates" ] ||
     ! grep -q -- "$want_match" "$scratch/log" || grep -q -- "$want_absent" "$scratch/log"; then
    echo "FAIL: $name (exit $rc, $updates updates)"; cat "$scratch/log" "$scratch/out"
    failures=$((failures + 1))
  else
    echo "ok: $name"
  fi
done
exit "$failures"
